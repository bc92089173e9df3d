#include "controls/inspect/InspectWindows.h"

#include <memory>

#include "controls/inspect/DlgPelorinCompare.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "controls/inspect/DlgPelorinView.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/PacketWindowRequest.h"

namespace {

template <class T>
Window* Open(const PacketWindowRequest& request) {
  auto window = std::make_unique<T>(request.list, request.app, request.registryPath, request.list, request.logFile,
                                    request.logLock, request.navigation);
  if (!window->IsCreated()) return nullptr;
  window->OnInitStartup();
  return window.release();
}

}  // namespace

Window* OpenInspectWindow(const PacketWindowRequest& request) {
  switch (request.kind) {
    case PacketWindowKind::PacketView:
      return Open<DlgPelorinIpView>(request);
    case PacketWindowKind::Feed:
      return Open<DlgPelorinView>(request);
    case PacketWindowKind::Compare:
      return Open<DlgPelorinCompare>(request);
    case PacketWindowKind::CompareAdd:
      if (auto* compare = dynamic_cast<DlgPelorinCompare*>(request.compare)) {
        compare->InvalidateCache();
        compare->OnClickDisplay(PacketFormat::kLinkHeader);
      }
      return nullptr;
    default:
      return nullptr;
  }
}

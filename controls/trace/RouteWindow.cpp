#include "controls/trace/RouteWindow.h"

#include "common/AddressText.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/PacketWindowRequest.h"
#include "controls/trace/DlgPelorinTrace.h"

Window* OpenRouteWindow(const PacketWindowRequest& request) {
  _MonListMonItemDataIp address{};
  const bool hasAddress = !request.traceTarget.empty();
  if (hasAddress) address.localAddr = InetAddr(request.traceTarget.c_str());
  auto* window = new DlgPelorinTrace(request.list, request.app, hasAddress ? &address : nullptr, request.traceFlag);
  if (!window->IsCreated()) {
    delete window;
    return nullptr;
  }
  return window;
}

#include "controls/trace/RouteWindow.h"

#include "common/AddressText.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/PacketWindowRequest.h"
#include "controls/trace/DlgPelorinTrace.h"

Window* OpenRouteWindow(const PacketWindowRequest& request) {
  _MonListMonItemDataIp address{};
  const bool hasAddress = !request.traceTarget.empty();
  std::uint8_t address6[16];
  const bool ipv6 = hasAddress && Inet6Pton(request.traceTarget.c_str(), address6);
  if (hasAddress && !ipv6) address.localAddr = InetAddr(request.traceTarget.c_str());
  auto* window = new DlgPelorinTrace(request.list, request.app, hasAddress && !ipv6 ? &address : nullptr,
                                     request.traceFlag, ipv6 ? Inet6Ntop(address6) : std::string());
  if (!window->IsCreated()) {
    delete window;
    return nullptr;
  }
  return window;
}

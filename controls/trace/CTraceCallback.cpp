#include "controls/trace/CTraceCallback.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "controls/trace/TraceRouteList.h"
#include "platform/NameLookup.h"

BOOL CTraceCallback::OnEcho(int, const TraceEchoResult&) { return 1; }

BOOL CTraceCallback::OnHop(int hop, const _TraceHopResult& result) {
  const TraceAddress address = TraceAddress::OfHop(result);
  const std::string hostName = result.status == 0 ? ReverseLookup(address, &m_cancel) : std::string();
  if (m_routeList) m_routeList->AddPoint(HopLine(hop, result, hostName), hop, address.Text(), hostName);
  return 1;
}

void CTraceCallback::OnMaxHops(int) {
  if (m_routeList) m_routeList->AddStatusLine(kMaxHopsLine);
}

std::string CTraceCallback::HopLine(int hop, const _TraceHopResult& result, const std::string& hostName) {
  const std::string address = TraceAddress::OfHop(result).Text();
  char line[600];
  if (result.status != 0) {
    std::snprintf(line, sizeof line, "**  %d - **Host unreachable or blocked :%d", hop, static_cast<int>(result.status));
  } else if (!hostName.empty()) {
    std::snprintf(line, sizeof line, "%d - %d ms %.300s [%s]", hop, static_cast<int>(result.maxRtt), hostName.c_str(),
                  address.c_str());
  } else {
    std::snprintf(line, sizeof line, "%d - %d ms %s", hop, static_cast<int>(result.maxRtt), address.c_str());
  }
  return line;
}

std::string CTraceCallback::ReverseLookup(const TraceAddress& address, const EventSignal* cancel) {
  if (address.IsV6()) {
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6;
    std::memcpy(&from.sin6_addr, address.bytes.data(), address.bytes.size());
    from.sin6_scope_id = address.scopeId;
    return NameLookup(cancel).HostName(reinterpret_cast<const sockaddr*>(&from), sizeof from);
  }
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = address.V4();
  return NameLookup(cancel).HostName(reinterpret_cast<const sockaddr*>(&from), sizeof from);
}

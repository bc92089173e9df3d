#include "controls/trace/CTraceCallback.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "common/AddressText.h"
#include "controls/trace/TraceRouteList.h"
#include "platform/NameLookup.h"

BOOL CTraceCallback::OnEcho(int, const TraceEchoResult&) { return 1; }

BOOL CTraceCallback::OnHop(int hop, const _TraceHopResult& result) {
  const std::string hostName = result.status == 0 ? ReverseLookup(result.address, &m_cancel) : std::string();
  if (m_routeList) m_routeList->AddPoint(HopLine(hop, result, hostName), hop, InetNtoa(result.address), hostName);
  return 1;
}

void CTraceCallback::OnMaxHops(int) {
  if (m_routeList) m_routeList->AddStatusLine(kMaxHopsLine);
}

std::string CTraceCallback::HopLine(int hop, const _TraceHopResult& result, const std::string& hostName) {
  char line[600];
  if (result.status != 0) {
    std::snprintf(line, sizeof line, "**  %d - **Host unreachable or blocked :%d", hop, static_cast<int>(result.status));
  } else if (!hostName.empty()) {
    std::snprintf(line, sizeof line, "%d - %d ms %.300s [%s]", hop, static_cast<int>(result.maxRtt), hostName.c_str(),
                  InetNtoa(result.address).c_str());
  } else {
    std::snprintf(line, sizeof line, "%d - %d ms %s", hop, static_cast<int>(result.maxRtt),
                  InetNtoa(result.address).c_str());
  }
  return line;
}

std::string CTraceCallback::ReverseLookup(DWORD address, const EventSignal* cancel) {
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = address;
  return NameLookup(cancel).HostName(reinterpret_cast<const sockaddr*>(&from), sizeof from);
}

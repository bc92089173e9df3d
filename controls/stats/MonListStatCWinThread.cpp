#include "controls/stats/MonListStatCWinThread.h"

#include <netinet/icmp6.h>
#include <sys/socket.h>

#include <array>

MonListStatCWinThread::MonListStatCWinThread(PelorinCListView* list)
    : PelorinCThreadStatBase(list, {"TCP", "UDP", "ICMP", "UDPv6", "ICMPv6"}) {}

MonListStatCWinThread::~MonListStatCWinThread() { EndThread(); }

void MonListStatCWinThread::LookUp(HMODULE library) {
  m_getTcpStatistics = reinterpret_cast<PGetTcpStatistics>(GetProcAddress(library, "GetTcpStatistics"));
  m_getUdpStatistics = reinterpret_cast<PGetUdpStatistics>(GetProcAddress(library, "GetUdpStatistics"));
  m_getIcmpStatistics = reinterpret_cast<PGetIcmpStatistics>(GetProcAddress(library, "GetIcmpStatistics"));
  m_getUdpStatisticsEx = reinterpret_cast<PGetUdpStatisticsEx>(GetProcAddress(library, "GetUdpStatisticsEx"));
  m_getIcmpStatisticsEx = reinterpret_cast<PGetIcmpStatisticsEx>(GetProcAddress(library, "GetIcmpStatisticsEx"));
}

void MonListStatCWinThread::ScanRows() {
  if (m_getTcpStatistics && !IsClose()) {
    Fetch(m_tcpStats, m_getTcpStatistics);
    SetTcpStats(m_tcpStats);
  }
  if (m_getUdpStatistics && !IsClose()) {
    Fetch(m_udpStats, m_getUdpStatistics);
    SetUdpStats(m_udpStats);
  }
  if (m_getIcmpStatistics && !IsClose()) {
    Fetch(m_icmpStats, m_getIcmpStatistics);
    SetIcmpStats(m_icmpStats);
  }
  // A machine without IPv6 has no IPv6 rows; any other failure shows zeros as above.
  if (m_getUdpStatisticsEx && !IsClose() &&
      Fetch(m_udp6Stats, m_getUdpStatisticsEx, AF_INET6) != ERROR_NOT_SUPPORTED)
    SetUdp6Stats(m_udp6Stats);
  if (m_getIcmpStatisticsEx && !IsClose() &&
      Fetch(m_icmp6Stats, m_getIcmpStatisticsEx, AF_INET6) != ERROR_NOT_SUPPORTED)
    SetIcmp6Stats(m_icmp6Stats);
}

// Sub-items: 1 "Est.Connects", 2 "Connects", 3 "Receive", 4 "Send", 5 "ReSend", 6 "Err",
// 7 "Out Rsts", 8 "Active Op.", 9 "Passive Op.", 10 "Failed Op.".

void MonListStatCWinThread::SetTcpStats(const MIB_TCPSTATS& s) {
  const StatCell cells[] = {{1, s.dwCurrEstab},  {2, s.dwNumConns},     {3, s.dwInSegs},
                            {4, s.dwOutSegs},    {5, s.dwRetransSegs},  {6, s.dwInErrs},
                            {7, s.dwOutRsts},    {8, s.dwActiveOpens},  {9, s.dwPassiveOpens},
                            {10, s.dwAttemptFails}};
  WriteRow(kTcpRow, cells);
}

namespace {

// The TCP-only columns stay empty.
std::array<StatCell, 4> UdpCells(const MIB_UDPSTATS& s) {
  return {{{2, s.dwNumAddrs}, {3, s.dwInDatagrams}, {4, s.dwOutDatagrams}, {6, s.dwInErrors}}};
}

}  // namespace

void MonListStatCWinThread::SetUdpStats(const MIB_UDPSTATS& s) { WriteRow(kUdpRow, UdpCells(s)); }

void MonListStatCWinThread::SetUdp6Stats(const MIB_UDPSTATS& s) { WriteRow(kUdp6Row, UdpCells(s)); }

void MonListStatCWinThread::SetIcmpStats(const MIB_ICMP& s) {
  const MIBICMPSTATS& in = s.stats.icmpInStats;
  const MIBICMPSTATS& out = s.stats.icmpOutStats;
  // Echo requests received, echo replies received, echo requests sent; errors both ways (the
  // sum wraps at 32 bits as the counters do).
  const StatCell cells[] = {{2, in.dwEchos}, {3, in.dwEchoReps}, {4, out.dwEchos}, {6, in.dwErrors + out.dwErrors}};
  WriteRow(kIcmpRow, cells);
}

void MonListStatCWinThread::SetIcmp6Stats(const MIB_ICMP_EX& s) {
  const MIBICMPSTATS_EX& in = s.icmpInStats;
  const MIBICMPSTATS_EX& out = s.icmpOutStats;
  // The same cells as the ICMP row, from the counters of the ICMPv6 echo types.
  const StatCell cells[] = {{2, in.rgdwTypeCount[ICMP6_ECHO_REQUEST]},
                            {3, in.rgdwTypeCount[ICMP6_ECHO_REPLY]},
                            {4, out.rgdwTypeCount[ICMP6_ECHO_REQUEST]},
                            {6, in.dwErrors + out.dwErrors}};
  WriteRow(kIcmp6Row, cells);
}

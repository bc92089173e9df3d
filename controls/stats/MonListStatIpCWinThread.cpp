#include "controls/stats/MonListStatIpCWinThread.h"

#include <sys/socket.h>

MonListStatIpCWinThread::MonListStatIpCWinThread(PelorinCListView* list)
    : PelorinCThreadStatBase(list, {"IP", "IPv6"}) {}

MonListStatIpCWinThread::~MonListStatIpCWinThread() { EndThread(); }

void MonListStatIpCWinThread::LookUp(HMODULE library) {
  m_getIpStatistics = reinterpret_cast<PGetIpStatistics>(GetProcAddress(library, "GetIpStatistics"));
  m_getIpStatisticsEx = reinterpret_cast<PGetIpStatisticsEx>(GetProcAddress(library, "GetIpStatisticsEx"));
}

void MonListStatIpCWinThread::ScanRows() {
  if (m_getIpStatistics && !IsClose()) {
    Fetch(m_ipStats, m_getIpStatistics);
    SetIpStats(m_ipStats);
  }
  // A machine without IPv6 has no IPv6 row; any other failure shows zeros.
  if (m_getIpStatisticsEx && !IsClose() && Fetch(m_ip6Stats, m_getIpStatisticsEx, AF_INET6) != ERROR_NOT_SUPPORTED)
    SetIp6Stats(m_ip6Stats);
}

void MonListStatIpCWinThread::WriteIpRow(std::size_t row, const MIB_IPSTATS& s) {
  const StatCell cells[] = {
      {1, s.dwForwarding},      {2, s.dwDefaultTTL},   {3, s.dwInReceives},       {4, s.dwInHdrErrors},
      {5, s.dwInAddrErrors},    {6, s.dwForwDatagrams}, {7, s.dwInUnknownProtos},  {8, s.dwInDiscards},
      {9, s.dwInDelivers},      {10, s.dwOutRequests}, {11, s.dwRoutingDiscards}, {12, s.dwOutDiscards},
      {13, s.dwOutNoRoutes},    {14, s.dwReasmTimeout}, {15, s.dwReasmReqds},      {16, s.dwReasmOks},
      {17, s.dwReasmFails},     {18, s.dwFragOks},     {19, s.dwFragFails},       {20, s.dwFragCreates},
      {21, s.dwNumIf},          {22, s.dwNumAddr},     {23, s.dwNumRoutes}};
  WriteRow(row, cells);
}

#include "controls/stats/MonListStatIpCWinThread.h"

MonListStatIpCWinThread::MonListStatIpCWinThread(PelorinCListView* list) : PelorinCThreadStatBase(list, {"IP"}) {}

MonListStatIpCWinThread::~MonListStatIpCWinThread() { EndThread(); }

void MonListStatIpCWinThread::LookUp(HMODULE library) {
  m_getIpStatistics = reinterpret_cast<PGetIpStatistics>(GetProcAddress(library, "GetIpStatistics"));
}

void MonListStatIpCWinThread::ScanRows() {
  if (!m_getIpStatistics || IsClose()) return;
  // Cleared before the call, and again when it fails: a failure shows zeros.
  m_ipStats = {};
  if (m_getIpStatistics(&m_ipStats) != NO_ERROR) m_ipStats = {};
  SetIpStats(m_ipStats);
}

void MonListStatIpCWinThread::SetIpStats(const MIB_IPSTATS& s) {
  const StatCell cells[] = {
      {1, s.dwForwarding},      {2, s.dwDefaultTTL},   {3, s.dwInReceives},       {4, s.dwInHdrErrors},
      {5, s.dwInAddrErrors},    {6, s.dwForwDatagrams}, {7, s.dwInUnknownProtos},  {8, s.dwInDiscards},
      {9, s.dwInDelivers},      {10, s.dwOutRequests}, {11, s.dwRoutingDiscards}, {12, s.dwOutDiscards},
      {13, s.dwOutNoRoutes},    {14, s.dwReasmTimeout}, {15, s.dwReasmReqds},      {16, s.dwReasmOks},
      {17, s.dwReasmFails},     {18, s.dwFragOks},     {19, s.dwFragFails},       {20, s.dwFragCreates},
      {21, s.dwNumIf},          {22, s.dwNumAddr},     {23, s.dwNumRoutes}};
  WriteRow(kIpRow, cells);
}

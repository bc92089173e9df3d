#include "controls/stats/MonListStatCWinThread.h"

MonListStatCWinThread::MonListStatCWinThread(PelorinCListView* list)
    : PelorinCThreadStatBase(list, {"TCP", "UDP", "ICMP"}) {}

MonListStatCWinThread::~MonListStatCWinThread() { EndThread(); }

void MonListStatCWinThread::LookUp(HMODULE library) {
  m_getTcpStatistics = reinterpret_cast<PGetTcpStatistics>(GetProcAddress(library, "GetTcpStatistics"));
  m_getUdpStatistics = reinterpret_cast<PGetUdpStatistics>(GetProcAddress(library, "GetUdpStatistics"));
  m_getIcmpStatistics = reinterpret_cast<PGetIcmpStatistics>(GetProcAddress(library, "GetIcmpStatistics"));
}

void MonListStatCWinThread::ScanRows() {
  // Each record is cleared before its call, and again when the call fails, so a failure shows
  // zeros whatever the call left in it.
  if (m_getTcpStatistics && !IsClose()) {
    m_tcpStats = {};
    if (m_getTcpStatistics(&m_tcpStats) != NO_ERROR) m_tcpStats = {};
    SetTcpStats(m_tcpStats);
  }
  if (m_getUdpStatistics && !IsClose()) {
    m_udpStats = {};
    if (m_getUdpStatistics(&m_udpStats) != NO_ERROR) m_udpStats = {};
    SetUdpStats(m_udpStats);
  }
  if (m_getIcmpStatistics && !IsClose()) {
    m_icmpStats = {};
    if (m_getIcmpStatistics(&m_icmpStats) != NO_ERROR) m_icmpStats = {};
    SetIcmpStats(m_icmpStats);
  }
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

void MonListStatCWinThread::SetUdpStats(const MIB_UDPSTATS& s) {
  // The TCP-only columns stay empty.
  const StatCell cells[] = {{2, s.dwNumAddrs}, {3, s.dwInDatagrams}, {4, s.dwOutDatagrams}, {6, s.dwInErrors}};
  WriteRow(kUdpRow, cells);
}

void MonListStatCWinThread::SetIcmpStats(const MIB_ICMP& s) {
  const MIBICMPSTATS& in = s.stats.icmpInStats;
  const MIBICMPSTATS& out = s.stats.icmpOutStats;
  // Echo requests received, echo replies received, echo requests sent; errors both ways (the
  // sum wraps at 32 bits as the counters do).
  const StatCell cells[] = {{2, in.dwEchos}, {3, in.dwEchoReps}, {4, out.dwEchos}, {6, in.dwErrors + out.dwErrors}};
  WriteRow(kIcmpRow, cells);
}

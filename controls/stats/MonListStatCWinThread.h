#pragma once
#include "controls/stats/PelorinCThreadStatBase.h"
#include "platform/IpHelper.h"

// The worker of the protocol statistics pane: the TCP, UDP and ICMP rows, in that order, from
// GetTcpStatistics, GetUdpStatistics and GetIcmpStatistics, then the "UDPv6" and "ICMPv6" rows
// from GetUdpStatisticsEx and GetIcmpStatisticsEx for IPv6, which a machine without IPv6 does
// not have. TCP has no IPv6 row: the kernel counts TCP of both families together.
//
// On Linux the records are filled from the kernel's counters; platform/linux/IpHelperStatistics.cpp
// and IpHelperStatisticsEx.cpp name the source of every field. The cells this pane shows come from:
//   TCP  "Est.Connects" Tcp CurrEstab, "Connects" sockstat TCP inuse + tw, "Receive" Tcp InSegs,
//        "Send" Tcp OutSegs, "ReSend" Tcp RetransSegs, "Err" Tcp InErrs, "Out Rsts" Tcp OutRsts,
//        "Active Op." Tcp ActiveOpens, "Passive Op." Tcp PassiveOpens, "Failed Op." Tcp AttemptFails
//   UDP  "Connects" sockstat UDP inuse, "Receive" Udp InDatagrams, "Send" Udp OutDatagrams,
//        "Err" Udp InErrors
//   ICMP "Connects" Icmp InEchos, "Receive" Icmp InEchoReps, "Send" Icmp OutEchos,
//        "Err" Icmp InErrors + OutErrors
//   UDPv6  the UDP cells from sockstat6 UDP6 inuse, Udp6InDatagrams, Udp6OutDatagrams, Udp6InErrors
//   ICMPv6 the ICMP cells from the echo request and reply types, Icmp6InType128, Icmp6InType129,
//          Icmp6OutType128, and Icmp6InErrors + Icmp6OutErrors
// (Tcp, Udp, Icmp: the groups of /proc/net/snmp; sockstat, sockstat6: /proc/net/sockstat and
// sockstat6; the "6" names: /proc/net/snmp6.) Every shown cell has a kernel source.
class MonListStatCWinThread : public PelorinCThreadStatBase {
 public:
  enum RowIndex : std::size_t { kTcpRow = 0, kUdpRow = 1, kIcmpRow = 2, kUdp6Row = 3, kIcmp6Row = 4 };

  explicit MonListStatCWinThread(PelorinCListView* list);
  ~MonListStatCWinThread() override;

  // Write the row of a record (inserting it when it does not exist).
  void SetTcpStats(const MIB_TCPSTATS& stats);
  void SetUdpStats(const MIB_UDPSTATS& stats);
  void SetIcmpStats(const MIB_ICMP& stats);
  void SetUdp6Stats(const MIB_UDPSTATS& stats);
  void SetIcmp6Stats(const MIB_ICMP_EX& stats);
  // Set the row-exists flags: FALSE makes the next write insert the row.
  void SetTcpRow(BOOL exists) { SetRowExists(kTcpRow, exists); }
  void SetUdpRow(BOOL exists) { SetRowExists(kUdpRow, exists); }
  void SetIcmpRow(BOOL exists) { SetRowExists(kIcmpRow, exists); }
  BOOL IsTcpRow() const { return RowExists(kTcpRow); }
  BOOL IsUdpRow() const { return RowExists(kUdpRow); }
  BOOL IsIcmpRow() const { return RowExists(kIcmpRow); }

 protected:
  void LookUp(HMODULE library) override;
  void ScanRows() override;

 private:
  PGetTcpStatistics m_getTcpStatistics = nullptr;
  PGetUdpStatistics m_getUdpStatistics = nullptr;
  PGetIcmpStatistics m_getIcmpStatistics = nullptr;
  PGetUdpStatisticsEx m_getUdpStatisticsEx = nullptr;
  PGetIcmpStatisticsEx m_getIcmpStatisticsEx = nullptr;
  MIB_TCPSTATS m_tcpStats{};
  MIB_UDPSTATS m_udpStats{};
  MIB_ICMP m_icmpStats{};
  MIB_UDPSTATS m_udp6Stats{};
  MIB_ICMP_EX m_icmp6Stats{};
};

#pragma once
#include "controls/stats/PelorinCThreadStatBase.h"
#include "platform/IpHelper.h"

// The worker of the IP statistics pane: the "IP" row from GetIpStatistics and the "IPv6" row
// from GetIpStatisticsEx for IPv6, which a machine without IPv6 does not have.
//
// On Linux the records are filled from the kernel's counters; platform/linux/IpHelperStatistics.cpp
// and IpHelperStatisticsEx.cpp name the source of every field. IP row: sub-items 1-10 and 12-20
// are the like-named counters of the "Ip" group of /proc/net/snmp (ReasmOKs, FragOKs for
// "Reas Ok", "Frag Ok"), except:
//   11 "Rte Discards" (dwRoutingDiscards): the kernel keeps no such count, always 0;
//   14 "Reas T/o" (dwReasmTimeout): the fragment hold time in seconds,
//      /proc/sys/net/ipv4/ipfrag_time (the snmp column of that name counts expiries instead);
//   21 "If", 22 "Addr", 23 "Rte": interfaces, IPv4 addresses and IPv4 routes counted over netlink.
// IPv6 row: sub-items 3-10 and 12-20 are the "Ip6" counters of /proc/net/snmp6 of the same
// names ("Frwd Dgrams" Ip6OutForwDatagrams), except:
//   1 "Frwd": /proc/sys/net/ipv6/conf/all/forwarding; 2 "Ttl": the hop limit,
//      /proc/sys/net/ipv6/conf/all/hop_limit; 14 "Reas T/o": /proc/sys/net/ipv6/ip6frag_time;
//   11 "Rte Discards": no such count, always 0;
//   21 "If": links with IPv6 (/proc/net/dev_snmp6), 22 "Addr": IPv6 addresses
//      (/proc/net/if_inet6), 23 "Rte": IPv6 routes (/proc/net/ipv6_route).
class MonListStatIpCWinThread : public PelorinCThreadStatBase {
 public:
  static constexpr std::size_t kIpRow = 0;
  static constexpr std::size_t kIp6Row = 1;

  explicit MonListStatIpCWinThread(PelorinCListView* list);
  ~MonListStatIpCWinThread() override;

  // Write the row of a record: its 23 counters in declaration order at sub-items 1 to 23.
  void SetIpStats(const MIB_IPSTATS& stats) { WriteIpRow(kIpRow, stats); }
  void SetIp6Stats(const MIB_IPSTATS& stats) { WriteIpRow(kIp6Row, stats); }
  void SetIpRow(BOOL exists) { SetRowExists(kIpRow, exists); }
  BOOL IsIpRow() const { return RowExists(kIpRow); }

 protected:
  void LookUp(HMODULE library) override;
  void ScanRows() override;

 private:
  void WriteIpRow(std::size_t row, const MIB_IPSTATS& stats);

  PGetIpStatistics m_getIpStatistics = nullptr;
  PGetIpStatisticsEx m_getIpStatisticsEx = nullptr;
  MIB_IPSTATS m_ipStats{};
  MIB_IPSTATS m_ip6Stats{};
};

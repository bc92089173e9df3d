#pragma once
#include "controls/stats/PelorinCThreadStatBase.h"
#include "platform/IpHelper.h"

// The worker of the IP statistics pane: the single "IP" row from GetIpStatistics.
//
// On Linux the record is filled from the kernel's counters; platform/linux/IpHelperStatistics.cpp
// names the source of every field. Sub-items 1-10 and 12-20 are the like-named counters of the
// "Ip" group of /proc/net/snmp (ReasmOKs, FragOKs for "Reas Ok", "Frag Ok"), except:
//   11 "Rte Discards" (dwRoutingDiscards): the kernel keeps no such count, always 0;
//   14 "Reas T/o" (dwReasmTimeout): the fragment hold time in seconds,
//      /proc/sys/net/ipv4/ipfrag_time (the snmp column of that name counts expiries instead);
//   21 "If", 22 "Addr", 23 "Rte": interfaces, IPv4 addresses and IPv4 routes counted over netlink.
class MonListStatIpCWinThread : public PelorinCThreadStatBase {
 public:
  static constexpr std::size_t kIpRow = 0;

  explicit MonListStatIpCWinThread(PelorinCListView* list);
  ~MonListStatIpCWinThread() override;

  // Writes the row of a record: its 23 counters in declaration order at sub-items 1 to 23.
  void SetIpStats(const MIB_IPSTATS& stats);
  void SetIpRow(BOOL exists) { SetRowExists(kIpRow, exists); }
  BOOL IsIpRow() const { return RowExists(kIpRow); }

 protected:
  void LookUp(HMODULE library) override;
  void ScanRows() override;

 private:
  PGetIpStatistics m_getIpStatistics = nullptr;
  MIB_IPSTATS m_ipStats{};
};

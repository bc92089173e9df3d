#pragma once
#include "controls/stats/PelorinCThreadStatBase.h"
#include "platform/IpHelper.h"

// The worker of the IP statistics pane: the single "IP" row from GetIpStatistics.
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

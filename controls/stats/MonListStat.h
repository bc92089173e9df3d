#pragma once
#include <memory>
#include <string>

#include "controls/stats/MonListStatBase.h"
#include "controls/stats/MonListStatCWinThread.h"

// The protocol statistics pane: the TCP, UDP and ICMP counters as three rows and, where the
// machine has IPv6, UDP and ICMP over IPv6 as two more, refreshed every "ScanStats" seconds
// (default 10).
class MonListStat : public MonListStatBase {
 public:
  MonListStat(AppProfile* app, std::string caption);
  ~MonListStat() override;

  // Creates the list and its worker (suspended) and inserts the eleven columns. 0, or E_FAIL.
  virtual LONG MonListCreate(Window* parent, UINT id, const Rect& rect);

  MonListStatCWinThread* GetStatsThread() const;

 protected:
  std::unique_ptr<PelorinCThreadStatBase> NewWorker() override;
  const char* CaptionSuffix() const override { return " - Tcp/Udp/Icmp Statistics"; }
};

#pragma once
#include <memory>
#include <string>

#include "controls/stats/MonListStatBase.h"
#include "controls/stats/MonListStatIpCWinThread.h"

// The IP statistics pane: the IP counters as a row of 23 counters after its label, and the same
// for IPv6 where the machine has it, refreshed every "ScanStatsIp" seconds (default 10).
class MonListStatIp : public MonListStatBase {
 public:
  MonListStatIp(AppProfile* app, std::string caption);
  ~MonListStatIp() override;

  // Creates the list and its worker (suspended) and inserts the 24 columns. 0, or E_FAIL.
  virtual LONG MonListCreate(Window* parent, UINT id, const Rect& rect);

  MonListStatIpCWinThread* GetStatsThread() const;

 protected:
  std::unique_ptr<PelorinCThreadStatBase> NewWorker() override;
  const char* CaptionSuffix() const override { return " - Ip Statistics"; }
};

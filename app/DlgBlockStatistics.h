#pragma once
#include <atomic>
#include <future>
#include <optional>

#include "app/BlockStatisticsTable.h"
#include "ui/Dialog.h"

class FirewallConsole;
class ListControl;

// "Blocking Statistics": the engine's block counts per rule and blocked address, asked for at
// once and then every 5 seconds while the window is open, with running totals of incoming and
// outgoing blocks.
//
// A request waits up to about 9 seconds for an engine that does not answer, so it is made on a
// worker thread and its reply taken up when it has come: the window keeps painting and closes at
// once whatever the engine does.
class DlgBlockStatistics : public Dialog {
 public:
  static constexpr int IDD = 136;
  static constexpr int IDC_LIST_STATISTICS = 1360;
  static constexpr int IDC_BUTTON_REFRESH = 1361;  // created hidden and disabled
  static constexpr UINT kRefreshTimer = 1;
  static constexpr UINT kRefreshMs = 5000;
  static constexpr UINT kReplyTimer = 2;
  static constexpr UINT kReplyPollMs = 50;

  // The console's rule table names the rules; it is loaded before the window opens.
  DlgBlockStatistics(Window* parent, FirewallConsole& console);
  ~DlgBlockStatistics() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  // Asks the engine for its statistics unless a request is still under way.
  void Refresh();
  // Shows the reply of the request under way once it has come; true when one was taken up.
  bool TakeReply();
  bool IsRequestPending() const { return m_pending.valid(); }
  const BlockStatisticsTable& Table() const { return m_table; }

 protected:
  void OnTimer(UINT id) override;
  void OnDestroy() override;

 private:
  ListControl* List() const;
  void Show();
  void Abandon();  // gives up a request under way and waits for its thread

  FirewallConsole& m_console;
  BlockStatisticsTable m_table;
  std::atomic<bool> m_abort{false};
  std::future<std::optional<RampaStatisticsReply>> m_pending;
};

#pragma once
#include <atomic>
#include <thread>

#include "app/FirewallConsole.h"
#include "ui/Dialog.h"

// The progress of starting the firewall engine. The start sequence may take minutes when the
// engine does not answer, so it runs on a worker thread while this dialog keeps the program
// painting, shows which attempt and request are under way and lets the user give up.
class DlgRamparoStart : public Dialog {
 public:
  static constexpr int IDC_STATIC_PROGRESS = 1420;
  static constexpr char kCaption[] = "Starting IpRamparo";

  DlgRamparoStart(Window* parent, FirewallConsole& console, FirewallConsole::StartLimits limits);
  ~DlgRamparoStart() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  void OnOK() override;      // the sequence has ended
  void OnCancel() override;  // the user gives up

  // After DoModal: whether the engine is filtering, and whether the user gave up.
  bool IsStarted() const { return m_started.load(); }
  bool GaveUp() const { return m_gaveUp; }

 protected:
  void OnTimer(UINT id) override;

 private:
  void Finish();  // gives up a sequence still running and waits for its thread

  FirewallConsole& m_console;
  FirewallConsole::StartLimits m_limits;
  std::atomic<bool> m_abort{false};
  std::atomic<int> m_attempt{0};  // where the sequence is, shown by the timer
  std::atomic<int> m_request{0};
  std::atomic<bool> m_started{false};
  bool m_gaveUp = false;
  std::thread m_worker;
};

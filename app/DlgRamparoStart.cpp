#include "app/DlgRamparoStart.h"

#include <string>

#include "ui/UiServices.h"

DlgRamparoStart::DlgRamparoStart(Window* parent, FirewallConsole& console, FirewallConsole::StartLimits limits)
    : Dialog(MakeTemplate(), parent), m_console(console), m_limits(limits) {}

DlgRamparoStart::~DlgRamparoStart() {
  Finish();
  DestroyWindow();
}

DialogTemplate DlgRamparoStart::MakeTemplate() {
  return DialogTemplate{
      kCaption,
      220,
      74,
      "MS Sans Serif",
      8,
      {LabelItem("Starting the IpRamparo firewall...", 10, 8, 200, 8),
       LabelItem("", 10, 22, 200, 8, IDC_STATIC_PROGRESS), LabelItem("Cancel gives up the start.", 10, 36, 200, 8),
       PushButtonItem(IDCANCEL, "Cancel", 85, 52, 50, 14)}};
}

namespace {
constexpr UINT kProgressTimer = 1;
constexpr UINT kProgressMs = 100;  // how often the shown progress follows the sequence
}  // namespace

bool DlgRamparoStart::OnInitDialog() {
  const HWND self = GetSafeHwnd();
  // The worker touches no window: it notes where it is and posts its end by handle, which is
  // dropped when the dialog has gone.
  m_worker = std::thread([this, self] {
    const bool started = m_console.RunStart(m_limits, m_abort, [this](int attempt, int request) {
      m_attempt.store(attempt);
      m_request.store(request);
    });
    m_started.store(started);
    ::PostMessage(self, WM_COMMAND, IDOK, 0);
  });
  SetTimer(kProgressTimer, kProgressMs);
  return true;
}

void DlgRamparoStart::OnTimer(UINT id) {
  if (id != kProgressTimer || m_gaveUp) return;
  const int attempt = m_attempt.load();
  const int request = m_request.load();
  if (attempt == 0) return;
  std::string text = "Attempt " + std::to_string(attempt) + " of " + std::to_string(m_limits.attempts);
  if (request > 0) text += ", request " + std::to_string(request) + " of " + std::to_string(m_limits.requests);
  SetDlgItemText(IDC_STATIC_PROGRESS, text);
}

void DlgRamparoStart::OnOK() {
  KillTimer(kProgressTimer);
  Finish();
  EndDialog(IDOK);
}

void DlgRamparoStart::OnCancel() {
  m_gaveUp = true;
  // The sequence stops at its next look at the flag, within milliseconds; its end closes us.
  m_abort.store(true);
  SetDlgItemText(IDC_STATIC_PROGRESS, "Giving up...");
  if (Window* cancel = GetDlgItem(IDCANCEL)) cancel->EnableWindow(false);
}

void DlgRamparoStart::Finish() {
  if (!m_worker.joinable()) return;
  m_abort.store(true);  // a no-op once the sequence has ended by itself
  m_worker.join();
}

#include "app/FirewallMenu.h"

#include "app/CMainFrame.h"
#include "app/DlgBlockStatistics.h"
#include "app/DlgIpRamparoProperties.h"
#include "app/DlgRamparoProcesses.h"
#include "app/DlgRamparoStart.h"
#include "app/DlgRuleLog.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/packets/MonListIpMon.h"
#include "ui/FileDialogRequest.h"
#include "ui/Menu.h"
#include "ui/UiServices.h"

namespace {

constexpr UINT kCommands[] = {ID_RAMPARO_ATTACH,    ID_RAMPARO_START,      ID_RAMPARO_STOP,     ID_RAMPARO_BLOCK_ALLOW,
                              ID_RAMPARO_RULES,     ID_RAMPARO_PROPERTIES, ID_RAMPARO_VIEW_LOG, ID_RAMPARO_STATISTICS,
                              ID_RAMPARO_PROCESSES, ID_CONN_BLOCK_ALLOW,   ID_PKT_BLOCK_ALLOW};

}  // namespace

FirewallMenu::FirewallMenu(CMainFrame& frame, FirewallConsole& console) : m_frame(frame), m_console(console) {}

void FirewallMenu::Map() {
  m_frame.MapCommand(ID_RAMPARO_ATTACH, [this] { OnAttach(); });
  m_frame.MapCommand(ID_RAMPARO_START, [this] { OnStart(); });
  m_frame.MapCommand(ID_RAMPARO_STOP, [this] { OnStop(); });
  m_frame.MapCommand(ID_RAMPARO_BLOCK_ALLOW, [this] { OnBlockAllow(); });
  m_frame.MapCommand(ID_RAMPARO_RULES, [this] { OnRules(); });
  m_frame.MapCommand(ID_RAMPARO_PROPERTIES, [this] { OnProperties(); });
  m_frame.MapCommand(ID_RAMPARO_VIEW_LOG, [this] { OnViewLog(); });
  m_frame.MapCommand(ID_RAMPARO_STATISTICS, [this] { OnStatistics(); });
  m_frame.MapCommand(ID_RAMPARO_PROCESSES, [this] { OnProcesses(); });
  m_frame.MapCommand(ID_CONN_BLOCK_ALLOW, [this] {
    if (PaneRowChosen(false)) m_frame.Connections()->IpSetProperties();
  });
  m_frame.MapCommand(ID_PKT_BLOCK_ALLOW, [this] {
    if (PaneRowChosen(true)) m_frame.Packets()->IpSetProperties();
  });
  for (UINT id : kCommands) m_frame.MapUpdate(id, [this](CmdUI& cmd) { UpdateRules(cmd); });
}

bool FirewallMenu::PaneRowChosen(bool packets) const {
  if (packets) {
    const MonListIpMon* pane = m_frame.Packets();
    return pane != nullptr && pane->HasFocus() && pane->GetNextItem(-1, LVNI_SELECTED) >= 0;
  }
  const MonListMon* pane = m_frame.Connections();
  return pane != nullptr && pane->HasFocus() && pane->GetCurrentItem() >= 0;
}

void FirewallMenu::UpdateRules(CmdUI& cmd) {
  const bool view = m_console.HasView();
  switch (cmd.m_nID) {
    case ID_RAMPARO_ATTACH:
      // Shown, never offered; checked while the console follows another machine's engine.
      cmd.Enable(false);
      cmd.SetCheck(m_console.IsRemote() ? 1 : 0);
      break;
    case ID_RAMPARO_START:
      cmd.Enable(view && Installed() && !m_console.Filtering() && Open());
      break;
    case ID_RAMPARO_STOP:
      cmd.Enable(view && m_console.Filtering() && Open());
      break;
    case ID_RAMPARO_BLOCK_ALLOW:
      cmd.Enable(PaneRowChosen(true) && Installed() && Open());
      break;
    case ID_RAMPARO_RULES:
      m_console.ResolveConfigPath();
      m_frame.SetTitle(Installed() ? std::string(CMainFrame::kTitle) + " ( " + m_console.EngineConfigPath() + " )"
                                   : std::string(CMainFrame::kTitle));
      cmd.Enable(Installed() && Open());
      break;
    case ID_RAMPARO_PROPERTIES:
    case ID_RAMPARO_PROCESSES:
      cmd.Enable(view && Installed() && Open());
      break;
    case ID_RAMPARO_VIEW_LOG:
      cmd.Enable(Installed() && Open());
      break;
    case ID_RAMPARO_STATISTICS:
      cmd.Enable(view && Installed() && m_console.EnginePresent() && m_console.Filtering() && Open());
      break;
    case ID_CONN_BLOCK_ALLOW:
      cmd.Enable(PaneRowChosen(false) && Installed() && Open());
      break;
    case ID_PKT_BLOCK_ALLOW:
      cmd.Enable(PaneRowChosen(true) && Installed() && Open());
      break;
    default:
      break;
  }
}

void FirewallMenu::TellSettings() {
  if (m_console.EnginePresent() && m_console.Filtering()) m_console.EngineRequest(kRampaMsgSettings);
}

void FirewallMenu::OnAttach() {
  MessageBox(&m_frame, kAttachText, kAttachCaption, MB_OK);
  FileDialogRequest request;
  request.open = true;
  request.filter = "Rampa Interface|*.mem||";
  request.fileName = m_console.RemoteInterfaceFile();
  request.flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST;
  std::string chosen;
  if (!UiServices::Current().FileDialog(&m_frame, request, &chosen) || chosen.empty()) return;
  WaitCursor wait;
  m_console.AttachRemote(chosen, kApplicationName);
  if (Menu* menu = m_frame.GetMenu())
    menu->CheckMenuItem(ID_RAMPARO_ATTACH, m_console.IsRemote() ? MF_CHECKED : MF_UNCHECKED);
}

void FirewallMenu::OnStart() {
  if (!m_console.HasView() || !Installed() || m_console.Filtering() || !Open()) return;
  bool gaveUp = false;
  {
    WaitCursor wait;
    // A block whose file was cut short reaches no engine: attach again before starting one.
    if (m_console.Channel()->MemIsLost()) m_console.AttachChannel(m_console.RemoteInterfaceFile(), kApplicationName);
    if (!m_console.HasView()) return;
    DlgRamparoStart progress(&m_frame, m_console, m_startLimits);
    progress.DoModal();
    gaveUp = progress.GaveUp();
  }
  if (!m_console.Filtering() && !gaveUp) MessageBox(&m_frame, kAnomalyText, kAnomalyCaption, MB_OK);
}

void FirewallMenu::OnStop() {
  if (!m_console.HasView() || !m_console.Filtering() || !Open()) return;
  WaitCursor wait;
  m_console.EngineRequest(kRampaMsgStop);
  // Only an engine program this console started is offered to be ended.
  if (m_console.EngineLaunched() &&
      MessageBox(&m_frame, kRunningText, kRunningCaption, MB_YESNO | MB_ICONQUESTION) == IDYES &&
      m_console.EnginePresent()) {
    m_console.EngineRequest(kRampaMsgShutdown);
    m_console.EngineProcess().WaitForExit(2000);  // collects the program as it ends
  }
  m_console.ClearSlot();
}

void FirewallMenu::OnBlockAllow() {
  if (!Installed() || !Open()) return;
  if (PaneRowChosen(false))
    m_frame.Connections()->IpSetProperties();
  else if (PaneRowChosen(true))
    m_frame.Packets()->IpSetProperties();
}

void FirewallMenu::OnRules() {
  if (!Installed() || !Open()) return;
  DlgPelorinFirewallIp dialog(&m_frame, m_frame.GetApplication(), nullptr);
  dialog.DoModal();
}

void FirewallMenu::OnProperties() {
  if (!m_console.HasView() || !Installed() || !Open()) return;
  DlgIpRamparoProperties dialog(&m_frame, m_console.ConsoleKey());
  if (dialog.DoModal() != IDOK) return;
  m_console.EngineKey().WriteProfileInt("", "IpRamparoLog", dialog.GetLogBlocks());
  TellSettings();
}

void FirewallMenu::OnViewLog() {
  if (!Installed() || !Open()) return;
  DlgRuleLog dialog(&m_frame, m_console);
  dialog.DoModal();
}

void FirewallMenu::OnStatistics() {
  if (!m_console.HasView() || !Installed() || !m_console.EnginePresent() || !m_console.Filtering() || !Open()) return;
  m_console.RuleTableReset();
  m_console.RuleTableLoad(m_console.EngineConfigPath());
  DlgBlockStatistics dialog(&m_frame, m_console);
  dialog.DoModal();
}

void FirewallMenu::OnProcesses() {
  if (!m_console.HasView() || !Installed() || !Open()) return;
  DlgRamparoProcesses dialog(&m_frame, m_console.ProcessFilePath());
  if (dialog.DoModal() == IDOK && dialog.IsFileWritten()) TellSettings();
}

// The main frame's menu commands, their enabling rules, and the panes' context menus.
#include "app/AboutDialog.h"
#include "app/CMainFrame.h"
#include "app/MainMenu.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/framework/DlgPelorinLogSelect.h"
#include "controls/framework/DlgPelorinScanProperties.h"
#include "controls/link/DlgIpMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/packets/PelorinIpMonFilters.h"
#include "controls/packets/WiresharkHandoff.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatCWinThread.h"
#include "controls/stats/MonListStatIp.h"
#include "controls/stats/MonListStatIpCWinThread.h"
#include "ui/UiServices.h"

namespace {

constexpr char kLinkLogCaption[] = "Open Connections Link Log";
constexpr int kLinkLogOffset = 20;  // px below the frame's top edge

}  // namespace

bool CMainFrame::OnCommand(UINT id, UINT code, HWND control) {
  // A command of a pane's window that is gone, or posted after closing began, is dropped.
  if (m_closing) return true;
  return FrameWindow::OnCommand(id, code, control);
}

void CMainFrame::MapCommands() {
  MapCommand(ID_VIEW_CONNECTIONS, [this] { OnViewPane(Pane::Connections); });
  MapCommand(ID_VIEW_PACKETS, [this] { OnViewPane(Pane::Packets); });
  MapCommand(ID_VIEW_PROTOCOL_STATS, [this] { OnViewPane(Pane::ProtocolStats); });
  MapCommand(ID_VIEW_IP_STATS, [this] { OnViewPane(Pane::IpStats); });
  MapCommand(ID_SCAN_START_STOP, [this] { OnScanStartStop(); });
  for (std::size_t i = 0; i < m_splitters.size(); ++i) MapCommand(kSplitterIds[i], [this, i] { OnSplitterMoved(i); }, Splitter::kMoved);
  MapCommand(ID_VIEW_CLEAR, [this] { OnViewClear(); });
  MapCommand(ID_VIEW_SHOW_CURRENT_ONLY, [this] { OnViewShowCurrentOnly(); });
  MapCommand(ID_VIEW_MONITOR_EXCLUSIVE, [this] { OnViewMonitorExclusive(); });
  MapCommand(ID_VIEW_APPLY_FILTERS, [this] { OnViewApplyFilters(); });
  MapCommand(ID_VIEW_SET_FILTERS, [this] { OnViewSetFilters(); });
  MapCommand(ID_VIEW_LOAD_LOG, [this] { OnViewLoadLog(); });
  MapCommand(ID_VIEW_LOAD_FULL_LOG, [this] { OnViewLoadFullLog(); });
  MapCommand(ID_PKT_LOG_PAGES, [this] { OnPacketLogPages(); });
  MapCommand(ID_PKT_FIND, [this] { OnPacketFind(); });
  MapCommand(ID_FILE_SAVE_LAYOUT, [this] { OnFileSaveLayout(); });
  MapCommand(ID_APP_EXIT, [this] { SendMessage(WM_CLOSE); });
  MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
  MapCommand(ID_EDIT_COPY, [this] { OnEditCopy(); });
  MapCommand(ID_NEXT_PANE, [this] { OnNextPane(true); });
  MapCommand(ID_PREV_PANE, [this] { OnNextPane(false); });
  MapCommand(ID_HELP, [this] { OnHelpInfo(); });
  MapCommand(ID_CONTEXT_HELP, [this] { OnHelpInfo(); });
  MapCommand(ID_FILE_PROPERTIES, [this] { OnFileProperties(); });
  MapCommand(ID_SCAN_PROPERTIES, [this] { OnScanProperties(); });
  MapCommand(ID_SCAN_TRACE, [this] { if (Packets() != nullptr) Packets()->MonListIpTrace(1); });
  MapCommand(ID_PKT_TRACE, [this] { if (Packets() != nullptr) Packets()->MonListIpTrace(0); });
  MapPacketWindowCommands();
}

// The packet pane's inspection windows (context menu 135), each enabled while it can open.
void CMainFrame::MapPacketWindowCommands() {
  const auto onPackets = [this](void (MonListIpMon::*command)()) {
    return [this, command] {
      if (MonListIpMon* pane = Packets()) (pane->*command)();
    };
  };
  MapCommand(ID_PKT_EXAMINE, onPackets(&MonListIpMon::MonListIpView));
  MapCommand(ID_PKT_FEED, onPackets(&MonListIpMon::MonListView));
  MapCommand(ID_PKT_COMPARE, onPackets(&MonListIpMon::MonListCompare));
  MapCommand(ID_PKT_COMPARE_ADD, onPackets(&MonListIpMon::MonListCompareAdd));
  MapCommand(ID_PKT_LINK_MONITOR, onPackets(&MonListIpMon::MonListIpViewMon));
  MapCommand(ID_CONN_LINK_MONITOR, [this] {
    if (MonListMon* pane = Connections()) pane->MonListMonIpView();
  });
  MapCommand(ID_FILE_LOAD_LINK_LOG, [this] { OnFileLoadLinkLog(); });
  MapPacketExportCommands();
  WiresharkHandoff::MapCommands(*this, [this] { return Packets(); });
  MapUpdate(ID_PKT_LINK_MONITOR, [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr && m_currentAdapter >= 0); });
  MapUpdate(ID_CONN_LINK_MONITOR,
            [this](CmdUI& cmd) { cmd.Enable(Connections() != nullptr && m_currentAdapter >= 0); });
  MapUpdate(ID_FILE_LOAD_LINK_LOG, [this](CmdUI& cmd) { cmd.Enable(!m_linkLogWindow && m_currentAdapter >= 0); });
  MapUpdate(ID_PKT_EXAMINE, [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr); });
  MapUpdate(ID_PKT_FEED, [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr && Packets()->GetFeedWindow() == nullptr); });
  MapUpdate(ID_PKT_COMPARE,
            [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr && Packets()->GetCompareWindow() == nullptr); });
  MapUpdate(ID_PKT_COMPARE_ADD,
            [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr && Packets()->GetCompareWindow() != nullptr); });
}

void CMainFrame::MapUpdateRules() {
  const auto paneRule = [this](Pane pane) {
    return [this, pane](CmdUI& cmd) { cmd.SetCheck(IsPaneVisible(pane) ? 1 : 0); };
  };
  MapUpdate(ID_VIEW_CONNECTIONS, paneRule(Pane::Connections));
  MapUpdate(ID_VIEW_PROTOCOL_STATS, paneRule(Pane::ProtocolStats));
  MapUpdate(ID_VIEW_IP_STATS, paneRule(Pane::IpStats));
  MapUpdate(ID_VIEW_PACKETS, [this](CmdUI& cmd) {
    cmd.Enable(m_currentAdapter >= 0);
    cmd.SetCheck(IsPaneVisible(Pane::Packets) ? 1 : 0);
  });
  MapUpdate(ID_VIEW_SHOW_CURRENT_ONLY, [this](CmdUI& cmd) {
    cmd.Enable(IsPaneVisible(Pane::Connections));
    cmd.SetCheck(m_showCurrentOnly ? 1 : 0);
  });
  MapUpdate(ID_VIEW_LOAD_FULL_LOG,
            [this](CmdUI& cmd) { cmd.Enable(IsPaneVisible(Pane::Connections) && IsConnectionsThreadIdle()); });
  MapUpdate(ID_VIEW_MONITOR_EXCLUSIVE, [this](CmdUI& cmd) {
    cmd.Enable(IsPaneVisible(Pane::Packets) && IsPacketThreadIdle());
    cmd.SetCheck(m_monitorExclusive ? 1 : 0);
  });
  MapUpdate(ID_VIEW_APPLY_FILTERS, [this](CmdUI& cmd) {
    cmd.Enable(IsPaneVisible(Pane::Packets));
    MonListIpMonCWinThread* thread = Packets() != nullptr ? Packets()->GetCaptureThread() : nullptr;
    cmd.SetCheck(thread != nullptr && thread->GetApplyFilters() != 0 ? 1 : 0);
  });
  MapUpdate(ID_VIEW_SET_FILTERS, [this](CmdUI& cmd) { cmd.Enable(IsPaneVisible(Pane::Packets)); });
  const auto packetLogRule = [this](CmdUI& cmd) { cmd.Enable(IsPaneVisible(Pane::Packets) && IsPacketThreadIdle()); };
  MapUpdate(ID_VIEW_LOAD_LOG, packetLogRule);
  MapUpdate(ID_PKT_LOG_PAGES, packetLogRule);
  MapUpdate(ID_PKT_FIND, packetLogRule);
  const auto packetPaneExists = [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr); };
  MapUpdate(ID_SCAN_TRACE, packetPaneExists);
  MapUpdate(ID_PKT_TRACE, packetPaneExists);
}

bool CMainFrame::IsPacketThreadIdle() const {
  MonListIpMonCWinThread* thread = Packets() != nullptr ? Packets()->GetCaptureThread() : nullptr;
  return thread != nullptr && thread->GetIdleMessage() == 0;
}

bool CMainFrame::IsConnectionsThreadIdle() const {
  PelorinCThreadMonListMon* thread = Connections() != nullptr ? Connections()->Scanner() : nullptr;
  return thread != nullptr && thread->GetIdleMessage() == 0;
}

void CMainFrame::OnViewClear() {
  SetMessageText(kReadyText);
  const auto running = [](PelorinCThread* thread) {
    return thread != nullptr && thread->IsStart() && !thread->IsStop();
  };
  if (MonListMon* pane = Connections()) {
    if (running(pane->GetThread()))
      pane->SetDeleteAll(1);
    else if (PelorinCThreadMonListMon* thread = pane->Scanner())
      thread->ListDeleteAll();
  }
  if (MonListStat* pane = ProtocolStats()) {
    if (running(pane->GetThread()))
      pane->SetDeleteAll(1);
    else if (MonListStatCWinThread* thread = pane->GetStatsThread())
      thread->ListDeleteAll();
  }
  if (MonListStatIp* pane = IpStats()) {
    if (running(pane->GetThread()))
      pane->SetDeleteAll(1);
    else if (MonListStatIpCWinThread* thread = pane->GetStatsThread())
      thread->ListDeleteAll();
  }
  if (MonListIpMon* pane = Packets()) {
    MonListIpMonCWinThread* thread = pane->GetCaptureThread();
    if (thread != nullptr && thread->GetIdleMessage() != 0)
      pane->SetDeleteAll(1, 1);
    else if (thread != nullptr)
      thread->ListDeleteAll(1);
  }
}

void CMainFrame::OnViewShowCurrentOnly() {
  if (MonListMon* pane = Connections()) {
    m_showCurrentOnly = !m_showCurrentOnly;
    pane->SetShowCurrentOnly(m_showCurrentOnly ? 1 : 0);
    if (Menu* menu = GetMenu())
      menu->CheckMenuItem(ID_VIEW_SHOW_CURRENT_ONLY, m_showCurrentOnly ? MF_CHECKED : MF_UNCHECKED);
  }
  SetMessageText(kReadyText);
}

void CMainFrame::OnViewMonitorExclusive() {
  m_monitorExclusive = !m_monitorExclusive;
  if (Menu* menu = GetMenu())
    menu->CheckMenuItem(ID_VIEW_MONITOR_EXCLUSIVE, m_monitorExclusive ? MF_CHECKED : MF_UNCHECKED);
  m_application->WriteProfileInt("", "MonitorExclusive", m_monitorExclusive ? 1 : 0);
  if (MonListIpMon* pane = Packets())
    if (MonListIpMonCWinThread* thread = pane->GetCaptureThread())
      thread->SetMonitorExclusive(m_monitorExclusive ? 1 : 0);
}

void CMainFrame::OnViewApplyFilters() {
  MonListIpMonCWinThread* thread = Packets() != nullptr ? Packets()->GetCaptureThread() : nullptr;
  if (thread == nullptr) return;
  const bool on = thread->GetApplyFilters() == 0;
  thread->ApplyFilters(on ? 1 : 0);
  if (Menu* menu = GetMenu()) menu->CheckMenuItem(ID_VIEW_APPLY_FILTERS, on ? MF_CHECKED : MF_UNCHECKED);
}

void CMainFrame::OnViewSetFilters() {
  if (!IsPaneVisible(Pane::Packets)) return;
  CloseFiltersWindow();
  m_filtersWindow = MakeFiltersWindow();
}

// Both panes post the reload (1385) to their idle thread, which fills the list from the log.
void CMainFrame::OnViewLoadLog() {
  if (!IsPaneVisible(Pane::Packets) || !IsPacketThreadIdle()) return;
  WaitCursor wait;
  MonListIpMonCWinThread* thread = Packets()->GetCaptureThread();
  Packets()->LoadLastLog(thread->GetLoadStart());  // a page chosen before keeps its position
}

void CMainFrame::OnViewLoadFullLog() {
  if (!IsPaneVisible(Pane::Connections) || !IsConnectionsThreadIdle()) return;
  WaitCursor wait;
  Connections()->LoadLastLog();
}

void CMainFrame::OnFileSaveLayout() {
  std::array<bool, kPaneCount> visible{};
  for (Pane pane : kScreenOrder) visible[Index(pane)] = IsPaneVisible(pane);
  m_application->WriteProfileString("", "Layout", LayoutOfVisible(visible));
  // The pane heights only once the user has set some with the splitters.
  if (HasShares(m_shares)) m_application->WriteProfileString("", kLayoutSizesValue, TextOfShares(m_shares));
}

void CMainFrame::OnFileProperties() {
  DlgPelorinLogSelect dialog(this, m_application, Connections(), Packets(), ProtocolStats(), IpStats());
  dialog.DoModal();
  // The interface may have changed, whatever the dialog ended with.
  m_currentAdapter = m_application->GetProfileInt("", "AdapterCurr", 0);
}

void CMainFrame::OnScanProperties() {
  DlgPelorinScanProperties dialog(this, m_application, Connections(), Packets(), ProtocolStats(), IpStats());
  dialog.DoModal();
}

void CMainFrame::OnFileLoadLinkLog() {
  if (m_linkLogWindow || m_currentAdapter < 0) return;
  const Rect frame = GetWindowRect();
  m_linkLogWindow = std::make_unique<DlgIpMon>(this, m_application, m_registryPath,
                                               Point{frame.left, frame.top + kLinkLogOffset}, kLinkLogCaption,
                                               nullptr, nullptr, nullptr);
}

void CMainFrame::CloseLinkLogWindow() {
  if (!m_linkLogWindow) return;
  m_linkLogWindow->ShowWindow(SW_HIDE);
  m_linkLogWindow->SendMessage(WM_CLOSE);
  m_linkLogWindow.reset();
}

void CMainFrame::OnAppAbout() {
  AboutDialog about(this);
  about.DoModal();
}

void CMainFrame::OnPaneContextMenu(HWND pane, Point screenPoint) {
  std::unique_ptr<Menu> menu;
  if (Connections() != nullptr && pane == Connections()->GetSafeHwnd())
    menu = BuildConnectionsContextMenu();
  else if (Packets() != nullptr && pane == Packets()->GetSafeHwnd())
    menu = BuildPacketsContextMenu();
  if (menu) menu->TrackPopupMenu(TPM_RIGHTBUTTON, screenPoint.x, screenPoint.y, this);
}

std::unique_ptr<DlgPelorinFilters> CMainFrame::MakeFiltersWindow() {
  return std::make_unique<PelorinIpMonFilters>(this, m_application, Packets(), m_registryPath);
}

#include "app/CMainFrame.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "app/MainMenu.h"
#include "app/MenuIds.h"
#include "app/ProgramIcon.h"
#include "common/Messages.h"
#include "controls/connections/MonListMon.h"
#include "controls/link/DlgIpMon.h"
#include "controls/packets/DlgPelorinFilters.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "ui/HelpFile.h"
#include "ui/UiServices.h"

namespace {

// The current directory with a separator at its end; empty when it cannot be read.
std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof(buffer)) == nullptr) return {};
  std::string folder(buffer);
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() {
  m_closing = true;
  // Panes end their workers before their windows go; then the engine channel is released.
  for (Pane pane : {Pane::Packets, Pane::Connections, Pane::ProtocolStats, Pane::IpStats})
    if (PelorinCListView* view = GetPane(pane); view != nullptr && view->GetThread() != nullptr) view->ProcessClose();
  m_filtersWindow.reset();
  DestroyWindow();
  for (auto& pane : m_panes) pane.reset();
  m_sessionMenu.reset();
  m_firewallMenu.reset();
  if (m_firewall) m_firewall->DetachChannel();
}

bool CMainFrame::LoadFrame() {
  // On a small or scaled screen the frame is held to the work area, its title bar included.
  constexpr int kTitleBar = 32;
  const Rect work = UiServices::Current().WorkArea();
  const int width = std::min(kWidth, work.Width()), height = std::min(kHeight, work.Height() - kTitleBar);
  if (!FrameWindow::Create(kTitle, Rect{work.left, work.top, work.left + width, work.top + height})) return false;
  SetMenu(BuildMainMenu());
  SetAccelerators(BuildMainAccelerators());
  CreateStatusBar({ID_SEPARATOR, ID_INDICATOR_CAPTURE, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL});
  SetMessageText(kReadyText);
  SetTimer(kCaptureStatusTimer, kCaptureStatusMs);
  SetIcon(ProgramIcon128());
  SetTitle(kTitle);
  MapCommands();
  MapUpdateRules();
  return true;
}

void CMainFrame::FrameInit() {
  WaitCursor wait;
  AppProfile& app = *m_application;
  m_workingDirectory = CurrentDirectory();
  const std::string& work = m_workingDirectory;

  // Every run begins on the default logs, whatever session the last one chose.
  app.WriteProfileString("", "IpMonLog", work + "PelorinProLogPkt.rec");
  app.WriteProfileString("", "IpMonLogCurrent", work + "PelorinProLogPkt.rec");
  app.WriteProfileString("", "IpConnectLog", work + "PelorinProLogConnect.rec");
  app.WriteProfileString("", "IpConnectLogCurrent", work + "PelorinProLogConnect.rec");
  app.WriteProfileString("", "SessLogs", work + "SessionLogs/");
  app.WriteProfileString("", "Configurations", work + "Cfg/");
  app.WriteProfileString("", "ConnectionsLinkLogs", work + "ConnLogs/");
  // The session and configuration commands store their files there; an existing folder stays.
  for (const char* folder : {"SessionLogs", "Cfg", "ConnLogs"}) ::mkdir((work + folder).c_str(), 0755);

  m_currentAdapter = app.GetProfileInt("", "AdapterCurr", 0);
  if (m_currentAdapter < 0) ShowNoAdapter();

  m_shares = SharesOfText(app.GetProfileString("", kLayoutSizesValue, ""));
  // The panes are made when the message loop reaches these commands, after start-up.
  for (Pane pane : PanesOfLayout(app.GetProfileString("", "Layout", kDefaultLayout))) {
    static constexpr std::array<UINT, kPaneCount> kCommands{ID_VIEW_CONNECTIONS, ID_VIEW_PACKETS,
                                                            ID_VIEW_PROTOCOL_STATS, ID_VIEW_IP_STATS};
    PostMessage(WM_COMMAND, kCommands[Index(pane)], 0);
  }

  SetStartStopText(kStartText);
  m_scanning = false;

  m_firewall = std::make_unique<FirewallConsole>(app);
  m_firewall->ResolveEngineFiles(work);
  m_firewallMenu = std::make_unique<FirewallMenu>(*this, *m_firewall);
  m_firewallMenu->Map();
  m_sessionMenu = std::make_unique<SessionMenu>(*this, *m_firewall);
  m_sessionMenu->Map();

  m_monitorExclusive = app.GetProfileInt("", "MonitorExclusive", 0) != 0;
  app.WriteProfileInt("", "MonitorExclusive", m_monitorExclusive ? 1 : 0);
  if (Menu* menu = GetMenu()) menu->CheckMenuItem(ID_VIEW_MONITOR_EXCLUSIVE, m_monitorExclusive ? MF_CHECKED : MF_UNCHECKED);

  if (!m_firewall->LocalInterfaceFile().empty())
    m_firewall->AttachChannel(m_firewall->LocalInterfaceFile(), FirewallMenu::kApplicationName);
  m_firewall->ResolveProcessFile(work);
}

void CMainFrame::OnTimer(UINT id) {
  if (id == kCaptureStatusTimer) {
    ShowCaptureStatus();
    return;
  }
  FrameWindow::OnTimer(id);
}

void CMainFrame::ShowCaptureStatus() {
  StatusBar* bar = GetStatusBar();
  if (bar == nullptr) return;
  const MonListIpMon* packets = Packets();
  const MonListIpMonCWinThread* thread = packets != nullptr ? packets->GetCaptureThread() : nullptr;
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  const std::string text = thread != nullptr ? m_captureStatus.Update(thread->GetCaptureCounts(), now.count()) : std::string();
  for (int i = 0; i < bar->GetCount(); ++i)
    if (bar->GetItemID(i) == ID_INDICATOR_CAPTURE && bar->GetPaneText(i) != text) bar->SetPaneText(i, text);
}

std::string CMainFrame::GetStartStopText() const {
  return GetMenu() != nullptr ? GetMenu()->GetMenuString(ID_SCAN_START_STOP, MF_BYCOMMAND) : std::string{};
}

void CMainFrame::SetStartStopText(const std::string& text) {
  if (Menu* menu = GetMenu()) menu->SetMenuItemText(ID_SCAN_START_STOP, text);
  DrawMenuBar();
}

void CMainFrame::ShowNoAdapter() { ::MessageBox(this, kNoAdapterText, kNoAdapterCaption, MB_OK); }

void CMainFrame::StackPanes() {
  for (Pane pane : kScreenOrder)
    if (IsPaneVisible(pane)) GetPane(pane)->ShowWindow(SW_HIDE);
  PlacePanes();
}

void CMainFrame::PlacePanes() {
  std::array<bool, kPaneCount> visible{};
  for (Pane pane : kScreenOrder) visible[Index(pane)] = IsPaneVisible(pane);
  const int statusHeight = GetStatusBar() != nullptr ? GetStatusBar()->GetClientRect().Height() : 0;
  const std::array<Rect, kPaneCount> places = ::StackPanes(GetClientRect(), statusHeight, visible, m_shares);
  std::size_t placed = 0;
  for (Pane pane : kScreenOrder) {
    if (!visible[Index(pane)]) continue;
    const Rect& place = places[Index(pane)];
    GetPane(pane)->SetWindowPos(HWND_TOP, place.left, place.top, place.Width(), place.Height(), SWP_SHOWWINDOW);
    if (placed++ == 0) continue;
    // A bar over the boundary above every pane but the first.
    const std::size_t boundary = placed - 2;
    std::unique_ptr<Splitter>& bar = m_splitters[boundary];
    if (!bar) {
      bar = std::make_unique<Splitter>();
      bar->Create(Rect{}, this, kSplitterIds[boundary]);
    }
    bar->SetWindowPos(HWND_TOP, 0, place.top - kSplitterHalf, place.Width(), 2 * kSplitterHalf, SWP_SHOWWINDOW);
  }
  for (std::size_t i = placed > 0 ? placed - 1 : 0; i < m_splitters.size(); ++i)
    if (m_splitters[i]) m_splitters[i]->ShowWindow(SW_HIDE);
}

void CMainFrame::OnSplitterMoved(std::size_t index) {
  std::array<bool, kPaneCount> visible{};
  std::array<Rect, kPaneCount> places{};
  std::size_t seen = 0;
  Pane below = Pane::Connections;
  for (Pane pane : kScreenOrder) {
    visible[Index(pane)] = IsPaneVisible(pane);
    if (!visible[Index(pane)]) continue;
    places[Index(pane)] = GetPane(pane)->GetRectInParent();
    if (seen++ == index + 1) below = pane;
  }
  if (seen < index + 2) return;
  const int statusHeight = GetStatusBar() != nullptr ? GetStatusBar()->GetClientRect().Height() : 0;
  const int boundary = m_splitters[index]->GetDragTop() + kSplitterHalf;
  m_shares = DragBoundary(m_shares, places, visible, statusHeight, below, boundary);
  // Moved, not hidden and shown again: the focus stays in its pane while the user drags.
  PlacePanes();
}

void CMainFrame::OnSize(UINT type, int cx, int cy) {
  FrameWindow::OnSize(type, cx, cy);
  StackPanes();
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CONTEXTMENU:
      // A pane sends its screen point in wParam and its own handle in lParam.
      if (Window::FromHandle(static_cast<HWND>(lParam)) != nullptr) {
        const auto point = static_cast<LPARAM>(wParam);
        OnPaneContextMenu(static_cast<HWND>(lParam), Point{GET_X_LPARAM(point), GET_Y_LPARAM(point)});
        return 0;
      }
      break;
    case WM_PELORIN_CLOSE_WINDOW:
      // The filters window ends itself with OK or Cancel and asks its owner to delete it.
      if (m_filtersWindow && static_cast<HWND>(lParam) == m_filtersWindow->GetSafeHwnd()) CloseFiltersWindow();
      // The link-log window asks the same when it is done.
      if (m_linkLogWindow && static_cast<HWND>(lParam) == m_linkLogWindow->GetSafeHwnd()) CloseLinkLogWindow();
      return 0;
    default:
      break;
  }
  return FrameWindow::WindowProc(message, wParam, lParam);
}

void CMainFrame::CloseFiltersWindow() {
  if (!m_filtersWindow) return;
  m_filtersWindow->ShowWindow(SW_HIDE);
  m_filtersWindow->DestroyWindow();
  m_filtersWindow.reset();
}

void CMainFrame::OnClose() { Shutdown(); }

void CMainFrame::Shutdown() {
  if (m_closing) return;
  m_closing = true;
  ShowWindow(SW_HIDE);
  if (m_filtersWindow) m_filtersWindow->ShowWindow(SW_HIDE);
  CloseLinkLogWindow();
  if (MonListIpMon* packets = Packets()) packets->ListDlgCloseAll();
  if (MonListMon* connections = Connections()) connections->ListDlgCloseAll();
  for (Pane pane : {Pane::Packets, Pane::Connections, Pane::ProtocolStats, Pane::IpStats})
    if (PelorinCListView* view = GetPane(pane)) view->ProcessClose();
  CloseFiltersWindow();
  DestroyWindow();
}

void CMainFrame::OnNextPane(bool forward) {
  std::vector<PelorinCListView*> visible;
  for (Pane pane : kScreenOrder)
    if (IsPaneVisible(pane)) visible.push_back(GetPane(pane));
  if (visible.empty()) return;
  const int count = static_cast<int>(visible.size());
  int focused = -1;
  for (int i = 0; i < count; ++i)
    if (visible[static_cast<std::size_t>(i)]->HasFocus()) focused = i;
  // Without a focused pane, the first (or, backwards, the last) one takes the focus.
  const int next = focused < 0 ? (forward ? 0 : count - 1) : (focused + (forward ? 1 : count - 1)) % count;
  visible[static_cast<std::size_t>(next)]->SetFocus();
}

void CMainFrame::OnEditCopy() {
  for (Pane pane : kScreenOrder)
    if (IsPaneVisible(pane) && GetPane(pane)->HasFocus()) GetPane(pane)->CopySelectedRows();
}

bool CMainFrame::OnHelpInfo() {
  ShowHelp(this, 3);  // the contents
  return true;
}

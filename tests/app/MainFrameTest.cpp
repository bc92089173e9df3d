// The main frame driven headless through its menu: start-up values, pane creation and stacking,
// the show/hide rules, start/stop order, the menu's enabling rules and the shutdown order. The
// panes are the real ones (scanning the machine's tables and counters), wrapped to record the
// calls the frame makes on them.
#include "MainFrameTestSupport.h"

namespace frame_test {
namespace {

TEST_F(MainFrameTest, StartUpRewritesTheDefaultsAndShowsTheDefaultLayout) {
  m_profile.WriteProfileString("", "IpMonLogCurrent", "/elsewhere/session.rec");
  m_profile.WriteProfileString("", "RampaMemFileRemote", "/remote/engine.mem");
  m_profile.WriteProfileString("", "CfgFileRemote", "/remote/rules.cfg");
  m_profile.WriteProfileInt("", "MonitorExclusive", 1);
  CMainFrame* frame = Start(nullptr, 0);
  ASSERT_NE(frame, nullptr);

  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1");
  EXPECT_EQ(frame->GetWindowRect().Width(), 800);
  EXPECT_EQ(frame->GetWindowRect().Height(), 600);
  EXPECT_TRUE(frame->IsShown());
  EXPECT_FALSE(frame->GetIcon().IsNull());
  ASSERT_NE(frame->GetStatusBar(), nullptr);
  EXPECT_EQ(frame->GetStatusBar()->GetCount(), 5);
  EXPECT_EQ(frame->GetStatusBar()->GetItemID(1), ID_INDICATOR_CAPTURE);
  EXPECT_EQ(frame->GetStatusBar()->GetItemID(2), ID_INDICATOR_CAPS);

  EXPECT_EQ(m_profile.GetProfileString("", "IpMonLog"), m_folder + "PelorinProLogPkt.rec");
  EXPECT_EQ(m_profile.GetProfileString("", "IpMonLogCurrent"), m_folder + "PelorinProLogPkt.rec");
  EXPECT_EQ(m_profile.GetProfileString("", "IpConnectLogCurrent"), m_folder + "PelorinProLogConnect.rec");
  EXPECT_EQ(m_profile.GetProfileString("", "SessLogs"), m_folder + "SessionLogs/");
  EXPECT_EQ(m_profile.GetProfileString("", "Configurations"), m_folder + "Cfg/");
  EXPECT_EQ(m_profile.GetProfileString("", "ConnectionsLinkLogs"), m_folder + "ConnLogs/");
  EXPECT_TRUE(std::filesystem::is_directory(m_folder + "ConnLogs"));
  // The remote attachment is forgotten: the console is back on this machine's engine.
  EXPECT_EQ(m_profile.GetProfileString("", "RampaMemFileRemote"), m_folder + "RamparoInterfaceMem.mem");
  EXPECT_EQ(m_profile.GetProfileString("", "CfgFileRemote"), m_folder + "Ramparo.cfg");
  EXPECT_NE(frame->GetFirewall()->ChannelView(), nullptr);
  EXPECT_EQ(m_profile.GetProfileInt("", "MonitorExclusive", 0), 1);
  EXPECT_TRUE(frame->GetMenu()->IsChecked(ID_VIEW_MONITOR_EXCLUSIVE));

  // "18": connections and packets, created by the posted commands, neither scanning yet.
  EXPECT_NE(frame->Connections(), nullptr);
  EXPECT_NE(frame->Packets(), nullptr);
  EXPECT_EQ(frame->ProtocolStats(), nullptr);
  EXPECT_EQ(frame->GetVisiblePanes(), 2);
  EXPECT_EQ(frame->Connections()->GetDlgCtrlID(), 1024);
  EXPECT_EQ(frame->Packets()->GetDlgCtrlID(), 1027);
  EXPECT_EQ(frame->Connections()->GetFontSize(), 10);
  EXPECT_FALSE(frame->IsScanning());
  EXPECT_EQ(frame->GetStartStopText(), "Start Scanning");
  EXPECT_TRUE(m_script.Messages().empty());
  EXPECT_TRUE(Taken().empty());
}

TEST_F(MainFrameTest, NoAdapterIsReportedAndThePacketPaneIsNeverMade) {
  CMainFrame* frame = Start("18", -1);
  ASSERT_EQ(m_script.Messages().size(), 2u);  // start-up, then the posted packet command
  EXPECT_EQ(m_script.Messages()[0].caption, "Network Card Interface");
  EXPECT_EQ(m_script.Messages()[0].text.rfind("No selected network Interface detected.\n\n", 0), 0u);
  EXPECT_EQ(frame->Packets(), nullptr);
  EXPECT_NE(frame->Connections(), nullptr);
  EXPECT_FALSE(Enabled(frame, ID_VIEW_PACKETS));
  EXPECT_FALSE(Enabled(frame, ID_FILE_LOAD_LINK_LOG));
  frame->OnViewPane(Pane::Packets);  // the box again, every time
  EXPECT_EQ(m_script.Messages().size(), 3u);
  EXPECT_EQ(frame->Packets(), nullptr);
}

TEST_F(MainFrameTest, LayoutBitsSelectThePanesAndSaveLayoutWritesWhatIsVisible) {
  CMainFrame* frame = Start("0");
  EXPECT_EQ(frame->GetVisiblePanes(), 0);
  Choose(frame, ID_FILE_SAVE_LAYOUT);
  EXPECT_EQ(m_profile.GetProfileString("", "Layout"), "18");  // nothing visible saves the default
  m_app.reset();

  frame = Start("13");  // 1 is no pane's bit
  EXPECT_EQ(frame->Connections(), nullptr);
  EXPECT_NE(frame->ProtocolStats(), nullptr);
  EXPECT_NE(frame->IpStats(), nullptr);
  Choose(frame, ID_VIEW_CONNECTIONS);
  Choose(frame, ID_FILE_SAVE_LAYOUT);
  EXPECT_EQ(m_profile.GetProfileString("", "Layout"), "14");
}

TEST_F(MainFrameTest, PanesShareTheClientHeightAndTheLastIsShortenedByTheStatusBar) {
  CMainFrame* frame = Start("6");  // connections above protocol statistics
  const Rect client = frame->GetClientRect();
  const int status = frame->GetStatusBar()->GetClientRect().Height();
  ASSERT_GT(status, 0);
  const Rect top = frame->Connections()->GetRectInParent();
  const Rect bottom = frame->ProtocolStats()->GetRectInParent();
  EXPECT_EQ(top, (Rect{0, 0, client.Width(), client.Height() / 2}));
  EXPECT_EQ(bottom, (Rect{0, client.Height() / 2, client.Width(), client.Height() / 2 * 2 - status}));
  EXPECT_TRUE(frame->Connections()->IsShown());

  // Three panes: a third each, truncated.
  Choose(frame, ID_VIEW_IP_STATS);
  const int third = client.Height() / 3;
  EXPECT_EQ(frame->ProtocolStats()->GetRectInParent(), (Rect{0, third, client.Width(), 2 * third}));
  EXPECT_EQ(frame->IpStats()->GetRectInParent().Height(), third - status);
}

TEST_F(MainFrameTest, SplittersOnThePaneBoundariesResizeThePanesAndSaveLayoutKeepsTheirHeights) {
  CMainFrame* frame = Start("6");  // connections above protocol statistics
  const Rect client = frame->GetClientRect();
  const int status = frame->GetStatusBar()->GetClientRect().Height();
  Splitter* bar = frame->GetSplitter(0);
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->IsShown());
  EXPECT_EQ(bar->GetRectInParent(), (Rect{0, client.Height() / 2 - kSplitterHalf, client.Width(), client.Height() / 2 + kSplitterHalf}));
  EXPECT_EQ(frame->GetSplitter(1), nullptr);

  bar->UserDrag(-50);  // no pane shrinks below the least height
  EXPECT_EQ(frame->Connections()->GetRectInParent().Height(), kMinPaneHeight);
  bar->UserDrag(150 - kSplitterHalf);
  EXPECT_EQ(frame->Connections()->GetRectInParent(), (Rect{0, 0, client.Width(), 150}));
  EXPECT_EQ(frame->ProtocolStats()->GetRectInParent(), (Rect{0, 150, client.Width(), client.Height() - status}));
  EXPECT_EQ(bar->GetRectInParent().top, 150 - kSplitterHalf);
  Choose(frame, ID_FILE_SAVE_LAYOUT);
  EXPECT_EQ(m_profile.GetProfileString("", "LayoutSizes"), "150,0," + std::to_string(client.Height() - 150) + ",0");

  // The next start restores the heights; a pane shown later takes a mean share and a bar of its own.
  m_app.reset();
  frame = Start("6");
  EXPECT_EQ(frame->Connections()->GetRectInParent().Height(), 150);
  Choose(frame, ID_VIEW_IP_STATS);
  ASSERT_NE(frame->GetSplitter(1), nullptr);
  EXPECT_TRUE(frame->GetSplitter(1)->IsShown());
  EXPECT_EQ(frame->IpStats()->GetRectInParent().bottom, client.Height() - status);
  Choose(frame, ID_VIEW_IP_STATS);  // hidden again: its bar goes with it
  EXPECT_FALSE(frame->GetSplitter(1)->IsShown());
}

TEST_F(MainFrameTest, TheLastVisiblePaneCannotBeHiddenAndHiddenPanesComeBack) {
  CMainFrame* frame = Start("6");
  Choose(frame, ID_VIEW_CONNECTIONS);  // hide
  EXPECT_FALSE(frame->IsPaneVisible(Pane::Connections));
  EXPECT_FALSE(frame->Connections()->IsShown());
  EXPECT_EQ(frame->GetVisiblePanes(), 1);
  EXPECT_EQ(Taken(), (Calls{"stop connections"}));
  EXPECT_EQ(frame->ProtocolStats()->GetRectInParent().Height(),
            frame->GetClientRect().Height() - frame->GetStatusBar()->GetClientRect().Height());

  const std::size_t messages = m_script.Messages().size();
  Choose(frame, ID_VIEW_PROTOCOL_STATS);  // the only visible pane: refused without a word
  EXPECT_TRUE(frame->IsPaneVisible(Pane::ProtocolStats));
  EXPECT_EQ(frame->GetVisiblePanes(), 1);
  EXPECT_EQ(m_script.Messages().size(), messages);

  Choose(frame, ID_VIEW_CONNECTIONS);  // shown again, not scanning: nothing restarts
  EXPECT_TRUE(frame->IsPaneVisible(Pane::Connections));
  EXPECT_TRUE(frame->Connections()->IsShown());
  EXPECT_EQ(frame->GetVisiblePanes(), 2);
  EXPECT_TRUE(Taken().empty());
  EXPECT_EQ(frame->GetStartStopText(), "Start Scanning");
}

TEST_F(MainFrameTest, StartAndStopRunInPaneOrderAndTheFirstStartShowsCurrentOnly) {
  CMainFrame* frame = Start("30", 0);  // all four
  m_profile.WriteProfileInt("", "MonitorExclusive", 0);
  Choose(frame, ID_VIEW_MONITOR_EXCLUSIVE);
  EXPECT_EQ(m_profile.GetProfileInt("", "MonitorExclusive", 0), 1);
  Taken();

  ASSERT_TRUE(Choose(frame, ID_SCAN_START_STOP));
  EXPECT_EQ(Taken(), (Calls{"start connections", "start protocol", "start ip", "start packets"}));
  EXPECT_EQ(frame->Packets()->GetCaptureThread()->GetMonitorExclusive(), 1);
  EXPECT_TRUE(frame->IsScanning());
  EXPECT_EQ(frame->GetStartStopText(), "Stop Scanning");
  EXPECT_EQ(frame->GetStatusBar()->GetPaneText(0), "For Help, Press F1");
  EXPECT_TRUE(frame->IsShowCurrentOnly());
  EXPECT_TRUE(frame->Connections()->IsShowCurrentOnly());
  EXPECT_TRUE(frame->GetMenu()->IsChecked(ID_VIEW_SHOW_CURRENT_ONLY));

  ASSERT_TRUE(Choose(frame, ID_SCAN_START_STOP));
  EXPECT_EQ(Taken(), (Calls{"stop connections", "stop protocol", "stop ip", "stop packets"}));
  EXPECT_EQ(frame->GetStartStopText(), "Start Scanning");
  Choose(frame, ID_VIEW_SHOW_CURRENT_ONLY);
  EXPECT_FALSE(frame->Connections()->IsShowCurrentOnly());
  Choose(frame, ID_SCAN_START_STOP);  // later starts leave the choice alone
  EXPECT_FALSE(frame->IsShowCurrentOnly());
  EXPECT_FALSE(frame->Connections()->IsShowCurrentOnly());
}

TEST_F(MainFrameTest, ReshowingTheConnectionsPaneWhileScanningClearsItFirst) {
  CMainFrame* frame = Start("6");
  Choose(frame, ID_SCAN_START_STOP);
  Choose(frame, ID_VIEW_CONNECTIONS);
  Choose(frame, ID_VIEW_PROTOCOL_STATS);  // refused: last visible
  Choose(frame, ID_VIEW_CONNECTIONS);
  Choose(frame, ID_VIEW_PROTOCOL_STATS);
  Choose(frame, ID_VIEW_PROTOCOL_STATS);
  EXPECT_EQ(Taken(), (Calls{"start connections", "start protocol", "stop connections", "clear connections",
                            "start connections", "stop protocol", "start protocol"}));
  // A pane made while scanning starts at once.
  Choose(frame, ID_VIEW_IP_STATS);
  EXPECT_EQ(Taken(), (Calls{"start ip"}));
  EXPECT_EQ(frame->GetStartStopText(), "Stop Scanning");
}

TEST_F(MainFrameTest, MenuRulesFollowThePanesAndTheirThreads) {
  CMainFrame* frame = Start("2", 0);
  for (UINT later : {ID_SCAN_TRACE, ID_RAMPARO_START, ID_RAMPARO_ATTACH})
    EXPECT_FALSE(Enabled(frame, later)) << later;
  for (UINT always : {ID_FILE_SAVE_LAYOUT, ID_APP_EXIT, ID_VIEW_CLEAR, ID_SCAN_START_STOP, ID_APP_ABOUT})
    EXPECT_TRUE(Enabled(frame, always)) << always;
  EXPECT_TRUE(Enabled(frame, ID_VIEW_SHOW_CURRENT_ONLY));
  EXPECT_TRUE(Enabled(frame, ID_VIEW_LOAD_FULL_LOG));
  EXPECT_FALSE(Enabled(frame, ID_VIEW_LOAD_LOG));  // no packet pane
  EXPECT_FALSE(Enabled(frame, ID_VIEW_APPLY_FILTERS));
  EXPECT_TRUE(frame->GetMenu()->IsChecked(ID_VIEW_CONNECTIONS));
  EXPECT_FALSE(frame->GetMenu()->IsChecked(ID_VIEW_IP_STATS));

  Choose(frame, ID_VIEW_PACKETS);
  EXPECT_TRUE(Enabled(frame, ID_VIEW_LOAD_LOG));
  EXPECT_TRUE(Enabled(frame, ID_VIEW_MONITOR_EXCLUSIVE));
  Choose(frame, ID_SCAN_START_STOP);
  ASSERT_TRUE(UiPump::Instance().PumpUntil(
      [&] { return frame->Packets()->GetCaptureThread()->GetIdleMessage() != 0 && !Enabled(frame, ID_VIEW_LOAD_FULL_LOG); },
      5000));
  EXPECT_FALSE(Enabled(frame, ID_VIEW_LOAD_LOG));  // scanning
  EXPECT_FALSE(Enabled(frame, ID_VIEW_MONITOR_EXCLUSIVE));

  // Apply Filters toggles the thread and the check mark follows it.
  EXPECT_EQ(frame->Packets()->GetCaptureThread()->GetApplyFilters(), 0);
  Choose(frame, ID_VIEW_APPLY_FILTERS);
  EXPECT_EQ(frame->Packets()->GetCaptureThread()->GetApplyFilters(), 1);
  EXPECT_TRUE(Enabled(frame, ID_VIEW_APPLY_FILTERS));
  EXPECT_TRUE(frame->GetMenu()->IsChecked(ID_VIEW_APPLY_FILTERS));
  Choose(frame, ID_VIEW_APPLY_FILTERS);
  EXPECT_EQ(frame->Packets()->GetCaptureThread()->GetApplyFilters(), 0);
  EXPECT_FALSE(frame->GetMenu()->IsChecked(ID_VIEW_APPLY_FILTERS));
}

TEST_F(MainFrameTest, SetFiltersOpensOneFiltersWindowThatOkDeletes) {
  CMainFrame* frame = Start("18", 0);
  Choose(frame, ID_VIEW_SET_FILTERS);
  ASSERT_NE(frame->GetFiltersWindow(), nullptr);
  const HWND first = frame->GetFiltersWindow()->GetSafeHwnd();
  EXPECT_TRUE(frame->GetFiltersWindow()->IsShown());
  Choose(frame, ID_VIEW_SET_FILTERS);  // a new window replaces the old one
  EXPECT_FALSE(Window::IsWindow(first));
  frame->GetFiltersWindow()->ClickButton(IDOK);
  UiPump::Instance().PumpPending();
  EXPECT_EQ(frame->GetFiltersWindow(), nullptr);

  Choose(frame, ID_VIEW_SET_FILTERS);
  const HWND third = frame->GetFiltersWindow()->GetSafeHwnd();
  Choose(frame, ID_VIEW_PACKETS);  // hiding the packet pane takes its filters window too
  EXPECT_EQ(frame->GetFiltersWindow(), nullptr);
  EXPECT_FALSE(Window::IsWindow(third));
}

TEST_F(MainFrameTest, AnInterfaceChosenInPropertiesOpensThePacketPane) {
  CMainFrame* frame = Start("2", -1);
  EXPECT_FALSE(Enabled(frame, ID_VIEW_PACKETS));
  m_script.OnNextModal([](Dialog& d) {
    d.ClickButton(DlgPelorinLogSelect::IDC_BUTTON_INTERFACES);
    d.ClickButton(IDCANCEL);  // the interface is kept all the same
  });
  m_script.OnNextModal([](Dialog& chooser) {
    auto* list = chooser.GetDlgItemAs<ListControl>(DlgPelorinAdapters::IDC_LIST_ADAPTERS);
    for (int row = 0; row < list->GetItemCount(); ++row)
      if (list->GetItemText(row, 2) == "lo") chooser.SelectListItem(DlgPelorinAdapters::IDC_LIST_ADAPTERS, row);
    chooser.ClickButton(IDOK);
  });
  ASSERT_TRUE(Choose(frame, ID_FILE_PROPERTIES));
  EXPECT_GE(frame->GetCurrentAdapter(), 0);
  EXPECT_EQ(m_profile.GetProfileString("", "AdapterCurrName"), "lo");
  EXPECT_TRUE(Enabled(frame, ID_VIEW_PACKETS));
  Choose(frame, ID_VIEW_PACKETS);
  EXPECT_NE(frame->Packets(), nullptr);

  // Scan properties: Apply hands the interval to the running panes.
  m_script.OnNextModal([](Dialog& d) {
    d.TypeInto(DlgPelorinScanProperties::IDC_EDIT_SCANLIST, "7");
    d.ClickButton(DlgPelorinScanProperties::IDC_BUTTON_APPLY);
    d.ClickButton(IDCANCEL);
  });
  ASSERT_TRUE(Choose(frame, ID_SCAN_PROPERTIES));
  EXPECT_EQ(frame->Connections()->GetThread()->GetScan(), 7000u);
  EXPECT_EQ(m_script.UnscriptedModals(), 0);
}

TEST_F(MainFrameTest, ClearEmptiesThePanesAndLoadFullLogRebuildsTheRowsOfTheLog) {
  CMainFrame* frame = Start("6");
  Choose(frame, ID_SCAN_START_STOP);
  ASSERT_TRUE(UiPump::Instance().PumpUntil(
      [&] { return frame->Connections()->GetItemCount() > 0 && frame->ProtocolStats()->GetItemCount() >= 3; }, 10000));
  Choose(frame, ID_SCAN_START_STOP);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return Enabled(frame, ID_VIEW_LOAD_FULL_LOG); }, 5000));
  const int shown = frame->Connections()->GetItemCount();

  // The reload replaces the rows with the log's: one connect record per row shown.
  Choose(frame, ID_VIEW_LOAD_FULL_LOG);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return frame->Connections()->GetItemCount() == shown; }, 5000));
  EXPECT_EQ(frame->Connections()->GetItemCount(), shown);

  // Clear: the connections thread clears its rows and log; the stopped statistics rows go at once.
  Choose(frame, ID_VIEW_CLEAR);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return frame->Connections()->GetItemCount() == 0; }, 5000));
  EXPECT_EQ(frame->ProtocolStats()->GetItemCount(), 0);
  Choose(frame, ID_VIEW_LOAD_FULL_LOG);  // the emptied log brings nothing back
  UiPump::Instance().PumpUntil([] { return false; }, 300);
  EXPECT_EQ(frame->Connections()->GetItemCount(), 0);
}

TEST_F(MainFrameTest, ContextMenusBelongToTheirPanes) {
  CMainFrame* frame = Start("18", 0);
  frame->Connections()->SendMessage(WM_CONTEXTMENU, 0, MAKELPARAM(40, 50));
  ::SendMessage(frame->GetSafeHwnd(), WM_CONTEXTMENU, MAKELPARAM(40, 50),
                static_cast<LPARAM>(frame->Connections()->GetSafeHwnd()));
  ::SendMessage(frame->GetSafeHwnd(), WM_CONTEXTMENU, MAKELPARAM(40, 90),
                static_cast<LPARAM>(frame->Packets()->GetSafeHwnd()));
  ASSERT_GE(m_script.Menus().size(), 2u);
  const auto& packets = m_script.Menus().back();
  const auto& connections = m_script.Menus()[m_script.Menus().size() - 2];
  EXPECT_EQ(connections.items, (std::vector<std::string>{"Block/Allow", "Connections Link Monitor"}));
  EXPECT_EQ(packets.items.front(), "Block/Allow");
  EXPECT_EQ(packets.items.back(), "Trace");
  // The packet pane is idle: its log commands, the inspection windows and the route window are there.
  EXPECT_EQ(packets.enabledIds, (std::vector<UINT>{ID_PKT_EXAMINE, ID_PKT_LINK_MONITOR, ID_PKT_LOG_PAGES, ID_PKT_FIND, ID_PKT_FEED,
                                                   ID_PKT_COMPARE, ID_PKT_TRACE}));

  // Scan > Trace opens one route window 20 px right of and below the frame's corner, 40 px
  // taller than its client area; asking again only brings it to the front.
  ASSERT_TRUE(Enabled(frame, ID_SCAN_TRACE));
  Choose(frame, ID_SCAN_TRACE);
  Window* route = frame->Packets()->GetRouteWindow();
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(route->GetWindowText(), "Ip Route(s)");
  const Rect corner = frame->GetWindowRect();
  EXPECT_EQ(route->GetWindowRect().left, corner.left + 20);
  EXPECT_EQ(route->GetWindowRect().top, corner.top + 20);
  Choose(frame, ID_SCAN_TRACE);
  EXPECT_EQ(frame->Packets()->PacketWindows(), (std::vector<Window*>{route}));

  // The inspection windows: Feed and Compare while none of theirs is open, Compare Add once a
  // compare window is; the chosen item opens its window.
  const auto packetMenu = [&](UINT choice) {
    m_script.AnswerMenu(choice);
    ::SendMessage(frame->GetSafeHwnd(), WM_CONTEXTMENU, MAKELPARAM(40, 90),
                  static_cast<LPARAM>(frame->Packets()->GetSafeHwnd()));
    UiPump::Instance().PumpPending();
    return m_script.Menus().back().enabledIds;
  };
  EXPECT_EQ(packetMenu(ID_PKT_COMPARE), (std::vector<UINT>{ID_PKT_EXAMINE, ID_PKT_LINK_MONITOR, ID_PKT_LOG_PAGES, ID_PKT_FIND, ID_PKT_FEED, ID_PKT_COMPARE, ID_PKT_TRACE}));
  EXPECT_NE(frame->Packets()->GetCompareWindow(), nullptr);
  EXPECT_EQ(packetMenu(ID_PKT_FEED), (std::vector<UINT>{ID_PKT_EXAMINE, ID_PKT_LINK_MONITOR, ID_PKT_LOG_PAGES, ID_PKT_FIND, ID_PKT_FEED, ID_PKT_COMPARE_ADD, ID_PKT_TRACE}));
  EXPECT_NE(frame->Packets()->GetFeedWindow(), nullptr);
  EXPECT_EQ(packetMenu(0), (std::vector<UINT>{ID_PKT_EXAMINE, ID_PKT_LINK_MONITOR, ID_PKT_LOG_PAGES, ID_PKT_FIND, ID_PKT_COMPARE_ADD, ID_PKT_TRACE}));
}

TEST_F(MainFrameTest, LogPagesAndFindReloadThePacketPaneFromTheChosenPageOrRecord) {
  const auto positions = log_test::Append(m_folder + "PelorinProLogPkt.rec", log_test::Numbered(600));
  CMainFrame* frame = Start("16", 0);
  MonListIpMon* pane = frame->Packets();
  const auto shows = [&](LONG first) {
    return UiPump::Instance().PumpUntil(
        [&] {
          const auto* item = reinterpret_cast<const _ShowPacketReceivePackIp*>(pane->GetItemData(0));
          return pane->GetItemCount() == 256 && item != nullptr && item->recordPosition == first;
        },
        5000);
  };
  const auto contextMenu = [&](UINT choice) {
    m_script.AnswerMenu(choice);
    ::SendMessage(frame->GetSafeHwnd(), WM_CONTEXTMENU, MAKELPARAM(40, 90), static_cast<LPARAM>(pane->GetSafeHwnd()));
    UiPump::Instance().PumpPending();  // the chosen command, posted
  };

  m_script.OnNextModal([](Dialog& d) {
    auto& pages = dynamic_cast<DlgPelorinLogPages&>(d);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !pages.IsListing(); }, 5000));
    d.SelectListItem(DlgPelorinLogPages::IDC_LIST_PAGES, 1);
    d.ClickButton(IDOK);
  });
  contextMenu(ID_PKT_LOG_PAGES);
  EXPECT_EQ(frame->GetStatusBar()->GetPaneText(0), "Page :1 - File Pos. :" + std::to_string(positions[256]));
  EXPECT_TRUE(shows(positions[256]));

  // Find: the pane is loaded from the record chosen with Load From.
  m_script.OnNextModal([](Dialog& d) {
    auto& find = dynamic_cast<DlgPelorinFind&>(d);
    d.TypeInto(DlgPelorinFind::IDC_EDIT_TEXT, "packet 300");
    d.ClickButton(IDOK);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !find.IsSearching(); }, 5000));
    d.SelectListItem(DlgPelorinFind::IDC_LIST_PACKETS, 0);
    d.ClickButton(DlgPelorinFind::IDC_BUTTON_LOAD_FROM);
  });
  contextMenu(ID_PKT_FIND);
  EXPECT_EQ(frame->GetStatusBar()->GetPaneText(0), "Page :1 - File Pos. :" + std::to_string(positions[300]));
  EXPECT_TRUE(shows(positions[300]));
  EXPECT_EQ(m_script.UnscriptedModals(), 0);

  // Neither log command is offered while the pane captures.
  Choose(frame, ID_SCAN_START_STOP);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetCaptureThread()->GetIdleMessage() != 0; }, 5000));
  contextMenu(0);
  EXPECT_EQ(m_script.Menus().back().enabledIds,
            (std::vector<UINT>{ID_PKT_EXAMINE, ID_PKT_LINK_MONITOR, ID_PKT_FEED, ID_PKT_COMPARE, ID_PKT_TRACE}));
}

TEST_F(MainFrameTest, TheLinkLogWindowOpensOnceAndClosesOnDoneAndAtShutdown) {
  CMainFrame* frame = Start("18", 0);
  ASSERT_TRUE(Enabled(frame, ID_FILE_LOAD_LINK_LOG));
  ASSERT_TRUE(Choose(frame, ID_FILE_LOAD_LINK_LOG));
  DlgIpMon* window = frame->GetLinkLogWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->GetWindowText(), "Open Connections Link Log");
  EXPECT_FALSE(Enabled(frame, ID_FILE_LOAD_LINK_LOG));
  window->ClickButton(IDOK);  // Done asks the frame, which deletes it
  UiPump::Instance().PumpPending();
  EXPECT_EQ(frame->GetLinkLogWindow(), nullptr);
  EXPECT_TRUE(Enabled(frame, ID_FILE_LOAD_LINK_LOG));

  ASSERT_TRUE(Choose(frame, ID_FILE_LOAD_LINK_LOG));
  const std::string temp = frame->GetLinkLogWindow()->GetThread()->LogGet();
  EXPECT_EQ(temp.rfind(m_folder + "ConnLogs/PET", 0), 0u);
  ASSERT_TRUE(Choose(frame, ID_APP_EXIT));
  EXPECT_EQ(frame->GetLinkLogWindow(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST_F(MainFrameTest, ShutdownClosesEveryPaneInOrderPromptly) {
  CMainFrame* frame = Start("30", 0);
  Choose(frame, ID_SCAN_START_STOP);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return frame->Connections()->GetItemCount() > 0; }, 10000));
  Taken();
  const HWND handle = frame->GetSafeHwnd();
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(Choose(frame, ID_APP_EXIT));
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_FALSE(Window::IsWindow(handle));
  EXPECT_TRUE(frame->IsClosing());
  EXPECT_EQ(Taken(), (Calls{"close packets", "close connections", "close protocol", "close ip"}));
  for (Pane pane : kScreenOrder) EXPECT_EQ(frame->GetPane(pane)->GetThread(), nullptr);
  std::printf("shutdown with four panes scanning: %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
}  // namespace frame_test

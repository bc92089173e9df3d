// Every command of the frame's menus and of the two pane context menus against its enabling rule,
// in each state that a rule reads: scanning or not, an adapter or none, the firewall engine
// absent, installed or holding the console lock, and the frame's and panes' windows open or not.
// Also the accelerators: F6 / Shift+F6 move the focus round the visible panes.
#include <algorithm>
#include <functional>
#include <map>

#include "MainFrameTestSupport.h"
#include "platform/FileContents.h"
#include "ui/HelpFile.h"
#include "app/MainMenu.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/packets/WiresharkHandoff.h"
#include "controls/trace/DlgPelorinTraceIds.h"
#include <set>

namespace frame_test {
namespace {

enum class Engine { Absent, Installed, Locked };

struct State {
  bool scanning = false;
  bool adapter = true;  // "AdapterCurr" not negative: the packet pane exists
  Engine engine = Engine::Absent;
  bool windowsOpen = false;  // the link-log window, a feed and a compare window
};

using Rule = std::function<bool(const State&)>;

bool Always(const State&) { return true; }
bool Never(const State&) { return false; }
bool NotScanning(const State& s) { return !s.scanning; }
bool Installed(const State& s) { return s.engine != Engine::Absent; }
bool Open(const State& s) { return s.engine == Engine::Installed; }  // installed, not locked
bool Packets(const State& s) { return s.adapter; }
bool PacketsIdle(const State& s) { return s.adapter && !s.scanning; }

// The rules of the command table. No row is chosen in these states, so neither Block/Allow is
// offered; the engine is never running, so Stop and Statistics are not either.
const std::map<UINT, Rule>& Table() {
  static const std::map<UINT, Rule> table{
      {ID_FILE_SAVE_LAYOUT, Always},
      {ID_FILE_PROPERTIES, Always},
      {ID_FILE_SESSION_SELECT, NotScanning},
      {ID_FILE_SESSION_LOAD, NotScanning},
      {ID_FILE_DEFAULT_LOGS, NotScanning},
      {ID_FILE_RULES_SELECT, Installed},
      {ID_FILE_DEFAULT_RULES, Installed},
      {ID_FILE_LOAD_LINK_LOG, [](const State& s) { return s.adapter && !s.windowsOpen; }},
      {ID_FILE_EXPORT_PACKET_LOG, Packets},
      {ID_FILE_IMPORT_CAPTURE, PacketsIdle},
      {ID_APP_EXIT, Always},
      {ID_VIEW_CONNECTIONS, Always},
      {ID_VIEW_SHOW_CURRENT_ONLY, Always},
      {ID_VIEW_LOAD_FULL_LOG, NotScanning},
      {ID_VIEW_PACKETS, Packets},
      {ID_VIEW_MONITOR_EXCLUSIVE, PacketsIdle},
      {ID_VIEW_APPLY_FILTERS, Packets},
      {ID_VIEW_SET_FILTERS, Packets},
      {ID_VIEW_LOAD_LOG, PacketsIdle},
      {ID_VIEW_PROTOCOL_STATS, Always},
      {ID_VIEW_IP_STATS, Always},
      {ID_VIEW_CLEAR, Always},
      {ID_SCAN_START_STOP, Always},
      {ID_SCAN_TRACE, Packets},
      {ID_SCAN_PROPERTIES, Always},
      {ID_RAMPARO_ATTACH, Never},
      {ID_RAMPARO_START, Open},
      {ID_RAMPARO_STOP, Never},
      {ID_RAMPARO_BLOCK_ALLOW, Never},
      {ID_RAMPARO_RULES, Open},
      {ID_RAMPARO_PROPERTIES, Open},
      {ID_RAMPARO_VIEW_LOG, Open},
      {ID_RAMPARO_STATISTICS, Never},
      {ID_RAMPARO_PROCESSES, Open},
      {ID_HELP, Always},
      {ID_APP_ABOUT, Always},
      {ID_CONN_BLOCK_ALLOW, Never},
      {ID_CONN_LINK_MONITOR, Packets},  // the connections pane exists; the rule reads the adapter
      {ID_PKT_BLOCK_ALLOW, Never},
      {ID_PKT_EXAMINE, Packets},
      {ID_PKT_LINK_MONITOR, Packets},
      {ID_PKT_LOG_PAGES, PacketsIdle},
      {ID_PKT_FIND, PacketsIdle},
      {ID_PKT_FEED, [](const State& s) { return s.adapter && !s.windowsOpen; }},
      {ID_PKT_COMPARE, [](const State& s) { return s.adapter && !s.windowsOpen; }},
      {ID_PKT_COMPARE_ADD, [](const State& s) { return s.adapter && s.windowsOpen; }},
      {ID_PKT_TRACE, Packets},
  };
  return table;
}

class MenuTableTest : public MainFrameTest {
 protected:
  // The packet pane alone, loading five logged packets sent to 10.9.0.0 .. 10.9.0.4.
  CMainFrame* StartWithFivePackets() {
    auto packets = log_test::Numbered(5);
    for (std::size_t i = 0; i < packets.size(); ++i) packets[i].destination = "10.9.0." + std::to_string(i);
    log_test::Append(m_folder + "PelorinProLogPkt.rec", packets);
    CMainFrame* frame = Start("16", 0);
    frame->Packets()->LoadLastLog();
    return frame;
  }
  CMainFrame* StartIn(const State& state) {
    AppProfile engine{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
    AppProfile console{"DunmereIncProducts\\Setup", "IpRamparo"};
    if (state.engine != Engine::Absent) {
      engine.WriteProfileString("", "CfgFile", "");
      console.WriteProfileString("", "RamparoThreadAppLoc", "/opt/ramparo");
    }
    CMainFrame* frame = Start("18", state.adapter ? 0 : -1);
    if (state.engine == Engine::Locked) RampaBlockSet(frame->GetFirewall()->ChannelView(), kRampaOffConsoleLock, 1);
    if (state.windowsOpen) {
      Choose(frame, ID_FILE_LOAD_LINK_LOG);
      PacketMenu(frame, ID_PKT_FEED);
      PacketMenu(frame, ID_PKT_COMPARE);
    }
    if (state.scanning) {
      Choose(frame, ID_SCAN_START_STOP);
      EXPECT_TRUE(UiPump::Instance().PumpUntil(
          [&] {
            return frame->Connections()->Scanner()->GetIdleMessage() != 0 &&
                   (frame->Packets() == nullptr || frame->Packets()->GetCaptureThread()->GetIdleMessage() != 0);
          },
          5000));
    }
    return frame;
  }
  // Opens a pane's context menu (choosing an item, or none) and returns the items it enabled.
  std::vector<UINT> ContextMenu(CMainFrame* frame, PelorinCListView* pane, UINT choice = 0) {
    m_script.AnswerMenu(choice);
    const std::size_t shown = m_script.Menus().size();
    ::SendMessage(frame->GetSafeHwnd(), WM_CONTEXTMENU, MAKELPARAM(40, 90), static_cast<LPARAM>(pane->GetSafeHwnd()));
    UiPump::Instance().PumpPending();
    return m_script.Menus().size() > shown ? m_script.Menus().back().enabledIds : std::vector<UINT>{};
  }
  void PacketMenu(CMainFrame* frame, UINT choice) { ContextMenu(frame, frame->Packets(), choice); }

  // The enabled commands of the menus and of the context menus of the panes that exist.
  std::set<UINT> EnabledCommands(CMainFrame* frame) {
    std::set<UINT> enabled;
    for (const auto& [id, rule] : Table())
      if (frame->GetMenu()->Find(id, MF_BYCOMMAND, nullptr) != nullptr && Enabled(frame, id)) enabled.insert(id);
    for (PelorinCListView* pane : {static_cast<PelorinCListView*>(frame->Connections()),
                                   static_cast<PelorinCListView*>(frame->Packets())})
      if (pane != nullptr)
        for (UINT id : ContextMenu(frame, pane)) enabled.insert(id);
    return enabled;
  }
};

TEST_F(MenuTableTest, EveryCommandFollowsItsRuleInEveryState) {
  // The table covers every item of the menus.
  const std::function<void(const Menu&)> covered = [&](const Menu& menu) {
    for (const Menu::Item& item : menu.Items()) {
      if (item.popup) {
        // "Open in Wireshark" depends on the programs of the machine; the handoff's own test
        // checks its rules.
        if (item.text != WiresharkHandoff::kMenuText) covered(*item.popup);
      } else if (!(item.flags & MF_SEPARATOR)) {
        EXPECT_EQ(Table().count(item.id), 1u) << item.text;
      }
    }
  };
  covered(*BuildMainMenu());
  covered(*BuildConnectionsContextMenu());
  covered(*BuildPacketsContextMenu());
  std::vector<State> states;
  for (bool adapter : {true, false})
    for (Engine engine : {Engine::Absent, Engine::Installed, Engine::Locked})
      for (bool scanning : {false, true}) states.push_back(State{scanning, adapter, engine, false});
  states.push_back(State{false, true, Engine::Absent, true});
  states.push_back(State{true, true, Engine::Installed, true});

  std::set<UINT> everEnabled;
  for (const State& state : states) {
    SCOPED_TRACE(::testing::Message() << "scanning " << state.scanning << ", adapter " << state.adapter << ", engine "
                                      << static_cast<int>(state.engine) << ", windows " << state.windowsOpen);
    CMainFrame* frame = StartIn(state);
    const std::set<UINT> enabled = EnabledCommands(frame);
    for (const auto& [id, rule] : Table()) {
      EXPECT_EQ(enabled.count(id) != 0, rule(state)) << "command " << id;
      if (enabled.count(id) != 0) everEnabled.insert(id);
    }
    m_app.reset();
    UiPump::Instance().PumpPending();
    // The next state starts on an empty registry and working folder.
    for (const auto& entry : std::filesystem::directory_iterator(m_folder)) std::filesystem::remove_all(entry.path());
  }
  // Nothing but Attach stays disabled for good: Stop, Statistics and the Block/Allow items wait
  // for a running engine or a chosen row.
  for (const auto& [id, rule] : Table()) {
    if (everEnabled.count(id) != 0) continue;
    EXPECT_TRUE(id == ID_RAMPARO_ATTACH || id == ID_RAMPARO_STOP || id == ID_RAMPARO_STATISTICS ||
                id == ID_RAMPARO_BLOCK_ALLOW || id == ID_CONN_BLOCK_ALLOW || id == ID_PKT_BLOCK_ALLOW)
        << "command " << id << " is never enabled";
  }
}

TEST_F(MenuTableTest, F6AndShiftF6MoveTheFocusRoundTheVisiblePanesAndF1OpensHelp) {
  CMainFrame* frame = Start("30", 0);  // connections, packets, protocol and IP statistics
  Choose(frame, ID_VIEW_PROTOCOL_STATS);  // hidden panes are passed over
  const auto focused = [&]() -> PelorinCListView* {
    for (Pane pane : kScreenOrder)
      if (frame->GetPane(pane) != nullptr && frame->GetPane(pane)->HasFocus()) return frame->GetPane(pane);
    return nullptr;
  };
  std::vector<PelorinCListView*> order;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(frame->TranslateAccelerator(VK_F6, 0));
    order.push_back(focused());
  }
  EXPECT_EQ(order, (std::vector<PelorinCListView*>{frame->Connections(), frame->Packets(), frame->IpStats(),
                                                    frame->Connections()}));
  ASSERT_TRUE(frame->TranslateAccelerator(VK_F6, FSHIFT));
  EXPECT_EQ(focused(), frame->IpStats());

  // F1 and Help > Help Topics open the manual that sits beside the program, as installed.
  const std::size_t messages = m_script.Messages().size();
  EXPECT_TRUE(frame->TranslateAccelerator(VK_F1, 0));
  EXPECT_TRUE(Choose(frame, ID_HELP));
  const std::string manual = HelpFilePath();
  EXPECT_EQ(m_script.HelpFiles(), (std::vector<std::string>{manual, manual}));
  EXPECT_TRUE(manual.ends_with("/share/PelorinPro/Pelorin.html")) << manual;
  EXPECT_NE(ReadFileContents(manual).value_or("").find("<title>Pelorin Pro v3.1"), std::string::npos) << manual;
  EXPECT_EQ(m_script.Messages().size(), messages);  // no word that it could not be opened
  EXPECT_FALSE(frame->TranslateAccelerator('Q', FCONTROL));  // not in the table
  EXPECT_EQ(BuildMainAccelerators().size(), 12u);
}

// Ctrl+C puts the focused pane's selected rows on the clipboard, a line per row with its cells
// as drawn in the shown column order ("Process" included); without a selection it changes nothing.
TEST_F(MenuTableTest, CtrlCCopiesTheFocusedPanesSelectedRowsInTheShownColumnOrder) {
  CMainFrame* frame = StartWithFivePackets();
  MonListIpMon* pane = frame->Packets();
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetItemCount() == 5; }, 5000));
  std::vector<int> order = pane->GetColumnOrderArray();
  ASSERT_EQ(order.size(), static_cast<std::size_t>(MonListIpMon::kProcessColumn + 1));
  std::rotate(order.begin(), order.begin() + 4, order.end());  // "To" shown first
  ASSERT_TRUE(pane->SetColumnOrderArray(order));
  pane->SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
  pane->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);  // the pane keeps one row selected

  UiServices::Current().SetClipboardText("before");
  ASSERT_TRUE(frame->TranslateAccelerator('C', FCONTROL));
  EXPECT_EQ(UiServices::Current().GetClipboardText(), "before");  // no pane has the focus
  pane->SetFocus();
  ASSERT_TRUE(frame->TranslateAccelerator('C', FCONTROL));
  std::string expected;
  for (std::size_t i = 0; i < order.size(); ++i) {
    std::string cell;
    ASSERT_TRUE(pane->GetCell(1, order[i], &cell, nullptr, nullptr));
    expected += (i > 0 ? "\t" : "") + cell;
  }
  expected += "\n";
  EXPECT_EQ(UiServices::Current().GetClipboardText(), expected);
  EXPECT_TRUE(expected.starts_with("10.9.0.1\t")) << expected;

  pane->SetItemState(-1, 0, LVIS_SELECTED);
  UiServices::Current().SetClipboardText("kept");
  ASSERT_TRUE(frame->TranslateAccelerator(VK_INSERT, FCONTROL));
  EXPECT_EQ(UiServices::Current().GetClipboardText(), "kept");
}

TEST_F(MenuTableTest, ThePacketContextMenuActsOnTheClickedRowAndColumn) {
  CMainFrame* frame = StartWithFivePackets();
  MonListIpMon* pane = frame->Packets();
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetItemCount() == 5; }, 5000));
  constexpr int kTo = 4;  // the "To" column
  const std::string target = pane->GetItemText(3, kTo);
  ASSERT_EQ(target, "10.9.0.3");
  pane->UserRightClick(3, kTo);
  EXPECT_EQ(pane->GetCurrentItem(), 3);
  EXPECT_EQ(pane->GetCurrentColumn(), kTo);
  ContextMenu(frame, pane, ID_PKT_TRACE);
  auto* route = dynamic_cast<Dialog*>(pane->GetRouteWindow());
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(route->GetDlgItemText(TraceIds::IDC_IPADDRESS_TRACE), target);
}

}  // namespace
}  // namespace frame_test

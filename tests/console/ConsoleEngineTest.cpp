// The firewall menu of the real frame against the real engine program: start and stop, the
// shutdown question, the properties and the enabling rule of every command in each engine state.
#include <arpa/inet.h>

#include <chrono>

#include "../platform/LoopbackSockets.h"
#include "ConsoleTestSupport.h"
#include "app/DlgIpRamparoProperties.h"
#include "app/DlgRuleLog.h"
#include "app/FirewallMenu.h"
#include "app/MainMenu.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "common/FieldText.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RamparoFileNames.h"
#include "ui/ListControl.h"

namespace {

using Props = DlgIpRamparoProperties;

bool Enabled(CMainFrame* frame, UINT id) {
  Menu* holder = nullptr;
  frame->GetMenu()->Find(id, MF_BYCOMMAND, &holder);
  holder->UpdateItems(frame);
  return frame->GetMenu()->IsEnabled(id);
}

// The firewall items offered, in menu order, and the connections pane's Block/Allow.
std::string Offered(CMainFrame* frame) {
  std::string offered;
  for (UINT id : {ID_RAMPARO_ATTACH, ID_RAMPARO_START, ID_RAMPARO_STOP, ID_RAMPARO_BLOCK_ALLOW, ID_RAMPARO_RULES,
                  ID_RAMPARO_PROPERTIES, ID_RAMPARO_VIEW_LOG, ID_RAMPARO_STATISTICS, ID_RAMPARO_PROCESSES})
    offered += Enabled(frame, id) ? '1' : '0';
  auto pane = BuildConnectionsContextMenu();
  pane->UpdateItems(frame);
  return offered + (pane->IsEnabled(ID_CONN_BLOCK_ALLOW) ? "1" : "0");
}

}  // namespace

TEST_F(ConsoleTest, StartAndStopDriveTheEngineAndOnlyOurOwnEngineIsOfferedToEnd) {
  CMainFrame* frame = StartProgram();
  ASSERT_NE(frame, nullptr);
  void* view = Watch();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffAppName), "PelorinPro");

  m_script.OnNextModal([](Dialog&) {});  // the progress window stays until the start has ended
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_START, frame));
  ASSERT_EQ(m_script.ModalCaptions().back(), "Starting IpRamparo");
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 1u);
  EXPECT_TRUE(m_script.Messages().empty());

  // The settings reach the console key, and the filtering engine is told of them.
  m_consoleKey.WriteProfileInt("", "IpRamparoBlockAll", 1);
  m_consoleKey.WriteProfileInt("", "IpRamparoBlockUdp", 1);
  const std::uint32_t loads = RampaBlockGet(view, kRampaEngineSettingsLoads);
  m_script.OnNextModal([](Dialog& d) {
    EXPECT_EQ(d.IsDlgButtonChecked(Props::IDC_CHECK_ALL), BST_CHECKED);  // with the stored protocol states
    EXPECT_EQ(d.IsDlgButtonChecked(Props::IDC_CHECK_TCP), BST_UNCHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(Props::IDC_CHECK_ICMP), BST_CHECKED);  // its default
    EXPECT_EQ(d.GetCheckedRadioButton(Props::IDC_RADIO_INCOMING, Props::IDC_RADIO_BOTH), 0);
    d.ClickButton(Props::IDC_CHECK_UDP);  // a protocol changed: not all any more
    EXPECT_EQ(d.IsDlgButtonChecked(Props::IDC_CHECK_ALL), BST_UNCHECKED);
    d.ClickButton(Props::IDC_CHECK_ALL);
    EXPECT_EQ(d.IsDlgButtonChecked(Props::IDC_CHECK_TCP), BST_CHECKED);
    d.ClickButton(Props::IDC_CHECK_LOG);
    d.TypeInto(Props::IDC_EDIT_INTERVAL, "15");
    d.ClickButton(IDOK);
  });
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_PROPERTIES, frame));
  EXPECT_EQ(m_consoleKey.GetProfileInt("", "IpRamparoBlockTcp", -1), 1);
  EXPECT_EQ(m_consoleKey.GetProfileInt("", "IpRamparoBlockDirections", -1), 0);
  EXPECT_EQ(m_consoleKey.GetProfileInt("", "IpRamparoRefreshInterval", -1), 15);
  EXPECT_EQ(m_engineKey.GetProfileInt("", "IpRamparoLog", -1), 0);
  EXPECT_EQ(RampaBlockGet(view, kRampaEngineSettingsLoads), loads + 1);

  // Stop offers to end the engine this console started; No leaves it running.
  m_script.AnswerMessageBox(IDNO);
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_STOP, frame));
  ASSERT_EQ(m_script.Messages().size(), 1u);
  EXPECT_EQ(m_script.Messages()[0].caption, "IpRamparo Running");
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 0u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 1u);
  m_script.OnNextModal([](Dialog&) {});
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_START, frame));  // running already: not started again
  m_script.AnswerMessageBox(IDYES);
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_STOP, frame));
  ASSERT_TRUE(WaitFor([&] { return RampaBlockGet(view, kRampaOffEnginePresent) == 0; }, std::chrono::seconds(10)));

  // An engine someone else started is stopped, never offered to end.
  ASSERT_TRUE(StartOwnEngine());
  m_script.OnNextModal([](Dialog&) {});
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_START, frame));
  ASSERT_EQ(RampaBlockGet(view, kRampaOffFiltering), 1u);
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_STOP, frame));
  EXPECT_EQ(m_script.Messages().size(), 2u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 0u);
  EXPECT_TRUE(m_engine.IsRunning());
}

TEST_F(ConsoleTest, EveryFirewallCommandFollowsTheEngineState) {
  const Fd listener = BoundSocket(SOCK_STREAM);  // a row for the connections pane
  CMainFrame* frame = StartProgram();
  ASSERT_NE(frame, nullptr);
  MonListMon* connections = frame->Connections();
  ASSERT_NE(connections, nullptr);
  ASSERT_TRUE(connections->Scanner()->ScanPass());
  ASSERT_GT(connections->GetItemCount(), 0);
  // Attach, Start, Stop, Ip Block/Allow, Rules, Properties, View Log, Statistics, Processes,
  // then the connections pane's Block/Allow (without the focus on the pane).
  EXPECT_EQ(Offered(frame), "0100111010") << "absent";
  connections->UserClick(0, 0);  // the pane has the focus and a row
  EXPECT_EQ(Offered(frame), "0100111011") << "absent, with a row";

  ASSERT_TRUE(StartOwnEngine());
  EXPECT_EQ(Offered(frame), "0100111011") << "present and stopped";
  void* view = Watch();
  ASSERT_NE(m_watch->SendEngineMessageWithReturn(kRampaMsgStart, 0, 0, 1), nullptr);
  EXPECT_EQ(Offered(frame), "0010111111") << "filtering";
  RampaBlockSet(view, kRampaOffConsoleLock, 1);  // the engine's console lock
  EXPECT_EQ(Offered(frame), "0000000000") << "locked";
  RampaBlockSet(view, kRampaOffConsoleLock, 0);
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1 ( " + m_folder.File("Ramparo.cfg") + " )");

  // Without a registered program location nothing of the engine is offered.
  m_consoleKey.WriteProfileString("", "RamparoThreadAppLoc", "");
  frame = StartProgram();
  // The first frame wiped the block it had made when it let go; the engine raises its flags again.
  ASSERT_TRUE(WaitFor([&] { return PeekBlock(MemFile(), kRampaOffFiltering) != 0; }, std::chrono::seconds(5)));
  EXPECT_EQ(Offered(frame), "0010000000") << "filtering, not installed";
}

TEST_F(ConsoleTest, AStartNobodyAnswersEndsInTheAnomalyMessageOrIsGivenUp) {
  m_engineKey.WriteProfileString("", "RamparoThreadAppLoc", m_folder.File("no-engine-here"));
  CMainFrame* frame = StartProgram();
  ASSERT_NE(frame, nullptr);
  frame->GetFirewallMenu()->SetStartLimits({3, 4, 10, 10});
  m_script.OnNextModal([](Dialog&) {});
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_START, frame));
  ASSERT_EQ(m_script.Messages().size(), 1u);
  EXPECT_EQ(m_script.Messages()[0].caption, "IpRamparo Engine Anamoly");
  EXPECT_EQ(m_script.Messages()[0].text, FirewallMenu::kAnomalyText);

  // With the full limits the sequence would take 30 s: giving up ends it at once, unreported.
  frame->GetFirewallMenu()->SetStartLimits({});
  m_script.OnNextModal([](Dialog& d) {
    d.ClickButton(IDCANCEL);
    EXPECT_EQ(d.GetDlgItemText(1420), "Giving up...");
    EXPECT_FALSE(d.ClickButton(IDCANCEL));
  });
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_START, frame));
  EXPECT_LT(MillisecondsSince(start), 2000.0);
  EXPECT_EQ(m_script.Messages().size(), 1u);
  EXPECT_TRUE(Enabled(frame, ID_RAMPARO_START));
}

TEST_F(ConsoleTest, ViewLogOpensTheRuleLogTheEngineWrites) {
  // No rule log named yet, as on a first start: the console and the engine it starts must agree.
  _FirewallRule rule{};
  SetFieldText(rule.name, "lo5");
  rule.active = 1;
  rule.entries[kRuleRangeStart] = {::inet_addr("127.0.0.5"), 0xFFFFFFFFu, 0, 0};
  rule.kind = 1;
  ASSERT_TRUE(FirewallRuleFile::Write(m_folder.File("Ramparo.cfg"), {rule}));
  m_consoleKey.WriteProfileInt("", "IpRamparoBlockAll", 1);
  CMainFrame* frame = StartProgram();
  ASSERT_NE(frame, nullptr);
  m_script.OnNextModal([](Dialog&) {});
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_START, frame));
  void* view = Watch();
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(RampaBlockGet(view, kRampaOffFiltering), 1u);

  const std::string log = m_folder.File(RamparoFileNames::kBlockLog);
  const Fd sender = BoundSocket(SOCK_DGRAM);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = ::inet_addr("127.0.0.5");
  ASSERT_TRUE(WaitFor(
      [&] {
        ::sendto(sender.get(), "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);  // dropped
        return std::filesystem::exists(log) && std::filesystem::file_size(log) >= 200;
      },
      std::chrono::seconds(10)));
  m_script.OnNextModal([&](Dialog& d) {
    EXPECT_EQ(d.GetWindowText(), "Rule Log - " + log);
    auto* list = d.GetDlgItemAs<ListControl>(DlgRuleLog::IDC_LIST_LOG);
    ASSERT_GE(list->GetItemCount(), 1);
    EXPECT_EQ(list->GetItemText(0, 0), "lo5");
    EXPECT_EQ(list->GetItemText(0, 2), "127.0.0.5:9");
    d.ClickButton(IDOK);
  });
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_RAMPARO_VIEW_LOG, frame));
  EXPECT_EQ(m_engineKey.GetProfileString("", "IpRamparoBlockLogFile"), log);
}

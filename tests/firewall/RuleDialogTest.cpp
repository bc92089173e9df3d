// The rule editor on rule files of every shape, and against the real engine program: the file
// lock that keeps them apart and the reload request after a change.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <memory>

#include "FirewallTestSupport.h"
#include "common/FieldText.h"
#include "common/ResultCodes.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RampaEngineProcess.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "platform/AppProfile.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"

namespace {

using Dlg = DlgPelorinFirewallIp;

_FirewallRule Rule(const char* name, std::uint32_t from, std::uint32_t to, std::uint32_t active) {
  _FirewallRule rule{};
  SetFieldText(rule.name, name);
  rule.active = active;
  rule.entries[kRuleRangeStart] = {from, 0xFFFFFFFFu, 0, 0};
  rule.entries[kRuleRangeEnd] = {to, to ? 0xFFFFFFFFu : 0u, 0, 0};
  rule.kind = 1;
  return rule;
}

std::string Bytes(const _FirewallRule& rule) { return std::string(reinterpret_cast<const char*>(&rule), sizeof rule); }

void WriteFile(const std::string& path, std::uint32_t count, const std::vector<_FirewallRule>& rules,
               const std::string& tail = {}) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&count), sizeof count);
  for (const auto& rule : rules) out << Bytes(rule);
  out << tail;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> RowTexts(const Dialog& d, int row) {
  const auto* list = d.GetDlgItemAs<ListControl>(Dlg::IDC_LIST_RULES);
  return {list->GetItemText(row, 0), list->GetItemText(row, 1), list->GetItemText(row, 2), list->GetItemText(row, 3)};
}

int Rows(const Dialog& d) { return d.GetDlgItemAs<ListControl>(Dlg::IDC_LIST_RULES)->GetItemCount(); }

class RuleDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("PELORIN_REGISTRY", m_folder.File("registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
    m_app.WriteProfileString("", "PelorinFirewallCfgFileCurrent", m_rules);
    m_engineKey.WriteProfileString("", "RampaMemFile", m_folder.File("engine.mem"));
    m_engineKey.WriteProfileString("", "CfgFile", m_rules);
  }
  void TearDown() override {
    if (m_engine.IsRunning()) {
      m_engine.Signal(SIGKILL);
      m_engine.WaitForExit(10000);
    }
    ::unsetenv("PELORIN_REGISTRY");
  }
  // Runs the dialog with the script; the script ends it.
  void Run(const std::function<void(Dlg&)>& script, const _MonListMonItemDataIp* row = nullptr) {
    m_script.OnNextModal([&](Dialog& d) {
      script(static_cast<Dlg&>(d));
      d.ClickButton(Dlg::IDC_BUTTON_DONE);
    });
    Dlg(nullptr, &m_app, row).DoModal();
  }

  TempFolder m_folder;
  std::string m_rules = m_folder.File("Ramparo.cfg");
  AppProfile m_app{"DunmereIncProducts\\Setup", "PelorinPro"};
  AppProfile m_engineKey{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
  ScriptedServices m_script;
  RampaEngineProcess m_engine;
};

}  // namespace

TEST_F(RuleDialogTest, RuleFilesOfEveryShapeLoadAndTheNextSaveWritesTheTrueCount) {
  WriteFile(m_rules, 0, {Rule("ignored", 0x01010101, 0, 1)});  // count 0: empty, whatever follows
  Run([](Dlg& d) { EXPECT_EQ(Rows(d), 0); });

  // A count that is wrong both ways and a short last record.
  WriteFile(m_rules, 9, {Rule("lan", 0x0100A8C0, 0xFE00A8C0, 1), Rule("host", 0x0A0A0A0A, 0, 0)}, "short");
  const std::string name30(30, 'n');
  Run([&](Dlg& d) {
    ASSERT_EQ(Rows(d), 2);
    EXPECT_EQ(RowTexts(d, 0), (std::vector<std::string>{"lan", "192.168.0.1", "192.168.0.254", "Active"}));
    EXPECT_EQ(RowTexts(d, 1), (std::vector<std::string>{"host", "10.10.10.10", "", "Not Active"}));
    EXPECT_FALSE(d.GetDlgItem(Dlg::IDC_BUTTON_SAVE)->IsWindowEnabled());
    EXPECT_FALSE(d.GetDlgItem(Dlg::IDC_RADIO_BLOCK)->IsShown());
    d.TypeInto(Dlg::IDC_EDIT_NAME, name30 + "cut");  // the field takes 30 characters
    d.TypeInto(Dlg::IDC_IP_FROM, "172.16.0.9");
    d.ClickButton(Dlg::IDC_CHECK_ACTIVE);
    d.PressEnter();  // Add Rule is the default button
    EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_EDIT_NAME), "");
  });
  const std::string file = ReadAll(m_rules);
  ASSERT_EQ(file.size(), 4u + 3 * 92);
  EXPECT_EQ(file.substr(0, 4), std::string("\x03\0\0\0", 4));
  EXPECT_EQ(file.substr(4, 92), Bytes(Rule("lan", 0x0100A8C0, 0xFE00A8C0, 1)));
  EXPECT_EQ(file.substr(4 + 2 * 92), Bytes(Rule(name30.c_str(), 0x090010AC, 0, 1)));
  EXPECT_TRUE(m_script.Messages().empty());
}

TEST_F(RuleDialogTest, RowsAreEditedDeletedAndResetAsTheButtonsSay) {
  WriteFile(m_rules, 2, {Rule("one", 0x01010101, 0, 1), Rule("two", 0x02020202, 0, 1)});
  Run([&](Dlg& d) {
    d.ClickButton(Dlg::IDC_BUTTON_ADD);  // no From address
    ASSERT_EQ(m_script.Messages().size(), 1u);
    EXPECT_EQ(m_script.Messages()[0].caption, "Invalid Rule");
    EXPECT_EQ(m_script.Messages()[0].text, "You must select a 'From' Ip Address.\n\n");

    d.SelectListItem(Dlg::IDC_LIST_RULES, 1);
    EXPECT_TRUE(d.IsEditing());
    EXPECT_FALSE(d.GetDlgItem(Dlg::IDC_BUTTON_ADD)->IsWindowEnabled());
    EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_IP_FROM), "2.2.2.2");
    EXPECT_EQ(d.IsDlgButtonChecked(Dlg::IDC_CHECK_ACTIVE), BST_CHECKED);
    d.TypeInto(Dlg::IDC_IP_TO, "2.2.2.9");
    d.ClickButton(Dlg::IDC_BUTTON_SAVE);
    EXPECT_EQ(RowTexts(d, 1), (std::vector<std::string>{"two", "2.2.2.2", "2.2.2.9", "Active"}));
    EXPECT_EQ(FirewallRuleFile::Read(m_rules, 10).rules[1].entries[kRuleRangeEnd].address, 0x09020202u);

    // An edit given up with Reset leaves the file, and the list shows it again.
    d.SelectListItem(Dlg::IDC_LIST_RULES, 0);
    d.TypeInto(Dlg::IDC_EDIT_NAME, "changed");
    d.ClickButton(Dlg::IDC_BUTTON_RESET);
    EXPECT_FALSE(d.IsEditing());
    EXPECT_EQ(RowTexts(d, 0)[0], "one");

    d.SelectListItem(Dlg::IDC_LIST_RULES, 0);
    d.ClickButton(Dlg::IDC_BUTTON_DELETE);
    EXPECT_EQ(d.GetSelectedRow(), -1);
    EXPECT_EQ(d.GetRuleCount(), 1);
  });
  const auto left = FirewallRuleFile::Read(m_rules, 10);
  ASSERT_EQ(left.rules.size(), 1u);
  EXPECT_EQ(left.declaredCount, 1u);
  EXPECT_EQ(GetFieldText(left.rules[0].name), "two");
}

TEST_F(RuleDialogTest, ARowPrefillsTheRuleAndAMissingFileIsAnEmptyListMadeByTheFirstSave) {
  _MonListMonItemDataIp row{};
  row.localAddr = 0x0403020A;  // 10.2.3.4, the address of interest
  Run(
      [](Dlg& d) {
        EXPECT_TRUE(d.IsLoaded());
        EXPECT_EQ(Rows(d), 0);
        EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_IP_FROM), "10.2.3.4");
        EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_IP_TO), "0.0.0.0");  // an empty address field
        EXPECT_EQ(d.IsDlgButtonChecked(Dlg::IDC_CHECK_ACTIVE), BST_CHECKED);
        d.ClickButton(Dlg::IDC_BUTTON_ADD);
      },
      &row);
  EXPECT_TRUE(m_script.Messages().empty());
  const auto saved = FirewallRuleFile::Read(m_rules, 10);
  ASSERT_EQ(saved.rules.size(), 1u);
  EXPECT_EQ(saved.rules[0].entries[kRuleRangeStart].address, 0x0403020Au);
}

TEST_F(RuleDialogTest, AFileThatCouldNotBeReadIsNeverWrittenUntilItIsRead) {
  WriteFile(m_rules, 2, {Rule("one", 0x01010101, 0, 1), Rule("two", 0x02020202, 0, 1)});
  auto engineRead = std::make_unique<FirewallLockedFile>();  // held as the engine holds it
  ASSERT_TRUE(engineRead->OpenRead(m_rules, FirewallLockedFile::Sharing::Shared));
  const std::string before = ReadAll(m_rules);
  Run([&](Dlg& d) {
    EXPECT_FALSE(d.IsLoaded());
    EXPECT_EQ(Rows(d), 0);
    d.TypeInto(Dlg::IDC_IP_FROM, "6.6.6.6");
    d.ClickButton(Dlg::IDC_BUTTON_ADD);
    EXPECT_EQ(Rows(d), 0);
    EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_IP_FROM), "6.6.6.6");  // kept for the next try
    EXPECT_EQ(ReadAll(m_rules), before);

    // Once the engine lets go, the next change reads the file first and keeps its rules.
    engineRead.reset();
    d.ClickButton(Dlg::IDC_BUTTON_ADD);
    EXPECT_TRUE(d.IsLoaded());
    EXPECT_EQ(Rows(d), 3);
  });
  ASSERT_EQ(m_script.Messages().size(), 2u);
  EXPECT_EQ(m_script.Messages()[0].text, Dlg::kLoadLockedText);
  EXPECT_EQ(m_script.Messages()[1].caption, "Configuration File Locked");
  EXPECT_EQ(m_script.Messages()[1].text, Dlg::kUnreadText);
  const auto saved = FirewallRuleFile::Read(m_rules, 10);
  ASSERT_EQ(saved.rules.size(), 3u);
  EXPECT_EQ(GetFieldText(saved.rules[0].name), "one");
  EXPECT_EQ(saved.rules[2].entries[kRuleRangeStart].address, 0x06060606u);
}

TEST_F(RuleDialogTest, TheEngineAndTheEditorEachFailWhileTheOtherHoldsTheFile) {
  WriteFile(m_rules, 1, {Rule("one", 0x01010101, 0, 1)});
  ASSERT_TRUE(m_engine.Start(PELORIN_ENGINE_DIR, m_folder.Path()));
  ASSERT_TRUE(WaitFor([&] { return PeekBlock(m_folder.File("engine.mem"), kRampaOffEnginePresent) != 0; },
                      std::chrono::seconds(10)));
  CRampaMem console(nullptr, "RamparoInterfaceMem.mem", m_folder.File("engine.mem"));
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  auto served = [view] { return RampaBlockGet(view, kRampaEngineServed); };

  // Present but not filtering: a change is written and not announced.
  Run([](Dlg& d) {
    d.TypeInto(Dlg::IDC_IP_FROM, "5.5.5.5");
    d.ClickButton(Dlg::IDC_BUTTON_ADD);
  });
  EXPECT_EQ(served(), 0u);
  ASSERT_NE(console.SendEngineMessageWithReturn(kRampaMsgStart, 0, 0, 1), nullptr);
  EXPECT_EQ(RampaBlockGet(view, kRampaEngineRules), 2u);

  // Filtering: every change is announced and the engine takes the file up.
  Run([](Dlg& d) {
    d.SelectListItem(Dlg::IDC_LIST_RULES, 0);
    d.ClickButton(Dlg::IDC_BUTTON_DELETE);
  });
  ASSERT_TRUE(WaitFor([&] { return RampaBlockGet(view, kRampaEngineLastCode) == kRampaMsgReloadRules; },
                      std::chrono::seconds(5)));
  ASSERT_TRUE(WaitFor([&] { return RampaBlockGet(view, kRampaEngineRules) == 1u; }, std::chrono::seconds(5)));

  {
    // Held as the engine holds it while it reads, after the editor read it: the save fails, the
    // list keeps the change, and the engine is not asked to take up a file that did not change.
    const std::string before = ReadAll(m_rules);
    const std::uint32_t servedBefore = served();
    Run([&](Dlg& d) {
      FirewallLockedFile engineRead;
      ASSERT_TRUE(engineRead.OpenRead(m_rules, FirewallLockedFile::Sharing::Shared));
      d.TypeInto(Dlg::IDC_IP_FROM, "6.6.6.6");
      d.ClickButton(Dlg::IDC_BUTTON_ADD);
      EXPECT_EQ(Rows(d), 2);
    });
    ASSERT_EQ(m_script.Messages().size(), 1u);
    EXPECT_EQ(m_script.Messages()[0].text, Dlg::kSaveLockedText);
    EXPECT_EQ(ReadAll(m_rules), before);
    // Requests are served one at a time in order: a reload request sent by the editor would
    // have been served before this one.
    ASSERT_NE(console.SendEngineMessageWithReturn(kRampaMsgStatistics, 0, 0, 1), nullptr);
    EXPECT_EQ(served(), servedBefore + 1);
  }
  {
    // Held as the editor holds it while it saves: the engine's reload fails and keeps its rules.
    FirewallLockedFile editorSave;
    ASSERT_TRUE(editorSave.OpenRead(m_rules, FirewallLockedFile::Sharing::Exclusive));
    const std::uint8_t* reply = console.SendEngineMessageWithReturn(kRampaMsgReloadRules, 0, 0, 1);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(RampaBlockGet(reply, kRampaReplyResult), static_cast<std::uint32_t>(E_FAIL));
    EXPECT_EQ(RampaBlockGet(view, kRampaEngineRules), 1u);
  }
}

TEST_F(RuleDialogTest, TodaysIpv4RuleFilesStayByteIdenticalAndIpv6RulesJoinThem) {
  const std::string golden = ReadAll(std::string(PELORIN_TESTDATA) + "/firewall/rules-ipv4.cfg");
  ASSERT_EQ(golden.size(), 4u + 3 * 92);
  { std::ofstream(m_rules, std::ios::binary) << golden; }
  Run([&](Dlg& d) {
    ASSERT_EQ(Rows(d), 3);
    EXPECT_EQ(RowTexts(d, 0), (std::vector<std::string>{"lan", "192.168.0.1", "192.168.0.254", "Active"}));
    d.SelectListItem(Dlg::IDC_LIST_RULES, 1);
    d.ClickButton(Dlg::IDC_BUTTON_SAVE);
    EXPECT_EQ(ReadAll(m_rules), golden) << "a save of the rules as they are writes them as they were";

    // IPv6 goes where IPv4 goes and is kept in its shortest text; a pair of both kinds and a text
    // that reads as neither are refused as a missing From is.
    d.TypeInto(Dlg::IDC_EDIT_NAME, "six");
    d.TypeInto(Dlg::IDC_IP_FROM, "2001:DB8:0:0:0:0:0:1");
    d.TypeInto(Dlg::IDC_IP_TO, "10.0.0.1");
    d.ClickButton(Dlg::IDC_BUTTON_ADD);
    d.TypeInto(Dlg::IDC_IP_TO, "2001:db8::ff");
    d.ClickButton(Dlg::IDC_CHECK_ACTIVE);
    d.ClickButton(Dlg::IDC_BUTTON_ADD);
    d.TypeInto(Dlg::IDC_IP_FROM, "2001:db8::g");
    d.ClickButton(Dlg::IDC_BUTTON_ADD);
  });
  ASSERT_EQ(m_script.Messages().size(), 2u);
  EXPECT_EQ(m_script.Messages()[0].caption, "Invalid Rule");
  EXPECT_EQ(m_script.Messages()[0].text, Dlg::kMixedText);
  EXPECT_EQ(m_script.Messages()[1].text, Dlg::kInvalidText);
  const std::string file = ReadAll(m_rules);
  ASSERT_EQ(file.size(), 4u + 4 * 92);
  EXPECT_EQ(file.substr(4, 3 * 92), golden.substr(4)) << "the IPv4 records are untouched";
  const std::string six = file.substr(4 + 3 * 92);
  EXPECT_EQ(six.substr(36, 16), std::string("\x20\x01\x0d\xb8\0\0\0\0\0\0\0\0\0\0\0\x01", 16));
  EXPECT_EQ(six.substr(52, 16), std::string("\x20\x01\x0d\xb8\0\0\0\0\0\0\0\0\0\0\0\xff", 16));
  EXPECT_EQ(six.substr(76, 4), "\xff\xff\xff\xff") << "a To address was given";
  EXPECT_EQ(six.substr(88, 4), std::string("\x06\0\0\0", 4));

  Run([&](Dlg& d) {
    ASSERT_EQ(Rows(d), 4);
    EXPECT_EQ(RowTexts(d, 3), (std::vector<std::string>{"six", "2001:db8::1", "2001:db8::ff", "Active"}));
    d.SelectListItem(Dlg::IDC_LIST_RULES, 3);
    EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_IP_FROM), "2001:db8::1");
    d.ClickButton(Dlg::IDC_BUTTON_SAVE);
  });
  EXPECT_EQ(ReadAll(m_rules), file) << "an IPv6 rule reloads and saves as it was written";
}

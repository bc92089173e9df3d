// The firewall console's windows on data the test makes: statistics replies written into the
// block (hostile ones among them), a rule log and a process file.
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <fstream>
#include <thread>

#include "../platform/LoopbackSockets.h"
#include "ConsoleTestSupport.h"
#include "app/DlgBlockLogPages.h"
#include "app/DlgBlockStatistics.h"
#include "app/DlgRamparoProcesses.h"
#include "app/DlgRuleLog.h"
#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/FirewallRuleLogRecord.h"
#include "common/RuleRange.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "platform/FileContents.h"
#include "ui/ListControl.h"

namespace {

std::uint32_t Ip(const char* text) { return ::inet_addr(text); }

std::vector<std::string> Row(const ListControl* list, int row, int columns) {
  std::vector<std::string> texts;
  for (int column = 0; column < columns; ++column) texts.push_back(list->GetItemText(row, column));
  return texts;
}

// A statistics reply as the engine lays it out: L, N, A0, then the two areas.
struct Entry {
  std::int32_t code;
  std::uint32_t count, protocol, first, second;
  std::uint16_t firstPort, secondPort;
};
std::vector<std::uint8_t> Reply(std::int32_t length, std::int32_t count, const std::vector<Entry>& entries) {
  std::vector<std::uint8_t> p(kRampaPayloadSize, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&p[at], &v, 4); };
  put32(0, static_cast<std::uint32_t>(length));
  put32(4, static_cast<std::uint32_t>(count));
  put32(8, Ip("10.0.0.1"));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t a = 20 + 68 + i * 48, b = 21 + static_cast<std::size_t>(length) + i * 24;
    put32(a, entries[i].count);
    put32(a + 8, static_cast<std::uint32_t>(entries[i].code));
    put32(a + 32, entries[i].protocol);
    std::memcpy(&p[a + 40], &entries[i].firstPort, 2);
    std::memcpy(&p[a + 42], &entries[i].secondPort, 2);
    put32(b, entries[i].first);
    put32(b + 12, entries[i].second);
  }
  return p;
}

}  // namespace

TEST_F(ConsoleTest, StatisticsAddUpTheEngineRepliesAndHostileOnesChangeNothing) {
  FirewallConsole console(m_app);
  console.ResolveEngineFiles(m_folder.Path() + "/");
  ASSERT_TRUE(console.AttachChannel(MemFile(), "PelorinPro"));
  _FirewallRule web{};
  SetFieldText(web.name, "web");
  console.RuleTableAdd(web);

  const std::int32_t l = 68 + 4 * 48;
  std::deque<std::vector<std::uint8_t>> replies{
      Reply(-1, 1, {}),
      Reply(l, 1000000, {}),
      Reply(8192, 1, {}),
      Reply(0x7FFFFFF0, 0x7FFFFFF0, {}),
      Reply(l, 4,
            {{0, 5, 6, Ip("10.0.0.5"), Ip("10.0.0.1"), 80, 5000},  // rule 0, incoming
             {5003, 2, 1, Ip("10.0.0.1"), Ip("8.8.8.8"), 0, 0},    // a protocol block
             {static_cast<std::int32_t>(0xF0000001u), 4, 6, Ip("10.0.0.1"), Ip("10.0.0.5"), 5000, 80},
             {-6001, 1, 17, 0, Ip("9.9.9.9"), 0, 53}}),  // a process block, outgoing
      Reply(l, 4,
            {{-5001, 3, 0, Ip("7.7.7.7"), 0, 0, 0},
             {9, 1, 23, Ip("1.2.3.4"), 0, 0, 0},
             {1, 2, 0, 0, 0, 0, 0},
             {-1, 3, 0, 0, 0, 0, 0}})};
  // Entries 2 and 3 are both ways of the IPv6 rule 1: family 6, its range start in the first
  // area, its end in the second.
  for (std::size_t i = 2; i < 4; ++i) {
    std::uint8_t* first = replies.back().data() + 20 + 68 + i * 48;
    first[4] = 6;
    ASSERT_TRUE(Inet6Pton("2001:db8::5", first + 12));
    ASSERT_TRUE(Inet6Pton("2001:db8::9", replies.back().data() + 21 + l + i * 24 + 4));
  }
  _FirewallRule six{};
  SetFieldText(six.name, "six");
  console.RuleTableAdd(six);

  // The test is the engine: it answers each request with the next reply.
  std::atomic<bool> done{false};
  void* view = console.ChannelView();
  RampaBlockSet(view, kRampaOffEnginePresent, 1);
  RampaBlockSet(view, kRampaOffFiltering, 1);
  std::thread engine([&] {
    while (!done.load()) {
      if (RampaBlockGet(view, kRampaOffRequestPending) == 1 && !replies.empty()) {
        std::memcpy(static_cast<std::uint8_t*>(view) + kRampaOffPayload, replies.front().data(), kRampaPayloadSize);
        replies.pop_front();
        RampaBlockSet(view, kRampaOffReplyReady, 1);
        RampaBlockSet(view, kRampaOffRequestPending, 0);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  std::vector<std::vector<std::string>> shown;
  m_script.OnNextModal([&](Dialog& d) {
    auto& statistics = static_cast<DlgBlockStatistics&>(d);
    for (int request = 0; request < 6; ++request) {
      if (request > 0) statistics.Refresh();
      ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !statistics.IsRequestPending(); }, 10000));
      if (request == 3) {
        EXPECT_TRUE(statistics.Table().Rows().empty()) << "hostile replies add nothing";
      }
    }
    const auto* list = d.GetDlgItemAs<ListControl>(DlgBlockStatistics::IDC_LIST_STATISTICS);
    for (int row = 0; row < list->GetItemCount(); ++row) shown.push_back(Row(list, row, 5));
    EXPECT_FALSE(d.GetDlgItem(DlgBlockStatistics::IDC_BUTTON_REFRESH)->IsShown());
    d.ClickButton(IDOK);
  });
  DlgBlockStatistics(nullptr, console).DoModal();
  done = true;
  engine.join();
  EXPECT_EQ(m_script.ModalCaptions().back(), "Blocking Statistics");
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[4], (std::vector<std::string>{"six", "2001:db8::5", "2", "3", "All"}));
  EXPECT_EQ(shown[0], (std::vector<std::string>{"web", "10.0.0.5:80", "5", "4", "Tcp"}));
  EXPECT_EQ(shown[1], (std::vector<std::string>{"Protocol Blocks", "8.8.8.8", "2", "3", "Protocol Blocks"}));
  EXPECT_EQ(shown[2], (std::vector<std::string>{"Proces Blocking", "9.9.9.9:53", "0", "1", "Udp/Icmp"}));
  EXPECT_EQ(shown[3], (std::vector<std::string>{"", "1.2.3.4", "1", "0", "Tcp/Udp/Icmp"}));
}

TEST_F(ConsoleTest, TheRuleLogShowsItsPagesAndIsChosenAndCleared) {
  const std::string log = m_folder.File("blocks.log");
  {
    std::ofstream out(log, std::ios::binary);
    for (int i = 0; i < 300; ++i) {
      _FirewallRuleLogRecord record{};
      record.time = {2024, 3, 0, 9, 14, 5, 6, static_cast<std::uint16_t>(i == 256 ? 999 : 7)};
      SetFieldText(record.rule.name, "r" + std::to_string(i));
      record.rule.entries[kRuleRangeStart].address = Ip("10.0.0.1");
      record.rule.entries[kRuleRangeEnd].address = i % 2 ? Ip("10.0.0.9") : 0;
      record.blockedAddress = Ip("192.168.1.7");
      record.blockedPort = i % 3 ? htons(443) : 0;
      if (i == 1) {  // an IPv6 block
        ASSERT_TRUE(SetRuleRange(record.rule, "2001:db8::1", "2001:db8::ff"));
        record.family = kLogFamilyIpv6;
        record.blockedAddress = 0;
        ASSERT_TRUE(Inet6Pton("2001:db8::7", record.blockedAddress6));
      }
      out.write(reinterpret_cast<const char*>(&record), sizeof record);
    }
    out << std::string(120, 'x');  // a short last record
  }
  m_engineKey.WriteProfileString("", "IpRamparoBlockLogFile", log);
  FirewallConsole console(m_app);
  console.ResolveEngineFiles(m_folder.Path() + "/");

  const std::string other = m_folder.File("other.log");
  std::filesystem::copy_file(log, other);
  m_script.OnNextModal([&](Dialog& d) {
    auto* list = d.GetDlgItemAs<ListControl>(DlgRuleLog::IDC_LIST_LOG);
    EXPECT_EQ(d.GetWindowText(), "Rule Log - " + log);
    ASSERT_EQ(list->GetItemCount(), 256);
    EXPECT_EQ(Row(list, 0, 4), (std::vector<std::string>{"r0", "10.0.0.1", "192.168.1.7", "03/09/24 14:05:06:007"}));
    EXPECT_EQ(Row(list, 1, 3), (std::vector<std::string>{"r1", "2001:db8::1 - 2001:db8::ff", "[2001:db8::7]:443"}));
    EXPECT_EQ(Row(list, 3, 3), (std::vector<std::string>{"r3", "10.0.0.1 - 10.0.0.9", "192.168.1.7"}));

    m_script.OnNextModal([](Dialog& pages) {
      auto* rows = pages.GetDlgItemAs<ListControl>(DlgBlockLogPages::IDC_LIST_PAGES);
      EXPECT_EQ(pages.GetWindowText(), "Rule Log Pages");
      ASSERT_EQ(rows->GetItemCount(), 2);
      EXPECT_EQ(Row(rows, 1, 2), (std::vector<std::string>{"1", "03/09/24 14:05:06:999"}));
      pages.SelectListItem(DlgBlockLogPages::IDC_LIST_PAGES, 1);
      pages.ClickButton(IDOK);
    });
    d.ClickButton(DlgRuleLog::IDC_BUTTON_PAGES);
    EXPECT_EQ(list->GetItemCount(), 300 - 256);
    EXPECT_EQ(list->GetItemText(0, 0), "r256");

    m_script.AnswerFileDialog(other);
    d.ClickButton(DlgRuleLog::IDC_BUTTON_OPEN);
    EXPECT_EQ(d.GetWindowText(), "Rule Log - " + other);
    EXPECT_EQ(list->GetItemCount(), 256);
    d.ClickButton(DlgRuleLog::IDC_BUTTON_CLEAR);
    EXPECT_EQ(list->GetItemCount(), 0);
    d.ClickButton(IDOK);
  });
  DlgRuleLog(nullptr, console).DoModal();
  EXPECT_EQ(m_engineKey.GetProfileString("", "IpRamparoBlockLogFile"), other);
  EXPECT_EQ(console.BlockLogFile(), other);
  EXPECT_FALSE(std::filesystem::exists(other));
  EXPECT_TRUE(std::filesystem::exists(log));
}

TEST_F(ConsoleTest, BlockingAProcessMarksEveryRowAndEntryOfItsName) {
  const Fd tcp = BoundSocket(SOCK_STREAM), udp = BoundSocket(SOCK_DGRAM);
  // A process with IPv6 sockets is listed by them too.
  const Fd tcp6(socket(AF_INET6, SOCK_STREAM, 0));
  sockaddr_in6 loopback6{};
  loopback6.sin6_family = AF_INET6;
  loopback6.sin6_addr = in6addr_loopback;
  const bool hasIpv6 = bind(tcp6.get(), reinterpret_cast<sockaddr*>(&loopback6), sizeof loopback6) == 0 &&
                       listen(tcp6.get(), 1) == 0;
  const std::string ours = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  // 70 entries, ours blocked first, and a short last record: 64 entries are read.
  const std::string file = m_folder.File("RamparoProcesses.prc");
  {
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < 70; ++i) {
      _FirewallProcessRecord record{};
      record.blocked = i == 0 ? 1 : 0;
      SetFieldText(record.processName, i == 0 ? ours : "ghost" + std::to_string(i));
      out.write(reinterpret_cast<const char*>(&record), sizeof record);
    }
    out << std::string(300, 'x');
  }
  const std::string port = std::to_string(ntohs(LocalOf(tcp.get()).sin_port));
  m_script.OnNextModal([&](Dialog& d) {
    CRamparoListView* view = static_cast<DlgRamparoProcesses&>(d).View();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Entries().size(), 64u);
    std::vector<int> rows;
    for (int row = 0; row < view->GetItemCount(); ++row)
      if (view->GetItemText(row, 0) == ours) rows.push_back(row);
    ASSERT_GE(rows.size(), 2u);
    bool listening = false, listening6 = false;
    for (int row : rows) {
      EXPECT_TRUE(view->IsRowBlocked(row));
      listening |= view->GetItemText(row, 1) == "TCP" && view->GetItemText(row, 2) == "Listen" &&
                   view->GetItemText(row, 4) == port && view->GetItemText(row, 7) == std::to_string(::getpid());
      listening6 |= view->GetItemText(row, 1) == "TCP6" && view->GetItemText(row, 3) == "::1" &&
                    view->GetItemText(row, 7) == std::to_string(::getpid());
    }
    EXPECT_TRUE(listening);
    EXPECT_EQ(listening6, hasIpv6);

    m_script.AnswerMenu(CRamparoListView::kMenuAllow);
    view->UserRightClick(rows[0], 0);
    UiPump::Instance().PumpPending();  // the chosen command is posted to the list
    ASSERT_EQ(m_script.Menus().size(), 1u);
    EXPECT_EQ(m_script.Menus()[0].items, (std::vector<std::string>{"Allow", "Block"}));
    EXPECT_EQ(m_script.Menus()[0].enabledIds, (std::vector<UINT>{CRamparoListView::kMenuAllow}));
    for (int row = 0; row < view->GetItemCount(); ++row) EXPECT_FALSE(view->IsRowBlocked(row)) << row;
    d.ClickButton(IDOK);
  });
  DlgRamparoProcesses(nullptr, file).DoModal();
  const auto entries = FirewallProcessFile::Read(file, FirewallProcessFile::Sharing::Shared).records;
  ASSERT_EQ(entries.size(), 64u);
  EXPECT_EQ(std::filesystem::file_size(file), 64u * 548);
  EXPECT_EQ(GetFieldText(entries[0].processName), ours);
  EXPECT_EQ(entries[0].blocked, 0u);
}

TEST_F(ConsoleTest, AProcessFileHeldByTheEngineIsNeverWrittenAndTheRowsShowTheFile) {
  const Fd tcp = BoundSocket(SOCK_STREAM);
  const std::string ours = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  const std::string file = m_folder.File("RamparoProcesses.prc");
  _FirewallProcessRecord blocked{};
  blocked.blocked = 1;
  SetFieldText(blocked.processName, ours);
  ASSERT_TRUE(FirewallProcessFile::Write(file, {blocked}));
  const auto before = ReadFileContents(file);
  const auto ourRow = [&](CRamparoListView* view) {
    for (int row = 0; row < view->GetItemCount(); ++row)
      if (view->GetItemText(row, 0) == ours) return row;
    return -1;
  };

  // Held while the window opens: nothing is written, neither by the first listing nor by a
  // choice, and nothing is there for the engine to take up.
  auto engineRead = std::make_unique<FirewallLockedFile>();
  ASSERT_TRUE(engineRead->OpenRead(file, FirewallLockedFile::Sharing::Shared));
  m_script.OnNextModal([&](Dialog& d) {
    CRamparoListView* view = static_cast<DlgRamparoProcesses&>(d).View();
    ASSERT_GE(ourRow(view), 0);
    m_script.AnswerMenu(CRamparoListView::kMenuBlock);
    view->UserRightClick(ourRow(view), 0);
    UiPump::Instance().PumpPending();
    EXPECT_EQ(ReadFileContents(file), before);
    // Let go: a refresh reads the file and shows its block.
    engineRead.reset();
    d.ClickButton(DlgRamparoProcesses::IDC_BUTTON_REFRESH);
    EXPECT_TRUE(view->IsRowBlocked(ourRow(view)));
    d.ClickButton(IDOK);
  });
  DlgRamparoProcesses held(nullptr, file);
  held.DoModal();
  ASSERT_EQ(m_script.Messages().size(), 2u);
  EXPECT_EQ(m_script.Messages()[0].text, CRamparoListView::UnreadText(file));
  EXPECT_EQ(m_script.Messages()[1].text, CRamparoListView::UnreadText(file));
  EXPECT_TRUE(held.IsFileWritten());  // by the refresh after the engine let go

  // Held while a choice is written: the failure is said and the row shows the file's mark.
  m_script.OnNextModal([&](Dialog& d) {
    CRamparoListView* view = static_cast<DlgRamparoProcesses&>(d).View();
    FirewallLockedFile reading;
    ASSERT_TRUE(reading.OpenRead(file, FirewallLockedFile::Sharing::Shared));
    m_script.AnswerMenu(CRamparoListView::kMenuAllow);
    view->UserRightClick(ourRow(view), 0);
    UiPump::Instance().PumpPending();
    EXPECT_TRUE(view->IsRowBlocked(ourRow(view)));
    d.ClickButton(IDOK);
  });
  DlgRamparoProcesses(nullptr, file).DoModal();
  ASSERT_EQ(m_script.Messages().size(), 3u);
  EXPECT_NE(m_script.Messages()[2].text.find("could not be written"), std::string::npos);
  const auto entries = FirewallProcessFile::Read(file, FirewallProcessFile::Sharing::Shared).records;
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].blocked, 1u);
}

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "StatsTestSupport.h"
#include "common/Messages.h"
#include "common/ResultCodes.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/DynamicLibrary.h"
#include "platform/IpHelper.h"

namespace {

using Clock = std::chrono::steady_clock;
const Rect kRect{0, 0, 700, 200};

std::vector<std::string> DisplayedTitles(const ListControl& list) {
  std::vector<std::string> titles;
  for (int index : list.GetColumnOrderArray()) {
    ListColumn column;
    list.GetColumn(index, &column);
    titles.push_back(column.title);
  }
  return titles;
}

// Checks each column's sub-item and its width: as many capital X as the title has characters,
// plus the margin.
void ExpectColumns(const ListControl& list, const std::vector<std::pair<std::string, int>>& insertedWithMargin,
                   const std::vector<int>& subItems) {
  ASSERT_EQ(list.GetColumnCount(), static_cast<int>(insertedWithMargin.size()));
  for (int i = 0; i < list.GetColumnCount(); ++i) {
    ListColumn column;
    ASSERT_TRUE(list.GetColumn(i, &column));
    const auto& [title, margin] = insertedWithMargin[static_cast<std::size_t>(i)];
    EXPECT_EQ(column.title, title);
    EXPECT_EQ(column.subItem, subItems[static_cast<std::size_t>(i)]) << title;
    EXPECT_EQ(column.format, LVCFMT_LEFT);
    EXPECT_EQ(column.width, list.GetStringWidth(std::string(title.size(), 'X')) + margin) << title;
  }
}

// A protocol pane that counts the stop acknowledgements reaching it.
class CountingStat : public MonListStat {
 public:
  using MonListStat::MonListStat;
  int acks = 0;

 protected:
  bool PreTranslateMessage(const WindowMessage& message) override {
    if (message.message == WM_PELORIN_STOP_ACK) ++acks;
    return MonListStat::PreTranslateMessage(message);
  }
};

}  // namespace

TEST_F(StatsPaneTest, ColumnsTitlesWidthsDisplayOrderAndInterval) {
  MonListStat stat(&m_app, "Pelorin Pro v3.1");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  ExpectColumns(stat,
                {{"Type", 25}, {"Connects", 25}, {"Receive", 50}, {"Send", 50}, {"ReSend", 25}, {"Err", 15},
                 {"Out Rsts", 15}, {"Active Op.", 15}, {"Passive Op.", 15}, {"Failed Op.", 15},
                 {"Est.Connects", 15}},
                {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1});
  // "Est.Connects" is inserted last and shown second.
  EXPECT_EQ(DisplayedTitles(stat),
            (std::vector<std::string>{"Type", "Est.Connects", "Connects", "Receive", "Send", "ReSend", "Err",
                                      "Out Rsts", "Active Op.", "Passive Op.", "Failed Op."}));
  EXPECT_NE(stat.GetStyle() & LVS_SINGLESEL, 0u);
  EXPECT_EQ(stat.GetIconList(), nullptr);
  EXPECT_EQ(stat.GetThread()->GetScan(), 10000u);  // no "ScanStats": 10 s
  EXPECT_EQ(stat.GetThread()->SuspendCount(), 1u);  // created suspended

  std::vector<std::pair<std::string, int>> ipColumns;
  std::vector<int> ipSubItems;
  for (const char* title : {"Type", "Frwd", "Ttl", "In Receive", "Hdr Err", "Addr Err", "Frwd Dgrams", "Unkn Prot",
                            "In Discards", "Delivers", "Requests", "Rte Discards", "Out Discards", "No Rte",
                            "Reas T/o", "Reas Rqds", "Reas Ok", "Reas Fail", "Frag Ok", "Frag Fail", "Frag Create",
                            "If", "Addr", "Rte"}) {
    ipSubItems.push_back(static_cast<int>(ipColumns.size()));
    ipColumns.emplace_back(title, 25);
  }
  ASSERT_TRUE(m_app.WriteProfileInt("", "ScanStatsIp", 3));
  ASSERT_TRUE(m_app.WriteProfileInt("", "ScanStats", -4));
  MonListStatIp ip(&m_app, "Pelorin Pro v3.1");
  ASSERT_EQ(ip.MonListCreate(nullptr, 1026, kRect), S_OK);
  ExpectColumns(ip, ipColumns, ipSubItems);
  EXPECT_EQ(ip.GetColumnOrderArray(), ipSubItems);
  EXPECT_EQ(ip.GetThread()->GetScan(), 3000u);

  // A negative setting does not wrap into an interval of weeks.
  MonListStat negative(&m_app, "");
  ASSERT_EQ(negative.MonListCreate(nullptr, 1027, kRect), S_OK);
  EXPECT_EQ(negative.GetThread()->GetScan(), 0u);
  // A pane is created once.
  EXPECT_EQ(negative.MonListCreate(nullptr, 1027, kRect), E_FAIL);
}

TEST_F(StatsPaneTest, RecordsFillTheirCellsAsSignedDecimalsAndRowsKeepTheirOrder) {
  MonListStat stat(&m_app, "");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  MonListStatCWinThread* worker = stat.GetStatsThread();

  // Written out of order: the rows still stand TCP, UDP, ICMP, UDPv6, ICMPv6.
  MIB_ICMP_EX icmp6{};
  icmp6.icmpInStats.rgdwTypeCount[128] = 41;  // echo requests in
  icmp6.icmpInStats.rgdwTypeCount[129] = 42;  // echo replies in
  icmp6.icmpOutStats.rgdwTypeCount[128] = 43;
  icmp6.icmpOutStats.rgdwTypeCount[8] = 99;  // the IPv4 echo type means nothing here
  icmp6.icmpInStats.dwErrors = 40;
  icmp6.icmpOutStats.dwErrors = 4;
  worker->SetIcmp6Stats(icmp6);
  MIB_ICMP icmp{};
  icmp.stats.icmpInStats.dwEchos = 31;
  icmp.stats.icmpInStats.dwEchoReps = 32;
  icmp.stats.icmpOutStats.dwEchos = 33;
  icmp.stats.icmpOutStats.dwEchoReps = 99;  // shown nowhere
  icmp.stats.icmpInStats.dwErrors = 0xFFFFFFFFu;
  icmp.stats.icmpOutStats.dwErrors = 3;  // the sum wraps: 2
  worker->SetIcmpStats(icmp);
  MIB_UDPSTATS udp{21, 99, 23, 24, 25};  // in, no ports (shown nowhere), errors, out, addresses
  worker->SetUdpStats(udp);
  worker->SetUdp6Stats(MIB_UDPSTATS{51, 99, 53, 54, 55});
  MIB_TCPSTATS tcp{};
  tcp.dwRtoMax = 99;  // shown nowhere
  tcp.dwActiveOpens = 8;
  tcp.dwPassiveOpens = 9;
  tcp.dwAttemptFails = 10;
  tcp.dwCurrEstab = 1;
  tcp.dwInSegs = 3;
  tcp.dwOutSegs = 4;
  tcp.dwRetransSegs = 5;
  tcp.dwInErrs = 6;
  tcp.dwOutRsts = 7;
  tcp.dwNumConns = 0x80000000u;  // the signed conversion
  worker->SetTcpStats(tcp);

  ASSERT_EQ(Labels(stat), (std::vector<std::string>{"TCP", "UDP", "ICMP", "UDPv6", "ICMPv6"}));
  EXPECT_TRUE(worker->IsTcpRow() && worker->IsUdpRow() && worker->IsIcmpRow());
  const std::vector<std::vector<std::string>> expected = {
      {"TCP", "1", "-2147483648", "3", "4", "5", "6", "7", "8", "9", "10"},
      {"UDP", "", "25", "21", "24", "", "23", "", "", "", ""},
      {"ICMP", "", "31", "32", "33", "", "2", "", "", "", ""},
      {"UDPv6", "", "55", "51", "54", "", "53", "", "", "", ""},
      {"ICMPv6", "", "41", "42", "43", "", "44", "", "", "", ""}};
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(stat.GetItemData(row), nullptr);
    for (int sub = 0; sub <= 10; ++sub)
      EXPECT_EQ(stat.GetItemText(row, sub), expected[static_cast<std::size_t>(row)][static_cast<std::size_t>(sub)])
          << "row " << row << " sub-item " << sub;
  }

  // A later record replaces the texts of the same row.
  tcp.dwCurrEstab = 0xFFFFFFFFu;
  worker->SetTcpStats(tcp);
  EXPECT_EQ(stat.GetItemCount(), 5);
  EXPECT_EQ(stat.GetItemText(0, 1), "-1");

  // The IP and IPv6 rows: counter n of the record at sub-item n.
  MonListStatIp ip(&m_app, "");
  ASSERT_EQ(ip.MonListCreate(nullptr, 1026, kRect), S_OK);
  MIB_IPSTATS ipStats{};
  DWORD* field = &ipStats.dwForwarding;
  for (DWORD n = 1; n <= 23; ++n) field[n - 1] = 100 + n;
  ip.GetStatsThread()->SetIp6Stats(ipStats);
  ipStats.dwRoutingDiscards = 0xFFFFFFFEu;
  ip.GetStatsThread()->SetIpStats(ipStats);
  ASSERT_EQ(Labels(ip), (std::vector<std::string>{"IP", "IPv6"}));
  for (int n = 1; n <= 23; ++n) {
    EXPECT_EQ(ip.GetItemText(0, n), n == 11 ? "-2" : std::to_string(100 + n)) << n;
    EXPECT_EQ(ip.GetItemText(1, n), std::to_string(100 + n)) << n;
  }
  EXPECT_EQ(ip.GetItemText(0, 24), "");
}

TEST_F(StatsPaneTest, SetDeleteAllClearsAtOnceAndTheRowsComeBackInOrder) {
  MonListStat stat(&m_app, "");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  MonListStatIp ip(&m_app, "");
  ASSERT_EQ(ip.MonListCreate(nullptr, 1026, kRect), S_OK);
  for (MonListStatBase* pane : {static_cast<MonListStatBase*>(&stat), static_cast<MonListStatBase*>(&ip)}) {
    pane->GetThread()->SetScan(20);
    EXPECT_EQ(pane->ListStart(), 0);
  }
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return stat.GetItemCount() == ProtocolRows() && ip.GetItemCount() == IpRows(); }, 5000));

  for (int round = 0; round < 20; ++round) {
    stat.SetDeleteAll(1);
    ip.SetDeleteAll(1);
    ASSERT_TRUE(UiPump::Instance().PumpUntil(
        [&] { return stat.GetItemCount() == ProtocolRows() && ip.GetItemCount() == IpRows() && !stat.GetStatThread()->IsDeleteAll(); },
        5000));
    // A clearing that meets the worker mid-pass neither duplicates nor loses a row.
    WaitForPasses(stat.GetThread(), 1);
    ASSERT_EQ(Labels(stat), ProtocolLabels()) << "round " << round;
    ASSERT_EQ(Labels(ip), IpLabels());
    for (int sub = 1; sub <= 10; ++sub) EXPECT_FALSE(stat.GetItemText(0, sub).empty());
    for (int sub = 1; sub <= 23; ++sub) EXPECT_FALSE(ip.GetItemText(0, sub).empty());
  }

  // The statistics keep running while the other monitors stop.
  stat.ListStop();
  EXPECT_TRUE(WaitForPasses(stat.GetThread(), 1));

  // The worker's own clearing (the shell's, for a worker that is not scanning) forgets the rows.
  MonListStat idle(&m_app, "");
  ASSERT_EQ(idle.MonListCreate(nullptr, 1027, kRect), S_OK);
  MonListStatCWinThread* worker = idle.GetStatsThread();
  worker->SetTcpStats(MIB_TCPSTATS{});
  worker->SetDeleteAll(1);
  worker->ListDeleteAll();
  EXPECT_EQ(idle.GetItemCount(), 0);
  EXPECT_FALSE(worker->IsTcpRow());
  EXPECT_FALSE(worker->IsDeleteAll());
}

TEST_F(StatsPaneTest, AMissingCallLeavesItsRowOut) {
  {
    ScopedLibraryExports noUdp("iphlpapi.dll", WithoutExports(LibraryExports("iphlpapi.dll"), {"GetUdpStatistics"}));
    MonListStat stat(&m_app, "");
    ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
    stat.GetThread()->SetScan(10);
    stat.ListStart();
    ASSERT_TRUE(WaitForPasses(stat.GetThread(), 2));
    std::vector<std::string> labels = ProtocolLabels();
    labels.erase(labels.begin() + 1);
    ASSERT_EQ(Labels(stat), labels);
    // The ICMP row is written where it stands, not where it would stand with a UDP row.
    for (int sub : {2, 3, 4, 6}) EXPECT_FALSE(stat.GetItemText(1, sub).empty()) << sub;
  }
  {
    // IPv6 calls that answer as on a machine without IPv6: the IPv4 rows alone.
    LibraryExportTable exports =
        WithoutExports(LibraryExports("iphlpapi.dll"), {"GetUdpStatisticsEx", "GetIcmpStatisticsEx", "GetIpStatisticsEx"});
    exports.push_back(MakeExport("GetUdpStatisticsEx", +[](PMIB_UDPSTATS, ULONG) { return ERROR_NOT_SUPPORTED; }));
    exports.push_back(MakeExport("GetIcmpStatisticsEx", +[](PMIB_ICMP_EX, ULONG) { return ERROR_NOT_SUPPORTED; }));
    exports.push_back(MakeExport("GetIpStatisticsEx", +[](PMIB_IPSTATS, ULONG) { return ERROR_NOT_SUPPORTED; }));
    ScopedLibraryExports noIpv6("iphlpapi.dll", exports);
    MonListStat stat(&m_app, "");
    MonListStatIp ip(&m_app, "");
    ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
    ASSERT_EQ(ip.MonListCreate(nullptr, 1026, kRect), S_OK);
    for (MonListStatBase* pane : {static_cast<MonListStatBase*>(&stat), static_cast<MonListStatBase*>(&ip)}) {
      pane->GetThread()->SetScan(10);
      pane->ListStart();
      ASSERT_TRUE(WaitForPasses(pane->GetThread(), 2));
    }
    EXPECT_EQ(Labels(stat), (std::vector<std::string>{"TCP", "UDP", "ICMP"}));
    EXPECT_EQ(Labels(ip), std::vector<std::string>{"IP"});
  }
  {
    ScopedLibraryExports noIp("iphlpapi.dll", WithoutExports(LibraryExports("iphlpapi.dll"), {"GetIpStatistics"}));
    MonListStatIp ip(&m_app, "");
    ASSERT_EQ(ip.MonListCreate(nullptr, 1026, kRect), S_OK);
    ip.GetThread()->SetScan(10);
    ip.ListStart();
    ASSERT_TRUE(WaitForPasses(ip.GetThread(), 2));
    // The IPv6 row has a call of its own.
    std::vector<std::string> labels = IpLabels();
    labels.erase(labels.begin());
    EXPECT_EQ(Labels(ip), labels);
  }
  {
    ScopedLibraryExports noLibrary("iphlpapi.dll");
    MonListStat stat(&m_app, "");
    ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
    stat.GetThread()->SetScan(10);
    stat.ListStart();
    ASSERT_TRUE(WaitForPasses(stat.GetThread(), 2));
    EXPECT_EQ(stat.GetItemCount(), 0);
  }
}

namespace {

std::atomic<int> g_udpCalls{0};

// Succeeds once with sevens, then fails after scribbling into the record.
DWORD FlakyUdpStatistics(PMIB_UDPSTATS stats) {
  const bool first = g_udpCalls.fetch_add(1) == 0;
  *stats = MIB_UDPSTATS{7, 7, 7, 7, 7};
  if (!first) stats->dwOutDatagrams = 0xDEADBEEF;
  return first ? NO_ERROR : ERROR_NOT_SUPPORTED;
}

}  // namespace

TEST_F(StatsPaneTest, AFailedCallShowsZeros) {
  LibraryExportTable exports = WithoutExports(LibraryExports("iphlpapi.dll"), {"GetUdpStatistics"});
  exports.push_back(MakeExport("GetUdpStatistics", &FlakyUdpStatistics));
  ScopedLibraryExports flaky("iphlpapi.dll", exports);
  g_udpCalls = 0;
  MonListStat stat(&m_app, "");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  MonListStatCWinThread* worker = stat.GetStatsThread();
  worker->LoadEntryPoints();
  worker->Scan();
  ASSERT_EQ(Labels(stat), ProtocolLabels());
  for (int sub : {2, 3, 4, 6}) EXPECT_EQ(stat.GetItemText(1, sub), "7");
  worker->Scan();
  for (int sub : {2, 3, 4, 6}) EXPECT_EQ(stat.GetItemText(1, sub), "0") << sub;
  EXPECT_EQ(stat.GetItemText(1, 1), "");
}

TEST_F(StatsPaneTest, FocusNamesThePaneInTheParentsTitle) {
  Window frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", WS_VISIBLE, Rect{0, 0, 800, 600}, nullptr, 0));
  MonListStat stat(&m_app, "Pelorin Pro v3.1");
  ASSERT_EQ(stat.MonListCreate(&frame, 1025, kRect), S_OK);
  MonListStatIp ip(&m_app, "Pelorin Pro v3.1");
  ASSERT_EQ(ip.MonListCreate(&frame, 1026, kRect), S_OK);
  stat.ShowWindow(SW_SHOW);
  ip.ShowWindow(SW_SHOW);
  stat.SetFocus();
  EXPECT_EQ(frame.GetWindowText(), "Pelorin Pro v3.1 - Tcp/Udp/Icmp Statistics");
  EXPECT_TRUE(stat.HasHook());
  ip.SetFocus();
  EXPECT_EQ(frame.GetWindowText(), "Pelorin Pro v3.1 - Ip Statistics");
  EXPECT_FALSE(stat.HasHook());
  // Without a parent the focus changes no title.
  MonListStat orphan(&m_app, "x");
  ASSERT_EQ(orphan.MonListCreate(nullptr, 1027, kRect), S_OK);
  orphan.SetFocus();
  EXPECT_EQ(frame.GetWindowText(), "Pelorin Pro v3.1 - Ip Statistics");
}

TEST_F(StatsPaneTest, CloseDuringALongIntervalReturnsPromptlyAndClears) {
  ASSERT_TRUE(m_app.WriteProfileInt("", "ScanStats", 30));
  ASSERT_TRUE(m_app.WriteProfileInt("", "ScanStatsIp", 30));
  MonListStat stat(&m_app, "");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  MonListStatIp ip(&m_app, "");
  ASSERT_EQ(ip.MonListCreate(nullptr, 1026, kRect), S_OK);
  EXPECT_EQ(stat.GetThread()->GetScan(), 30000u);
  stat.ListStart();
  ip.ListStart();
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return stat.GetItemCount() == ProtocolRows() && ip.GetItemCount() == IpRows(); }, 5000));
  for (MonListStatBase* pane : {static_cast<MonListStatBase*>(&stat), static_cast<MonListStatBase*>(&ip)}) {
    const auto start = Clock::now();
    pane->ProcessClose();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(pane->GetThread(), nullptr);
    EXPECT_EQ(pane->GetStatThread(), nullptr);
    EXPECT_EQ(pane->GetItemCount(), 0);
    EXPECT_EQ(pane->IsClose(), 1);
    pane->ProcessClose();  // again: nothing left to end
  }

  // A pane that was never started closes at once too.
  MonListStat never(&m_app, "");
  ASSERT_EQ(never.MonListCreate(nullptr, 1027, kRect), S_OK);
  const auto start = Clock::now();
  never.ProcessClose();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(StatsPaneTest, SetCloseEndsScanningAndEmptiesTheList) {
  MonListStat stat(&m_app, "");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  stat.GetThread()->SetScan(30000);
  stat.ListStart();
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return stat.GetItemCount() == ProtocolRows(); }, 5000));
  stat.SetClose();
  EXPECT_EQ(stat.IsClose(), 1);
  // The pause is cut short; the worker clears the list and stops idling.
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return stat.GetItemCount() == 0; }, 2000));
  EXPECT_TRUE(stat.GetThread()->WaitForQuiet(2000));
  EXPECT_EQ(stat.GetThread()->GetCount(), 0u);
}

TEST_F(StatsPaneTest, AStopIsAcknowledgedOnceAndStartResumes) {
  CountingStat stat(&m_app, "");
  ASSERT_EQ(stat.MonListCreate(nullptr, 1025, kRect), S_OK);
  PelorinCThread* worker = stat.GetThread();
  worker->SetScan(10);
  stat.ListStart();
  ASSERT_TRUE(WaitForPasses(worker, 1));

  worker->SetStop(1);
  // While the list does not answer, the worker keeps waiting and does not repeat itself.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return worker->SuspendCount() == 1; }, 5000));
  UiPump::Instance().PumpPending();
  EXPECT_EQ(stat.acks, 1);
  EXPECT_EQ(worker->IsStart(), 0);

  worker->SetStop(0);
  stat.ListStart();
  EXPECT_EQ(worker->SuspendCount(), 0u);
  ASSERT_TRUE(WaitForPasses(worker, 1));
  worker->SetStop(1);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return stat.acks == 2 && worker->SuspendCount() == 1; }, 5000));
  stat.ProcessClose();
  EXPECT_EQ(stat.GetThread(), nullptr);
}

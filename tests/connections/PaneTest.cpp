// The connections pane on rows of known content: column sorting, related rows, the link monitor
// title and record, the firewall record, the windows it keeps, and its caption.
#include "ConnectionsTestSupport.h"
#include "common/Messages.h"
#include "ui/FrameWindow.h"
#include "ui/StaticText.h"

using namespace conntest;

namespace {

struct RowText {
  const char* type;
  const char* name;
  const char* status;
  const char* local;
  std::uint32_t localPort;
  const char* remote;  // "" for UDP
  std::uint32_t remotePort;
  std::uint32_t time;
  const char* elapsed;
  const char* pid;
};

// A pane that records what it would open.
class RecordingPane : public MonListMon {
 public:
  RecordingPane(AppProfile* profile) : MonListMon(profile, "Connections", "PelorinPro") {}
  ~RecordingPane() override { ListDlgCloseAll(); }
  int firewallOpened = 0;
  Window* lastOpened = nullptr;

 protected:
  Window* OpenLinkMonitor(const std::string& title, const _MonListMonItemDataIp&,
                          const std::optional<LinkAddresses6>&) override {
    auto* window = new StaticText;
    window->Create(title, WS_VISIBLE, Rect{0, 0, 10, 10}, nullptr);
    lastOpened = window;
    return window;
  }
  void OpenFirewallRule(const _MonListMonItemData&) override { ++firewallOpened; }
};

class PaneTest : public ConnectionsTest {
 protected:
  RecordingPane& CreatePane() {
    m_pane = std::make_unique<RecordingPane>(&m_profile);
    EXPECT_EQ(m_pane->MonListCreate(nullptr, 1024, Rect{0, 0, 800, 300}), 0);
    return *m_pane;
  }
  void TearDown() override {
    m_pane.reset();
    ConnectionsTest::TearDown();
  }
  // Adds a row as the scanner would (the sorted style places it by name); its index.
  int Add(const RowText& s) {
    auto* record = CoTaskMemNew<_MonListMonItemData>();
    record->state = std::string(s.status) == "Disconnect" ? kStateDisconnected : 5;
    record->localAddr = inet_addr(s.local);
    record->localPort = s.localPort;
    record->remoteAddr = *s.remote ? inet_addr(s.remote) : 0;
    record->remotePort = s.remotePort;
    record->connectTime = s.time;
    record->logLink = CoTaskMemNew<_MonListMonLogLink>();
    record->logLink->rowSequence = static_cast<std::uint32_t>(m_pane->GetRowCounter());
    const int row = m_pane->InsertItem(m_pane->GetRowCounter(), s.name, -1, reinterpret_cast<DWORD_PTR>(record));
    const std::string texts[] = {s.type, s.status, s.local, std::to_string(s.localPort),
                                 *s.remote ? s.remote : "", *s.remote ? std::to_string(s.remotePort) : "",
                                 FormatLocalTime(s.time), s.elapsed, s.pid};
    for (int c = 1; c < 10; ++c) m_pane->SetItemText(row, c, texts[c - 1]);
    m_pane->IncreaseRowCounter();
    return row;
  }
  // Creation sequence numbers of the rows, top to bottom.
  std::vector<std::uint32_t> Order() {
    std::vector<std::uint32_t> order;
    for (const RowView& r : Rows(*m_pane)) order.push_back(r.link.rowSequence);
    return order;
  }
  std::vector<int> Selected() {
    std::vector<int> rows;
    for (int i = m_pane->GetNextItem(-1, LVNI_SELECTED); i >= 0; i = m_pane->GetNextItem(i, LVNI_SELECTED))
      rows.push_back(i);
    return rows;
  }
  std::unique_ptr<RecordingPane> m_pane;
};

ListRow MakeRow(std::uint32_t localAddr, std::uint32_t localPort, std::uint32_t time, std::uint32_t sequence,
                const std::string& name, _MonListMonItemData* record, _MonListMonLogLink* link) {
  *link = _MonListMonLogLink{sequence, 0, 0};
  *record = _MonListMonItemData{};
  record->localAddr = localAddr;
  record->localPort = localPort;
  record->connectTime = time;
  record->logLink = link;
  ListRow row;
  row.texts = {name, "TCP", "Connected", "", "", "", "", "", "00:00:01", "17"};
  row.data = reinterpret_cast<DWORD_PTR>(record);
  return row;
}

}  // namespace

TEST(ConnectionsSort, ComparisonRulesPerColumn) {
  _MonListMonItemData ra, rb;
  _MonListMonLogLink la, lb;
  // Texts: case-blind, by character code.
  ListRow a = MakeRow(0, 0, 0, 1, "beta", &ra, &la);
  ListRow b = MakeRow(0, 0, 0, 2, "Alpha", &rb, &lb);
  EXPECT_EQ(MonListMon::CompareRows(a, b, 0, false), 1);
  EXPECT_EQ(MonListMon::CompareRows(a, b, 0, true), -1);
  b.texts[0] = "BETA";  // equal texts: the earlier row first, both ways
  EXPECT_EQ(MonListMon::CompareRows(a, b, 0, false), -1);
  EXPECT_EQ(MonListMon::CompareRows(a, b, 0, true), -1);
  EXPECT_EQ(MonListMon::CompareRows(b, a, 0, true), 1);
  b.texts[8] = "00:00:10";
  EXPECT_EQ(MonListMon::CompareRows(a, b, 8, false), -1);

  // Addresses in address order: 1.2.3.4 before 1.2.3.200, and the first octet weighs most
  // (10.0.0.9 before 192.168.0.1).
  ra.localAddr = inet_addr("1.2.3.200");
  rb.localAddr = inet_addr("1.2.3.4");
  EXPECT_EQ(MonListMon::CompareRows(a, b, 3, false), 1);
  ra.localAddr = inet_addr("10.0.0.9");
  rb.localAddr = inet_addr("192.168.0.1");
  EXPECT_EQ(MonListMon::CompareRows(a, b, 3, false), -1);
  EXPECT_EQ(MonListMon::CompareRows(a, b, 3, true), 1);
  // Ports by number, not by text.
  ra.localPort = 1025;
  rb.localPort = 443;
  EXPECT_EQ(MonListMon::CompareRows(a, b, 4, false), 1);
  ra.remoteAddr = inet_addr("10.0.0.1");
  rb.remoteAddr = inet_addr("10.0.0.1");
  EXPECT_EQ(MonListMon::CompareRows(a, b, 5, true), -1);  // a tie: sequence decides
  ra.remotePort = 80;
  rb.remotePort = 8080;
  EXPECT_EQ(MonListMon::CompareRows(a, b, 6, false), -1);
  // The date column by connect time; columns outside the ten by sequence alone.
  ra.connectTime = 1700000100;
  rb.connectTime = 1700000000;
  EXPECT_EQ(MonListMon::CompareRows(a, b, 7, false), 1);
  EXPECT_EQ(MonListMon::CompareRows(a, b, 7, true), -1);
  EXPECT_EQ(MonListMon::CompareRows(b, a, 42, true), 1);
}

TEST_F(PaneTest, ColumnClicksSortWhileStoppedAlternatingAndNotWhileScanning) {
  RecordingPane& pane = CreatePane();
  Add({"TCP", "charlie", "Connected", "10.0.0.1", 1025, "10.0.0.9", 80, 1700000300, "00:00:01", "30"});
  Add({"TCP", "alpha", "Listen", "1.2.3.200", 80, "0.0.0.0", 0, 1700000100, "00:00:05", "10"});
  Add({"UDP", "Bravo", "Listen", "1.2.3.4", 443, "", 0, 1700000200, "00:00:03", "20"});
  ASSERT_EQ(Order(), (std::vector<std::uint32_t>{1, 2, 0}));  // placed by name while created

  // The direction alternates with every click, whatever the column.
  pane.UserColumnClick(4);
  const bool firstDescending = pane.IsSortedDescending();
  EXPECT_NE(pane.IsSortedAscending(), firstDescending);
  const std::vector<std::uint32_t> byPortAscending{1, 2, 0};  // ports 80, 443, 1025
  const std::vector<std::uint32_t> byPortDescending{0, 2, 1};
  EXPECT_EQ(Order(), firstDescending ? byPortDescending : byPortAscending);
  pane.UserColumnClick(4);
  EXPECT_EQ(pane.IsSortedDescending(), !firstDescending);
  EXPECT_EQ(Order(), firstDescending ? byPortAscending : byPortDescending);

  // Make the next click ascend, then check address and time orders.
  if (!pane.IsSortedDescending()) pane.UserColumnClick(0);
  pane.UserColumnClick(3);
  ASSERT_TRUE(pane.IsSortedAscending());
  // In address order: 1.2.3.4, 1.2.3.200, 10.0.0.1.
  EXPECT_EQ(Order(), (std::vector<std::uint32_t>{2, 1, 0}));
  pane.UserColumnClick(7);
  ASSERT_TRUE(pane.IsSortedDescending());
  EXPECT_EQ(Order(), (std::vector<std::uint32_t>{0, 2, 1}));

  EXPECT_EQ(pane.GetSortIndicator(nullptr), 7);  // the heading's arrow
  pane.SortByRow();
  EXPECT_EQ(Order(), (std::vector<std::uint32_t>{0, 1, 2}));
  EXPECT_FALSE(pane.IsSortedAscending() || pane.IsSortedDescending());
  EXPECT_EQ(pane.GetSortIndicator(nullptr), -1);

  // While the scan runs the rows stay put.
  pane.ListStart();
  ASSERT_TRUE(WaitFor([&] { return pane.Scanner()->GetIdleMessage() != 0; }));
  pane.UserColumnClick(0);
  pane.UserColumnClick(0);
  EXPECT_FALSE(pane.IsSortedAscending() || pane.IsSortedDescending());
  pane.ListStop();
  // Stopped again it sorts; clearing forgets the sort.
  pane.UserColumnClick(1);
  EXPECT_TRUE(pane.IsSortedAscending() || pane.IsSortedDescending());
  pane.ListDeleteAll();
  EXPECT_FALSE(pane.IsSortedAscending() || pane.IsSortedDescending());
}

TEST_F(PaneTest, ClickSelectsRelatedRowsOfTheSameTypeOnly) {
  RecordingPane& pane = CreatePane();
  pane.SetStyle(PelorinCListView::kListStyle);  // several rows may be selected, as after a reload
  const int a = Add({"TCP", "a", "Connected", "10.0.0.5", 1025, "10.0.0.9", 80, 1, "00:00:00", "1"});
  const int b = Add({"TCP", "b", "Disconnect", "10.0.0.5", 1025, "10.0.0.9", 80, 2, "00:00:07", "1"});
  const int u = Add({"UDP", "c", "Listen", "10.0.0.5", 1025, "", 0, 3, "00:00:00", "1"});
  const int v = Add({"UDP", "d", "Disconnect", "10.0.0.5", 1025, "", 0, 4, "00:00:00", "1"});
  const int other = Add({"TCP", "e", "Connected", "10.0.0.5", 1025, "10.0.0.9", 81, 5, "00:00:00", "1"});

  pane.UserClick(a, 2);
  EXPECT_EQ(Selected(), (std::vector<int>{a, b}));
  pane.UserClick(v, 0);
  EXPECT_EQ(Selected(), (std::vector<int>{u, v}));
  pane.UserClick(other, 0);
  EXPECT_EQ(Selected(), (std::vector<int>{other}));
  EXPECT_EQ(pane.ListSelectRelated(a), 1);
  EXPECT_EQ(pane.ListSelectRelated(-1), 0);
}

TEST_F(PaneTest, LinkViewTitleAndRecordFirewallRecordAndTheWindowsKept) {
  RecordingPane& pane = CreatePane();
  const int tcp = Add({"TCP", "web", "Connected", "10.0.0.5", 1025, "10.0.0.9", 80, 1700000000, "00:00:00", "1"});
  pane.UserDoubleClick(tcp, 0);
  EXPECT_EQ(pane.LastIpViewTitle(), "TCP - 10.0.0.5:1025 -> 10.0.0.9:80");
  const _MonListMonItemDataIp& link = pane.LastIpViewRecord();
  EXPECT_EQ(link.state, 5u);
  EXPECT_EQ(link.localAddr, inet_addr("10.0.0.5"));
  EXPECT_EQ(link.localPort, 1025u);
  EXPECT_EQ(link.remoteAddr, inet_addr("10.0.0.9"));
  EXPECT_EQ(link.remotePort, 80u);
  EXPECT_EQ(link.connectTime, 1700000000u);
  Window* first = pane.lastOpened;

  pane.IpSetProperties();
  EXPECT_EQ(pane.firewallOpened, 1);
  const _MonListMonItemData& rule = pane.LastFirewallRecord();
  EXPECT_EQ(rule.localAddr, inet_addr("10.0.0.9"));  // the remote address, where the editor reads it
  EXPECT_EQ(rule.state, 0u);
  EXPECT_EQ(rule.remoteAddr, 0u);

  const int udp = Add({"UDP", "dns", "Listen", "10.0.0.5", 53, "", 0, 1700000000, "00:00:00", "1"});
  pane.UserClick(udp, 0);
  pane.UserReturn();
  EXPECT_EQ(pane.LastIpViewTitle(), "UDP - 10.0.0.5:53 -> 0.0.0.0:0");
  pane.IpSetProperties();
  EXPECT_EQ(pane.firewallOpened, 1);  // no remote address: nothing opens
  Window* second = pane.lastOpened;
  ASSERT_EQ(pane.OpenWindows().size(), 2u);
  EXPECT_EQ(pane.LastWindow(), second);

  // A window asking to close goes, and only that one.
  ::PostMessage(pane.GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(first->GetSafeHwnd()));
  UiPump::Instance().PumpPending();
  ASSERT_EQ(pane.OpenWindows().size(), 1u);
  EXPECT_EQ(pane.OpenWindows()[0], second);
  pane.ListDlgClose(second);
  EXPECT_TRUE(pane.OpenWindows().empty());
  EXPECT_EQ(pane.LastWindow(), nullptr);

  // No current row: nothing is built.
  pane.ListDeleteAll();
  pane.MonListMonIpView();
  EXPECT_EQ(pane.OpenWindows().size(), 0u);
}

TEST_F(PaneTest, FocusSetsTheFrameCaption) {
  FrameWindow frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", Rect{0, 0, 800, 600}));
  MonListMon pane(&m_profile, "Connections", "PelorinPro");
  ASSERT_EQ(pane.MonListCreate(&frame, 1024, Rect{0, 0, 400, 200}), 0);
  pane.SetFocus();
  UiPump::Instance().PumpPending();
  EXPECT_EQ(frame.GetWindowText(), "PelorinPro - Connections");
  pane.ProcessClose();
}

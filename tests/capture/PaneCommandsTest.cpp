// The packet pane's own behaviour on the user-interface thread: column sorting, the commands that
// open inspection windows (what they hand over, the "NoLog" rule, the window arrays), the feed
// window's notifications, Next/Prev, the caption, and the filters dialog's Apply reaching the
// capture thread. Rows come from capture files replayed through the real capture thread.
#include <arpa/inet.h>

#include "CaptureTestSupport.h"
#include "common/Messages.h"
#include "controls/packets/PacketFilterStore.h"
#include "controls/packets/PelorinIpMonFilters.h"
#include "ui/Button.h"
#include "ui/FrameWindow.h"
#include "ui/ScriptedServices.h"

using namespace capture_test;

namespace {

// A stand-in inspection window: records the new-packet notices posted to it and has the Next
// and Prev buttons of the packet windows.
class NoticeWindow : public Window {
 public:
  NoticeWindow() {
    Create("notice", WS_VISIBLE, Rect{0, 0, 200, 100}, nullptr, 0);
    Adopt(std::make_unique<Button>())->Create("Next", WS_VISIBLE, Rect{0, 0, 50, 20}, this, MonListIpMon::kNextButton);
    Adopt(std::make_unique<Button>())->Create("Prev", WS_VISIBLE, Rect{60, 0, 50, 20}, this, MonListIpMon::kPrevButton);
  }
  ~NoticeWindow() override { DestroyWindow(); }
  std::vector<std::pair<WPARAM, LPARAM>> notices;
  int closes = 0;

 protected:
  bool PreTranslateMessage(const WindowMessage& message) override {
    if (message.message != WM_PELORIN_NEW_PACKET) return Window::PreTranslateMessage(message);
    notices.emplace_back(message.wParam, message.lParam);
    return true;
  }
  void OnClose() override { ++closes; }
};

// The pane with its window opening observed: every request is kept, and a window is opened for
// the kinds that open one.
class ObservedPane : public MonListIpMon {
 public:
  using MonListIpMon::MonListIpMon;
  std::vector<PacketWindowRequest> requests;
  std::vector<NoticeWindow*> opened;

 protected:
  Window* OpenPacketWindow(const PacketWindowRequest& request) override {
    requests.push_back(request);
    if (request.kind == PacketWindowKind::CompareAdd || request.kind == PacketWindowKind::FirewallAddress)
      return nullptr;
    auto* window = new NoticeWindow;
    opened.push_back(window);
    return window;
  }
};

std::unique_ptr<ObservedPane> MakeObservedPane(CaptureEnv& env, Window* parent = nullptr) {
  auto pane = std::make_unique<ObservedPane>(&env.App(), kRegistryPath, "Packets");
  if (pane->MonListCreate(parent, 1024, Rect{0, 0, 600, 300}) != 0) return nullptr;
  pane->ShowWindow(SW_SHOW);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
  return pane;
}

// Arrival order: TCP of size 10, UDP of 9, ICMP of 100, UDP of 10 (sizes as the headers say).
std::vector<std::vector<std::uint8_t>> SortFrames() {
  return {BuildFrame({.protocol = 6, .source = "10.0.0.1", .destination = "10.0.0.2", .sourcePort = 1025,
                      .destinationPort = 80, .totalLengthOverride = 10}),
          BuildFrame({.protocol = 17, .source = "10.0.0.9", .destination = "10.0.0.10", .sourcePort = 53,
                      .destinationPort = 5353, .totalLengthOverride = 9}),
          BuildFrame({.protocol = 1, .source = "10.0.0.10", .destination = "10.0.0.9", .totalLengthOverride = 100}),
          BuildFrame({.protocol = 17, .source = "10.0.0.1", .destination = "10.0.0.2", .sourcePort = 7,
                      .destinationPort = 9, .totalLengthOverride = 10})};
}

std::vector<int> Order(MonListIpMon& pane) {
  std::vector<int> order;
  for (const Row& row : Rows(pane)) order.push_back(row.item.rowNumber);
  return order;
}

}  // namespace

TEST(PaneSort, NumberAndAddressColumnsWithASharedDirectionToggleWhileCaptureIsOff) {
  CaptureEnv env;
  ASSERT_TRUE(WriteCapture(env.File("sort.pcap"), SortFrames()));
  env.UseCaptureFile(env.File("sort.pcap"));
  auto pane = MakeObservedPane(env);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();

  // While capture runs a column click leaves arrival order alone.
  pane->ListStart();
  ASSERT_TRUE(WaitUntil([thread] { return thread->IsReplayDone(); }, 5000));
  const bool first = MonListIpMon::NextSortDescending();
  pane->UserColumnClick(1);
  EXPECT_EQ(Order(*pane), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(pane->IsSorted());
  EXPECT_EQ(MonListIpMon::NextSortDescending(), first);
  pane->ListStop();

  // "Size" as numbers: 9 before 10; equal sizes keep arrival order in both directions.
  const std::vector<int> sizeUp{1, 0, 3, 2}, sizeDown{2, 0, 3, 1};
  pane->UserColumnClick(1);
  EXPECT_EQ(Order(*pane), first ? sizeDown : sizeUp);
  EXPECT_EQ(pane->IsSortDescending(), first);
  pane->UserColumnClick(1);
  EXPECT_EQ(Order(*pane), first ? sizeUp : sizeDown);
  EXPECT_EQ(pane->IsSortAscending(), first);

  // "From" as addresses: 10.0.0.9 before 10.0.0.10. The toggle is shared by every column, and
  // the heading of the sorted column shows its direction.
  const std::vector<int> fromUp{0, 3, 1, 2}, fromDown{2, 1, 0, 3};
  pane->UserColumnClick(2);
  EXPECT_EQ(Order(*pane), first ? fromDown : fromUp);
  bool descending = !first;
  EXPECT_EQ(pane->GetSortIndicator(&descending), 2);
  EXPECT_EQ(descending, first);
  // The source port: ICMP's empty text counts as 0.
  pane->UserColumnClick(3);
  EXPECT_EQ(Order(*pane), first ? (std::vector<int>{2, 3, 1, 0}) : (std::vector<int>{0, 1, 3, 2}));

  // The process column, made as it is drawn: no process owns these packets, so arrival order.
  pane->UserColumnClick(MonListIpMon::kProcessColumn);
  EXPECT_EQ(Order(*pane), (std::vector<int>{0, 1, 2, 3}));

  pane->SortByRow();
  EXPECT_EQ(Order(*pane), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(pane->IsSorted());
  EXPECT_EQ(pane->GetSortIndicator(nullptr), -1);
}

TEST(PaneCommands, WindowsGetTheRowsPositionLinkTitleTraceTargetAndAddress) {
  CaptureEnv env;
  ScriptedServices script;
  FrameWindow frame;
  frame.Create("Pelorin Pro v3.1", Rect{0, 0, 800, 600});
  frame.ShowWindow(SW_SHOW);  // clicks reach visible lists only
  ASSERT_TRUE(WriteCapture(env.File("rows.pcap"), SortFrames()));
  env.UseCaptureFile(env.File("rows.pcap"));
  auto pane = MakeObservedPane(env, &frame);
  ASSERT_TRUE(Replay(*pane));
  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 4u);

  // Focus puts the pane's title into the frame's caption.
  pane->SetFocus();
  UiPump::Instance().PumpPending();
  EXPECT_EQ(frame.GetWindowText(), "Packets - Pelorin Monitor");

  // No selection: the row commands do nothing.
  pane->MonListIpView();
  pane->MonListIpViewMon();
  pane->IpSetProperties();
  EXPECT_TRUE(pane->requests.empty());

  // Double click: the full packet view of that row's record, navigation on (capture stopped).
  pane->UserClick(1, 0);  // a double click's first click selects the row
  pane->UserDoubleClick(1, 0);
  ASSERT_EQ(pane->requests.size(), 1u);
  EXPECT_EQ(pane->requests[0].kind, PacketWindowKind::PacketView);
  EXPECT_EQ(pane->requests[0].item.recordPosition, rows[1].item.recordPosition);
  EXPECT_EQ(pane->requests[0].item.typeCode, 4);
  EXPECT_EQ(pane->requests[0].navigation, 1);
  EXPECT_EQ(pane->requests[0].logFile, &pane->GetCaptureThread()->GetLogFile());
  EXPECT_EQ(pane->GetLastPacketView(), pane->opened[0]);

  // Link monitor of a TCP row, and of an ICMP row without the port parts.
  pane->UserClick(0, 0);
  pane->MonListIpViewMon();
  const PacketWindowRequest& tcp = pane->requests.back();
  EXPECT_EQ(tcp.title, "TCP - 10.0.0.1:1025 -> 10.0.0.2:80");
  EXPECT_EQ(tcp.link.localAddr, inet_addr("10.0.0.1"));
  EXPECT_EQ(tcp.link.localPort, 1025u);
  EXPECT_EQ(tcp.link.remoteAddr, inet_addr("10.0.0.2"));
  EXPECT_EQ(tcp.link.remotePort, 80u);
  EXPECT_EQ(tcp.link.state, 0u);
  pane->UserClick(2, 0);
  pane->MonListIpViewMon();
  EXPECT_EQ(pane->requests.back().title, "ICMP - 10.0.0.10 -> 10.0.0.9");
  EXPECT_EQ(pane->requests.back().link.localPort, 0u);
  EXPECT_EQ(pane->MonitorWindows().size(), 2u);

  // Block/Allow: the "To" column proposes the destination, any other the source.
  pane->UserRightClick(1, 4);
  pane->IpSetProperties();
  EXPECT_EQ(pane->requests.back().kind, PacketWindowKind::FirewallAddress);
  EXPECT_EQ(pane->requests.back().address.localAddr, inet_addr("10.0.0.10"));
  pane->UserRightClick(1, 5);
  pane->IpSetProperties();
  EXPECT_EQ(pane->requests.back().address.localAddr, inet_addr("10.0.0.9"));

  // Trace: the clicked address column is the target; another column gives none; once the route
  // window is open, a second trace opens nothing.
  pane->UserRightClick(0, 3);
  pane->MonListIpTrace(0);
  EXPECT_EQ(pane->requests.back().kind, PacketWindowKind::Route);
  EXPECT_EQ(pane->requests.back().traceTarget, "");
  Window* route = pane->GetRouteWindow();
  ASSERT_NE(route, nullptr);
  const Rect placed = route->GetWindowRect();
  EXPECT_EQ(placed.left, frame.GetWindowRect().left + 20);
  const std::size_t before = pane->requests.size();
  pane->MonListIpTrace(1);
  EXPECT_EQ(pane->requests.size(), before);
  ::PostMessage(pane->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(route->GetSafeHwnd()));
  UiPump::Instance().PumpPending();
  EXPECT_EQ(pane->GetRouteWindow(), nullptr);
  pane->UserRightClick(0, 4);
  pane->MonListIpTrace(0);
  EXPECT_EQ(pane->requests.back().traceTarget, "10.0.0.2");
  pane->ListDlgCloseAll();
  pane->UserRightClick(0, 2);
  pane->MonListIpTrace(0);
  EXPECT_EQ(pane->requests.back().traceTarget, "10.0.0.1");
  pane->ListDlgCloseAll();
  pane->MonListIpTrace(1);
  EXPECT_EQ(pane->requests.back().traceFlag, 1);
  EXPECT_EQ(pane->requests.back().traceTarget, "");

  // Compare, then Compare Add with the selected row; a second Compare opens nothing.
  pane->UserClick(3, 0);
  pane->MonListCompare();
  ASSERT_NE(pane->GetCompareWindow(), nullptr);
  pane->MonListCompare();
  pane->MonListCompareAdd();
  EXPECT_EQ(pane->requests.back().kind, PacketWindowKind::CompareAdd);
  EXPECT_EQ(pane->requests.back().compare, pane->GetCompareWindow());
  EXPECT_EQ(pane->requests.back().item.recordPosition, rows[3].item.recordPosition);

  pane->ListDlgCloseAll();
  EXPECT_TRUE(pane->PacketWindows().empty());
  EXPECT_TRUE(pane->MonitorWindows().empty());
  EXPECT_EQ(pane->GetCompareWindow(), nullptr);
  EXPECT_FALSE(pane->GetCaptureThread()->IsCompareActive());
  pane.reset();
}

TEST(PaneCommands, NoLogRowsOpenOnlyTheLinkMonitor) {
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogIpMon", 0);
  ASSERT_TRUE(WriteCapture(env.File("nolog.pcap"), SortFrames()));
  env.UseCaptureFile(env.File("nolog.pcap"));
  auto pane = MakeObservedPane(env);
  ASSERT_TRUE(Replay(*pane));
  pane->UserRightClick(0, 4);
  ASSERT_EQ(pane->GetItemText(0, 7), "NoLog");
  pane->MonListIpView();
  pane->MonListView();
  pane->MonListCompare();
  pane->MonListIpTrace(0);
  pane->IpSetProperties();
  EXPECT_TRUE(pane->requests.empty());
  EXPECT_TRUE(pane->PacketWindows().empty());
  pane->MonListIpViewMon();
  ASSERT_EQ(pane->requests.size(), 1u);
  EXPECT_EQ(pane->requests[0].kind, PacketWindowKind::LinkMonitor);
}

TEST(PaneCommands, TheFeedHearsOfEveryNewRowUntilItClosesAndNextPrevFollowCapture) {
  CaptureEnv env;
  const auto frames = SortFrames();
  ASSERT_TRUE(WriteCapture(env.File("feed.pcap"), frames));
  env.UseCaptureFile(env.File("feed.pcap"));
  auto pane = MakeObservedPane(env);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  pane->MonListView();
  auto* feed = static_cast<NoticeWindow*>(pane->GetFeedWindow());
  ASSERT_NE(feed, nullptr);
  pane->MonListView();  // one feed at a time
  EXPECT_EQ(pane->requests.size(), 1u);
  ASSERT_TRUE(WaitUntil([thread] { return thread->IsFeedActive() != 0; }, 2000));

  // Starting capture disables Next and Prev in the packet windows.
  ASSERT_TRUE(Replay(*pane));
  EXPECT_FALSE(feed->GetDlgItem(MonListIpMon::kNextButton)->IsWindowEnabled());
  EXPECT_FALSE(feed->GetDlgItem(MonListIpMon::kPrevButton)->IsWindowEnabled());
  pane->EnableNextPrev(1);
  EXPECT_TRUE(feed->GetDlgItem(MonListIpMon::kNextButton)->IsWindowEnabled());

  // One notice per row: the frame length and the row's record position.
  UiPump::Instance().PumpUntil([&] { return feed->notices.size() >= frames.size(); }, 2000);
  const auto rows = Rows(*pane);
  ASSERT_EQ(feed->notices.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(feed->notices[i].first, frames[i].size());
    EXPECT_EQ(feed->notices[i].second, static_cast<LPARAM>(rows[i].item.recordPosition));
  }

  // The feed asks to be closed: the thread drops it before it is destroyed; the command works
  // again afterwards.
  ::PostMessage(pane->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(feed->GetSafeHwnd()));
  UiPump::Instance().PumpPending();
  EXPECT_EQ(pane->GetFeedWindow(), nullptr);
  EXPECT_FALSE(thread->IsFeedActive());
  EXPECT_TRUE(pane->PacketWindows().empty());
  pane->MonListView();
  EXPECT_EQ(pane->requests.size(), 2u);
  EXPECT_NE(pane->GetFeedWindow(), nullptr);
}

TEST(PaneFilters, ApplyInTheDialogReloadsTheCaptureThreadsFilters) {
  CaptureEnv env;
  ScriptedServices script;
  ASSERT_TRUE(WriteCapture(env.File("none.pcap"), {}));
  auto pane = MakeObservedPane(env);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  const auto toPort80 = BuildFrame({.protocol = 6, .destinationPort = 80});
  const auto toPort53 = BuildFrame({.protocol = 17, .destinationPort = 53});
  auto passes = [thread](const std::vector<std::uint8_t>& frame) {
    thread->displaytcpReceive(frame.data(), static_cast<LONG>(frame.size()), 14);
    return thread->ApplyFilters();
  };

  Window owner;
  owner.Create("owner", WS_VISIBLE, Rect{0, 0, 10, 10}, nullptr, 0);
  auto* dialog = new PelorinIpMonFilters(&owner, &env.App(), pane.get(), kRegistryPath);
  PacketFilterSet set;
  set.List(FilterList::DestPortMustBe).push_back(53);
  dialog->SetToControls(set);
  dialog->OnButtonApply();
  EXPECT_TRUE(thread->FiltersLoaded());
  EXPECT_EQ(passes(toPort53), 1);
  EXPECT_EQ(passes(toPort80), 0);
  PacketFilterSet stored;
  ASSERT_TRUE(PacketFilterStore(kRegistryPath).Read(stored).Ok());
  EXPECT_EQ(stored.List(FilterList::DestPortMustBe), std::vector<std::uint32_t>{53});

  set.List(FilterList::DestPortMustBe) = {80};
  dialog->SetToControls(set);
  dialog->OnButtonApply();
  EXPECT_EQ(passes(toPort53), 0);
  EXPECT_EQ(passes(toPort80), 1);
  EXPECT_TRUE(script.Messages().empty());
  delete dialog;
}

TEST(PaneCommands, AnIpv6RowGivesItsAddressesToTheRuleEditorTheRouteWindowAndTheLinkMonitor) {
  CaptureEnv env;
  ScriptedServices script;
  ASSERT_TRUE(WriteCapture(env.File("ipv6.pcap"), {BuildFrame6({.nextHeader = 6})}));
  env.UseCaptureFile(env.File("ipv6.pcap"));
  auto pane = MakeObservedPane(env);
  ASSERT_TRUE(Replay(*pane));
  ASSERT_EQ(pane->GetItemText(0, 0), "TCP6");

  // Block/Allow: the clicked end's 16 bytes, none in the IPv4 field.
  pane->UserRightClick(0, 4);
  pane->IpSetProperties();
  ASSERT_EQ(pane->requests.size(), 1u);
  ASSERT_TRUE(pane->requests[0].address6.has_value());
  std::uint8_t expected[16];
  inet_pton(AF_INET6, "2001:db8::2", expected);
  EXPECT_EQ(std::memcmp(pane->requests[0].address6->data(), expected, 16), 0);
  EXPECT_EQ(pane->requests[0].address.localAddr, 0u);

  pane->UserRightClick(0, 2);
  pane->MonListIpTrace(0);
  EXPECT_EQ(pane->requests.back().traceTarget, "2001:db8:85a3::8a2e:370:7334");
  // The link monitor is given both 16-byte addresses, none in the IPv4 fields.
  pane->MonListIpViewMon();
  const PacketWindowRequest& link = pane->requests.back();
  ASSERT_EQ(link.kind, PacketWindowKind::LinkMonitor);
  EXPECT_EQ(std::memcmp(link.link6.value_or(LinkAddresses6{}).remote.data(), expected, 16), 0);
  EXPECT_EQ(link.link.localAddr | link.link.remoteAddr, 0u);
  EXPECT_EQ(link.link.localPort + link.link.remotePort, 1025u + 80u);
  EXPECT_EQ(link.title, "TCP6 - [2001:db8:85a3::8a2e:370:7334]:1025 -> [2001:db8::2]:80");
  EXPECT_TRUE(script.Messages().empty());
  pane->ListDlgCloseAll();
}

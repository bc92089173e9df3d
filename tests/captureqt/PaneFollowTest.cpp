// The packet pane drawn by Qt (offscreen) on a live capture of lo: it follows the newest rows
// until the user scrolls up or selects a row, and says so when a page clear took the selection.
// Needs root.
#include <netinet/in.h>
#include <sys/socket.h>

#include <QScrollBar>
#include <QTableView>

#include "controls/packets/PacketFilterStore.h"
#include "tests/capture/CaptureTestSupport.h"
#include "tests/uiqt/QtTestSupport.h"
#include "ui/FrameWindow.h"
#include "ui/qt/QtListView.h"

using namespace capture_test;
using qt_test::RunEvents;
using qt_test::RunEventsUntil;

namespace {

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new qt_test::QtEnvironment);

constexpr int kPageSize = 1000;  // rows, then the capture thread clears the list
constexpr int kBurst = 150;      // datagrams, more than a screenful

// A UDP socket on 127.0.0.1 that sends datagrams to itself.
struct UdpSelf {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  UdpSelf() {
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  }
  ~UdpSelf() { close(fd); }
  void Send(int count) const {
    for (int i = 0; i < count; ++i) sendto(fd, "follow", 6, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
};

TEST(PaneFollow, NewRowsScrollIntoViewUntilTheUserScrollsUpOrSelectsAndAClearedSelectionIsReported) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", kPageSize);
  env.UseAdapter(0, "lo");
  // Only this test's datagrams reach the pane, whatever else runs on lo.
  UdpSelf udp;
  PacketFilterSet filters;
  filters.List(FilterList::DestPortMustBe).push_back(ntohs(udp.address.sin_port));
  ASSERT_TRUE(PacketFilterStore(kRegistryPath).Save(filters).Ok());

  FrameWindow frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", Rect{0, 0, 700, 400}));
  frame.CreateStatusBar({ID_SEPARATOR});
  MonListIpMon pane(&env.App(), kRegistryPath, "Packets");
  ASSERT_EQ(pane.MonListCreate(&frame, 1024, Rect{0, 0, 680, 300}), 0);
  pane.SetWindowPos(HWND_TOP, 0, 0, 680, 300, SWP_SHOWWINDOW);
  frame.ShowWindow(SW_SHOW);
  MonListIpMonCWinThread* thread = pane.GetCaptureThread();
  ASSERT_TRUE(WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000));
  thread->ApplyFilters(1);
  pane.ListStart();
  ASSERT_TRUE(thread->GetIdleMessage());
  RunEvents(50);
  auto* table = qobject_cast<QTableView*>(QtUiSession::WidgetOf(&pane));
  ASSERT_NE(table, nullptr);
  QScrollBar* bar = table->verticalScrollBar();
  int sent = 0;
  // Sends a burst and runs the loop until the view shows every row of it.
  auto burst = [&] {
    udp.Send(kBurst);
    sent += kBurst;
    const int expected = sent % kPageSize;
    return RunEventsUntil([&] { return pane.GetItemCount() == expected && table->model()->rowCount() == expected; }, 5000);
  };
  auto atEnd = [&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); };

  // Following: the last row is in sight after each refresh.
  ASSERT_TRUE(burst());
  EXPECT_TRUE(RunEventsUntil(atEnd, 1000)) << bar->value() << " of " << bar->maximum();

  // Scrolled up by the user (a page up on the scroll bar): the view stays where it was put.
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  const int scrolledTo = bar->value();
  ASSERT_LT(scrolledTo, bar->maximum());
  ASSERT_TRUE(burst());
  RunEvents(3 * QtListView::kRefreshInterval);
  EXPECT_EQ(bar->value(), scrolledTo);

  // Back at the end: following again.
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  ASSERT_TRUE(burst());
  EXPECT_TRUE(RunEventsUntil(atEnd, 1000)) << bar->value() << " of " << bar->maximum();

  // A selected row stays in sight as more rows arrive.
  const int top = bar->value();
  const int chosen = table->rowAt(table->viewport()->height() / 2);
  ASSERT_GE(chosen, 0);
  pane.UserClick(chosen, 0);
  ASSERT_TRUE(burst());
  RunEvents(3 * QtListView::kRefreshInterval);
  EXPECT_EQ(bar->value(), top);
  EXPECT_EQ(pane.GetNextItem(-1, LVNI_SELECTED), chosen);
  pane.UserReturn();  // opens the packet view of the selected row
  EXPECT_EQ(pane.LastRequest().row, chosen);
  const int requests = pane.RequestCount();

  // The page fills and the capture thread clears it, selection and all: Enter says so in the
  // status bar and opens nothing, and the pane follows the new page.
  while (sent % kPageSize >= kBurst) ASSERT_TRUE(burst());
  EXPECT_LT(pane.GetNextItem(-1, LVNI_SELECTED), 0);
  pane.UserReturn();
  EXPECT_EQ(frame.GetStatusBar()->GetPaneText(0), MonListIpMon::kRowGoneText);
  EXPECT_EQ(pane.RequestCount(), requests);
  ASSERT_TRUE(burst());
  EXPECT_TRUE(RunEventsUntil(atEnd, 1000)) << bar->value() << " of " << bar->maximum();

  // Closed as the frame closes it at shutdown: the pane first, then the frame.
  pane.ListDlgCloseAll();
  pane.ProcessClose();
  frame.DestroyWindow();
  RunEvents(20);
}

}  // namespace

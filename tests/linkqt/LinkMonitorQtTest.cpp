// The link monitor drawn by Qt (offscreen), capturing a UDP exchange on a loopback of its own:
// the packet list is drawn inside the "Title" group, above it, and shows the rows while the
// capture runs, after Stop and after Load Page.
#include <netinet/in.h>
#include <sys/socket.h>

#include <QGroupBox>
#include <QTableView>

#include "../capture/CaptureTestSupport.h"
#include "../uiqt/QtTestSupport.h"
#include "controls/link/DlgIpMon.h"
#include "controls/link/IpMon.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "ui/ScriptedServices.h"
#include "ui/qt/QtListView.h"
#include "wincap/DlgPelorinLogPages.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new qt_test::QtEnvironment);

int BoundUdpSocket(sockaddr_in* address) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  *address = sockaddr_in{};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(address), sizeof *address);
  socklen_t length = sizeof *address;
  getsockname(fd, reinterpret_cast<sockaddr*>(address), &length);
  return fd;
}

// The list's table is drawn inside the group, on top of it, with the rows of the list.
void ExpectRowsShown(DlgIpMon& window, int rows, const char* when) {
  IpMon* list = window.GetList();
  auto* view = dynamic_cast<QtListView*>(list->GetView());
  ASSERT_NE(view, nullptr) << when;
  QTableView* table = view->Table();
  ASSERT_TRUE(qt_test::RunEventsUntil([&] { return table->model()->rowCount() == rows; }, 2000)) << when;
  QWidget* group = QtUiSession::WidgetOf(window.GetDlgItem(DlgIpMon::IDC_GROUP_TITLE));
  EXPECT_TRUE(table->isVisible()) << when;
  EXPECT_TRUE(group->geometry().contains(table->geometry())) << when;
  QWidget* dialog = QtUiSession::WidgetOf(&window);
  QWidget* atCentre = dialog->childAt(table->geometry().center());
  EXPECT_TRUE(atCentre == table || table->isAncestorOf(atCentre)) << when;
  EXPECT_EQ(table->model()->index(0, 0).data().toString(), QStringLiteral("UDP")) << when;
}

}  // namespace

TEST(LinkMonitorQt, CapturedRowsAreShownInTheTitleGroup) {
  if (!capture_test::IsRoot()) GTEST_SKIP() << "capture needs root";
  capture_test::CaptureEnv env;
  ScriptedServices script;
  env.UseAdapter(0, "lo");
  env.App().WriteProfileString("", PelorinCThreadIpMon::kFolderKey, env.File("ConnLogs") + "/");
  sockaddr_in a{}, b{};
  const int fdA = BoundUdpSocket(&a), fdB = BoundUdpSocket(&b);
  _MonListMonItemDataIp link{};
  link.localAddr = link.remoteAddr = htonl(INADDR_LOOPBACK);
  link.localPort = ntohs(a.sin_port);
  link.remotePort = ntohs(b.sin_port);
  const std::string title =
      "UDP - 127.0.0.1:" + std::to_string(link.localPort) + " -> 127.0.0.1:" + std::to_string(link.remotePort);
  DlgIpMon window(nullptr, &env.App(), capture_test::kRegistryPath, Point{}, title, &link, nullptr, nullptr);
  ASSERT_TRUE(window.GetThread() != nullptr && window.GetThread()->GetIdleMessage());

  constexpr int kEach = 10;
  for (int i = 0; i < kEach; ++i) {
    const std::string text = "on the link " + std::to_string(i);
    sendto(fdA, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&b), sizeof b);
    sendto(fdB, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ASSERT_TRUE(qt_test::RunEventsUntil([&] { return window.GetList()->GetItemCount() == 2 * kEach; }, 5000));
  ExpectRowsShown(window, 2 * kEach, "while monitoring");

  window.ClickButton(DlgIpMon::IDC_BUTTON_STOP);
  ExpectRowsShown(window, 2 * kEach, "after Stop");

  script.OnNextModal([](Dialog& d) {
    auto& pages = dynamic_cast<DlgPelorinLogPages&>(d);
    ASSERT_TRUE(qt_test::RunEventsUntil([&] { return !pages.IsListing(); }, 5000));
    d.DoubleClickListItem(DlgPelorinLogPages::IDC_LIST_PAGES, 0);
  });
  window.ClickButton(DlgIpMon::IDC_BUTTON_LOAD_PAGE);
  EXPECT_EQ(window.GetDlgItemText(DlgIpMon::IDC_STATIC_LOG_PAGE).substr(0, 9), "Page : 0 ");
  ExpectRowsShown(window, 2 * kEach, "after Load Page");

  std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);
  EXPECT_TRUE(QtUiSession::WidgetOf(&window)->grab().save(QStringLiteral(PELORIN_SCREENSHOT_DIR "/link-monitor.png"), "PNG"));
  close(fdA);
  close(fdB);
}

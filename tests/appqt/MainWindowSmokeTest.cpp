// The program as main() runs it, drawn by Qt offscreen: two panes scanning the machine, a
// screenshot of the main window, then the close request of File > Exit, after which the event
// loop must end.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <memory>

#include "app/CPelorinProApp.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/stats/MonListStat.h"
#include "ui/qt/QtUiSession.h"

namespace {

using Clock = std::chrono::steady_clock;

// TCP, UDP and ICMP, and UDP and ICMP over IPv6 where the machine has IPv6.
const int kStatisticsRows = std::filesystem::exists("/proc/net/snmp6") ? 5 : 3;

int g_argc = 1;
char g_name[] = "Test_appqt";
char* g_argv[] = {g_name, nullptr};

// What the test saw while the program ran, checked once the event loop has ended.
struct Seen {
  bool panesMade = false;
  bool rowsShown = false;
  std::string title;
  bool iconSet = false;
  bool stackedInOrder = false;
  int connectionRows = 0;
  int statisticsRows = 0;
  std::string screenshot;
  Clock::time_point closeAsked;
  bool timedOut = false;
  bool loopKeptRunning = false;
};

TEST(MainWindowSmoke, TwoPanesScanAreDrawnAndTheProgramEndsWithItsWindow) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  char pattern[] = "/tmp/pelorin-smoke-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/";
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  setenv("PELORIN_REGISTRY", (folder + "registry.reg").c_str(), 1);
  AppProfile profile(CPelorinProApp::kCompanyKey, CPelorinProApp::kProfileName);
  profile.WriteProfileString("", "Layout", "6");  // connections and protocol statistics
  profile.WriteProfileInt("", "ScanList", 1);      // s
  std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);

  // A listening socket of this program, so the connections pane has a row of its own to show.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 1), 0);

  Seen seen;
  CPelorinProApp program;
  std::unique_ptr<QTimer> driver;
  const auto begin = Clock::now();
  const int result = RunApplication(g_argc, g_argv, [&]() -> FrameWindow* {
    CMainFrame* frame = program.InitInstance();
    if (frame == nullptr) return nullptr;
    driver = std::make_unique<QTimer>();
    QObject::connect(driver.get(), &QTimer::timeout, [&, frame] {
      if (seen.closeAsked != Clock::time_point{}) {
        // The loop should have ended with the window; end it here rather than hang the run.
        if (Clock::now() - seen.closeAsked > std::chrono::seconds(10)) {
          seen.loopKeptRunning = true;
          QCoreApplication::exit(2);
        }
        return;
      }
      QWidget* window = QtUiSession::WidgetOf(frame);
      if (window == nullptr) return;
      if (Clock::now() - begin > std::chrono::seconds(20)) {
        seen.timedOut = true;
      } else if (!seen.panesMade) {
        if (frame->Connections() == nullptr || frame->ProtocolStats() == nullptr) return;
        seen.panesMade = true;
        frame->PostMessage(WM_COMMAND, ID_SCAN_START_STOP, 0);
        return;
      } else {
        auto* connections = qobject_cast<QTableView*>(QtUiSession::WidgetOf(frame->Connections()));
        auto* statistics = qobject_cast<QTableView*>(QtUiSession::WidgetOf(frame->ProtocolStats()));
        if (connections == nullptr || statistics == nullptr || connections->model()->rowCount() == 0 ||
            statistics->model()->rowCount() < kStatisticsRows)
          return;
        seen.rowsShown = true;
        seen.title = window->windowTitle().toStdString();
        seen.iconSet = !window->windowIcon().isNull();
        seen.stackedInOrder = connections->isVisible() && statistics->isVisible() &&
                              connections->geometry().bottom() < statistics->geometry().top();
        seen.connectionRows = connections->model()->rowCount();
        seen.statisticsRows = statistics->model()->rowCount();
        seen.screenshot = std::string(PELORIN_SCREENSHOT_DIR) + "/main-window.png";
        window->grab().save(QString::fromStdString(seen.screenshot), "PNG");
      }
      seen.closeAsked = Clock::now();
      frame->PostMessage(WM_CLOSE);  // as File > Exit and a termination signal ask
    });
    driver->start(10);
    return frame;
  });
  const auto ended = Clock::now();
  driver.reset();
  ::close(listener);

  EXPECT_EQ(result, 0);
  EXPECT_FALSE(seen.timedOut);
  EXPECT_FALSE(seen.loopKeptRunning);
  EXPECT_TRUE(seen.rowsShown);
  EXPECT_EQ(seen.title, "Pelorin Pro v3.1");
  EXPECT_TRUE(seen.iconSet);
  EXPECT_TRUE(seen.stackedInOrder);
  EXPECT_GT(seen.connectionRows, 0);
  EXPECT_EQ(seen.statisticsRows, kStatisticsRows);
  const QImage image(QString::fromStdString(seen.screenshot));
  EXPECT_EQ(image.width(), 800);
  EXPECT_GT(image.height(), 400);
  ASSERT_NE(program.GetMainWnd(), nullptr);
  EXPECT_TRUE(program.GetMainWnd()->IsClosing());
  EXPECT_EQ(program.GetMainWnd()->GetPane(Pane::Connections)->GetThread(), nullptr);
  std::printf("screenshot %s; from the close request to the end of the event loop: %lld ms\n", seen.screenshot.c_str(),
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(ended - seen.closeAsked).count()));

  std::filesystem::current_path(previous);
  unsetenv("PELORIN_REGISTRY");
  std::filesystem::remove_all(folder);
}

}  // namespace

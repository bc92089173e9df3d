// The program's start-up, drawn by Qt offscreen: two panes scanning the machine, a screenshot of
// the main window, and the shutdown the close box starts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTableView>
#include <QWidget>
#include <chrono>
#include <filesystem>

#include "app/CPelorinProApp.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatCWinThread.h"
#include "ui/UiPump.h"
#include "ui/qt/QtUiSession.h"

namespace {

int g_argc = 1;
char g_name[] = "Test_appqt";
char* g_argv[] = {g_name, nullptr};

// Runs Qt's event loop until the condition holds or the time is up.
bool RunUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

TEST(MainWindowSmoke, TwoPanesScanAreDrawnAndCloseWithTheWindow) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  char pattern[] = "/tmp/pelorin-smoke-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/";
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  setenv("PELORIN_REGISTRY", (folder + "registry.reg").c_str(), 1);
  AppProfile profile(CPelorinProApp::kCompanyKey, CPelorinProApp::kProfileName);
  profile.WriteProfileString("", "Layout", "6");  // connections and protocol statistics
  profile.WriteProfileInt("", "ScanList", 1);

  {
    QApplication application(g_argc, g_argv);
    QtUiSession session;
    CPelorinProApp program;
    CMainFrame* frame = program.InitInstance();
    ASSERT_NE(frame, nullptr);
    const HWND handle = frame->GetSafeHwnd();
    ASSERT_TRUE(RunUntil([&] { return frame->Connections() != nullptr && frame->ProtocolStats() != nullptr; }, 5000));
    frame->PostMessage(WM_COMMAND, ID_SCAN_START_STOP, 0);
    ASSERT_TRUE(RunUntil(
        [&] { return frame->Connections()->GetItemCount() > 0 && frame->ProtocolStats()->GetItemCount() == 3; }, 15000));

    QWidget* window = QtUiSession::WidgetOf(frame);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle().toStdString(), "Pelorin Pro v3.1");
    EXPECT_FALSE(window->windowIcon().isNull());
    // Both panes are drawn, one above the other, with rows in them.
    auto* connections = qobject_cast<QTableView*>(QtUiSession::WidgetOf(frame->Connections()));
    auto* statistics = qobject_cast<QTableView*>(QtUiSession::WidgetOf(frame->ProtocolStats()));
    ASSERT_NE(connections, nullptr);
    ASSERT_NE(statistics, nullptr);
    EXPECT_TRUE(connections->isVisible());
    EXPECT_LT(connections->geometry().bottom(), statistics->geometry().top());
    RunUntil([&] { return connections->model()->rowCount() > 0 && statistics->model()->rowCount() == 3; }, 5000);
    EXPECT_GT(connections->model()->rowCount(), 0);
    EXPECT_EQ(statistics->model()->rowCount(), 3);

    std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);
    const std::string png = std::string(PELORIN_SCREENSHOT_DIR) + "/main-window.png";
    ASSERT_TRUE(window->grab().save(QString::fromStdString(png), "PNG"));
    const QImage image(QString::fromStdString(png));
    EXPECT_EQ(image.width(), window->width());
    EXPECT_GT(image.height(), 400);

    // The close box: the frame runs its shutdown and goes.
    const auto begin = std::chrono::steady_clock::now();
    window->close();
    ASSERT_TRUE(RunUntil([&] { return !Window::IsWindow(handle); }, 10000));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
    std::printf("screenshot %s; shutdown of two scanning panes: %lld ms\n", png.c_str(),
                static_cast<long long>(took.count()));
    EXPECT_EQ(frame->GetPane(Pane::Connections)->GetThread(), nullptr);
  }
  std::filesystem::current_path(previous);
  unsetenv("PELORIN_REGISTRY");
  std::filesystem::remove_all(folder);
}

}  // namespace

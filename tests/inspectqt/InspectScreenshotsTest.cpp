// The packet view, the feed and the compare window drawn by Qt (offscreen) over recorded
// traffic replayed through the real capture thread: what the widgets show matches the panes,
// colours and underlines included, and each window is saved as a screenshot under
// build-test/screenshots/ for people to look at.
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include "../capture/CaptureTestSupport.h"
#include "controls/inspect/DlgPelorinCompare.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "controls/inspect/DlgPelorinView.h"
#include "ui/qt/QtUiSession.h"

using namespace capture_test;

namespace {

int g_argc = 1;
char g_name[] = "Test_inspectqt";
char* g_argv[] = {g_name, nullptr};

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    m_app = new QApplication(g_argc, g_argv);
    m_session = new QtUiSession();
  }
  void TearDown() override {
    delete m_session;
    delete m_app;
  }

 private:
  QApplication* m_app = nullptr;
  QtUiSession* m_session = nullptr;
};

// Fontconfig keeps the fonts it looked up for the packets' characters until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

bool RunEventsUntil(const std::function<bool()>& condition, int limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return condition();
}

QTextEdit* TextOf(RichEdit* pane) { return qobject_cast<QTextEdit*>(QtUiSession::WidgetOf(pane)); }

// The pane's text as the widget gives it back: one line break for each CR LF, and no-break
// spaces (byte 0xA0) as plain ones.
QString Drawn(RichEdit* pane) {
  const std::string text = pane->GetWindowText();
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()))
      .remove(QLatin1Char('\r'))
      .replace(QChar(0xA0), QLatin1Char(' '));
}

// Waits until the widget shows the pane's text (its redraws are coalesced), then saves it.
void Screenshot(Dialog& window, std::initializer_list<RichEdit*> panes, const char* name) {
  for (RichEdit* pane : panes)
    EXPECT_TRUE(RunEventsUntil([pane] { return TextOf(pane)->toPlainText() == Drawn(pane); }, 3000))
        << name;
  std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);
  const QString path = QStringLiteral(PELORIN_SCREENSHOT_DIR "/") + QString::fromLatin1(name);
  EXPECT_TRUE(QtUiSession::WidgetOf(&window)->grab().save(path, "PNG")) << name;
}

// The colour the widget draws a pane's character at a model position in.
QColor ColourAt(RichEdit* pane, long position) {
  const std::string text = pane->GetWindowText();
  const long returns = static_cast<long>(std::count(text.begin(), text.begin() + position, '\r'));
  QTextCursor cursor(TextOf(pane)->document());
  cursor.setPosition(static_cast<int>(position - returns) + 1);  // the format of the character before
  return cursor.charFormat().foreground().color();
}

std::unique_ptr<MonListIpMon> PaneOn(CaptureEnv& env, const char* capture) {
  env.UseCaptureFile(kPcapFolder + "/" + capture);
  env.App().WriteProfileString("Filters", "DisplayBytes", "0");
  auto pane = MakePane(env.App());
  if (pane) pane->ShowWindow(SW_SHOW);
  return pane;
}

}  // namespace

TEST(InspectScreenshots, ViewAndFeedOfAnHttpExchange) {
  CaptureEnv env;
  auto pane = PaneOn(env, "zeek-http-get.pcap");
  ASSERT_NE(pane, nullptr);
  pane->MonListView();
  auto* feed = dynamic_cast<DlgPelorinView*>(pane->GetFeedWindow());
  ASSERT_NE(feed, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return pane->GetCaptureThread()->IsFeedActive() != 0; }, 2000));
  ASSERT_TRUE(Replay(*pane));
  ASSERT_TRUE(RunEventsUntil([&] { return feed->GetPacketCounter() == pane->GetItemCount(); }, 5000));
  Screenshot(*feed, {feed->HeaderPane(), feed->DataPane()}, "inspect-feed.png");
  const long separator = static_cast<long>(feed->DataPane()->GetWindowText().find("<>-<"));
  EXPECT_EQ(ColourAt(feed->DataPane(), separator), QColor(0, 0, 255));
  EXPECT_TRUE(TextOf(feed->DataPane())->toPlainText().contains(QStringLiteral("GET /download/CHANGES.bro-aux.txt")));

  // The view of the request, in hex.
  env.App().WriteProfileString("ViewData", "Format", "1");
  pane->UserClick(3, 0);
  pane->MonListIpView();
  auto* view = dynamic_cast<DlgPelorinIpView*>(pane->GetLastPacketView());
  ASSERT_NE(view, nullptr);
  // Its TCP header carries 12 bytes of options: they open the data text, then "GET ".
  EXPECT_EQ(view->DataPane()->GetWindowText().substr(12 * 3, 12), "47 45 54 20 ");
  Screenshot(*view, {view->HeaderPane(), view->DataPane()}, "inspect-view.png");
  pane->ListDlgCloseAll();
}

TEST(InspectScreenshots, CompareOfFivePings) {
  CaptureEnv env;
  env.App().WriteProfileString("ViewData", "FormatCompare", "1");
  auto pane = PaneOn(env, "zeek-icmp-5-pings.pcap");
  ASSERT_NE(pane, nullptr);
  ASSERT_TRUE(Replay(*pane));
  pane->MonListCompare();
  auto* compare = dynamic_cast<DlgPelorinCompare*>(pane->GetCompareWindow());
  ASSERT_NE(compare, nullptr);
  for (int row = 0; row < pane->GetItemCount(); ++row) {
    pane->UserClick(row, 0);
    pane->MonListCompareAdd();
  }
  ASSERT_TRUE(compare->HasBase());
  // The replies differ from the request in their type and checksum, the later requests in
  // their sequence numbers and checksums: every packet has a red run.
  Screenshot(*compare, {compare->HeaderPane(), compare->DataPane()}, "inspect-compare.png");
  const auto runs = compare->DataPane()->Runs();
  const auto red = std::find_if(runs.begin(), runs.end(), [](const RichEdit::Run& run) {
    return !run.format.AutoColor() && run.format.crTextColor == PacketDiff::kDiffers;
  });
  ASSERT_NE(red, runs.end());
  EXPECT_EQ(ColourAt(compare->DataPane(), red->start), QColor(255, 0, 0));
  pane->ListDlgCloseAll();
}

// The packet view, the feed and the compare window drawn by Qt (offscreen) over recorded
// traffic replayed through the real capture thread: what the widgets show matches the panes,
// colours and underlines included, and each window is saved as a screenshot under
// build-test/screenshots/ for people to look at.
#include <QApplication>
#include <QDialog>
#include <QPalette>

#include "../capture/CaptureTestSupport.h"
#include "../uiqt/QtTestSupport.h"
#include "controls/inspect/DlgPelorinCompare.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "controls/inspect/DlgPelorinView.h"
#include "ui/qt/QtColours.h"
#include "ui/qt/QtRichTextView.h"
#include "ui/qt/QtUiSession.h"

using namespace capture_test;

// Fontconfig keeps the fonts it looked up for the packets' characters until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new qt_test::QtEnvironment);

using qt_test::RunEventsUntil;

QtRichTextView* ViewOf(RichEdit* pane) { return dynamic_cast<QtRichTextView*>(pane->GetView()); }

// The text of the rows a pane's widget shows, one line each.
QString Shown(RichEdit* pane) {
  QStringList rows;
  for (const auto& row : ViewOf(pane)->VisibleRows()) {
    QString text;
    for (const auto& segment : row) text += segment.text;
    rows << text;
  }
  return rows.join(QLatin1Char('\n'));
}

// A piece of the shown rows in a colour, with the text it holds.
bool ShowsInColour(RichEdit* pane, const QColor& colour, const QString& part) {
  for (const auto& row : ViewOf(pane)->VisibleRows())
    for (const auto& segment : row)
      if (segment.colour == colour && segment.text.contains(part)) return true;
  return false;
}

// Lets the coalesced refreshes run, checks that each pane's widget shows the line the pane is
// scrolled to (the end, for panes that scroll down as packets arrive), then saves the window.
void Screenshot(Dialog& window, std::initializer_list<RichEdit*> panes, const char* name) {
  RunEventsUntil([] { return false; }, 3 * QtRichTextView::kRefreshInterval);
  for (RichEdit* pane : panes) {
    RichEdit::Line last;
    for (int line = pane->GetFirstVisibleLine(); line >= 0 && pane->GetLine(line, &last) && last.text.empty(); --line) {
    }
    EXPECT_TRUE(Shown(pane).remove(QLatin1Char('\n')).contains(QString::fromLatin1(last.text.c_str()).remove(QLatin1Char('\r'))))
        << name;
  }
  std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);
  const QString path = QStringLiteral(PELORIN_SCREENSHOT_DIR "/") + QString::fromLatin1(name);
  EXPECT_TRUE(QtUiSession::WidgetOf(&window)->grab().save(path, "PNG")) << name;
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
  EXPECT_TRUE(ShowsInColour(feed->DataPane(), QColor(0, 0, 255), QStringLiteral("<>-< TCP(")));

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
  EXPECT_TRUE(ShowsInColour(compare->DataPane(), QColor(255, 0, 0), QString()));
  pane->ListDlgCloseAll();
}

// Under a dark desktop palette every colour the panes fix is drawn readable on the pane's base:
// kept where it already reads (the red runs), made lighter in its own hue where it would not (the
// blue separators, the black compare separators).
TEST(InspectScreenshots, UnderADarkPaletteEveryFixedColourReads) {
  const QPalette light = QApplication::palette();
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(53, 53, 53));
  dark.setColor(QPalette::Base, QColor(30, 30, 30));
  dark.setColor(QPalette::Text, Qt::white);
  dark.setColor(QPalette::WindowText, Qt::white);
  dark.setColor(QPalette::Button, QColor(53, 53, 53));
  dark.setColor(QPalette::ButtonText, Qt::white);
  QApplication::setPalette(dark);
  CaptureEnv env;
  env.App().WriteProfileString("ViewData", "FormatCompare", "1");
  auto pane = PaneOn(env, "zeek-icmp-5-pings.pcap");
  ASSERT_NE(pane, nullptr);
  pane->MonListView();
  ASSERT_TRUE(WaitUntil([&] { return pane->GetCaptureThread()->IsFeedActive() != 0; }, 2000));
  ASSERT_TRUE(Replay(*pane));
  pane->MonListCompare();
  auto* compare = dynamic_cast<DlgPelorinCompare*>(pane->GetCompareWindow());
  auto* feed = dynamic_cast<DlgPelorinView*>(pane->GetFeedWindow());
  ASSERT_TRUE(compare != nullptr && feed != nullptr);
  for (int row = 0; row < pane->GetItemCount(); ++row) {
    pane->UserClick(row, 0);
    pane->MonListCompareAdd();
  }
  ASSERT_TRUE(RunEventsUntil([&] { return feed->GetPacketCounter() == pane->GetItemCount(); }, 5000));
  Screenshot(*compare, {compare->HeaderPane(), compare->DataPane()}, "inspect-compare-dark.png");
  Screenshot(*feed, {feed->HeaderPane(), feed->DataPane()}, "inspect-feed-dark.png");
  bool blueSeparator = false;
  for (RichEdit* text : {compare->HeaderPane(), compare->DataPane(), feed->HeaderPane(), feed->DataPane()}) {
    const QColor base = QtUiSession::WidgetOf(text)->palette().color(QPalette::Base);
    for (const auto& row : ViewOf(text)->VisibleRows())
      for (const auto& segment : row) {
        EXPECT_GE(ContrastRatio(segment.colour, base), kReadableContrast) << segment.text.toStdString();
        if (segment.text.contains(QStringLiteral("<>-< ICMP("))) blueSeparator |= std::abs(segment.colour.hslHue() - 240) <= 2;  // its own hue
      }
  }
  EXPECT_TRUE(blueSeparator);
  EXPECT_TRUE(ShowsInColour(compare->DataPane(), QColor(255, 0, 0), QString()));
  pane->ListDlgCloseAll();
  QApplication::setPalette(light);
}

// A splitter bar drawn by Qt (offscreen): a drag with the left button tells the parent, at each
// step, where the user wants the bar's top; the bar stays where the parent puts it.
#include <gtest/gtest.h>

#include <QTest>

#include "QtTestSupport.h"
#include "ui/Splitter.h"
#include "ui/qt/QtUiSession.h"

TEST(QtSplitter, ADragReportsEachPlaceOfTheBarToItsParent) {
  Window parent;
  ASSERT_TRUE(parent.Create("panes", WS_VISIBLE, Rect{0, 0, 400, 300}, nullptr, 0));
  Splitter bar;
  ASSERT_TRUE(bar.Create(Rect{0, 147, 400, 153}, &parent, 1040));
  bar.ShowWindow(SW_SHOW);
  std::vector<int> asked;
  parent.MapCommand(1040, [&] { asked.push_back(bar.GetDragTop()); }, Splitter::kMoved);
  QWidget* widget = QtUiSession::WidgetOf(&bar);
  ASSERT_NE(widget, nullptr);

  QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(200, 2));
  QTest::mouseMove(widget, QPoint(200, 12));
  QTest::mouseMove(widget, QPoint(200, -28));
  QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(200, -28));
  QTest::mouseMove(widget, QPoint(200, 40));  // released: no longer a drag
  EXPECT_EQ(asked, (std::vector<int>{157, 117}));
  EXPECT_EQ(widget->geometry().top(), 147);
}

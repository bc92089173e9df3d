// The keyboard focus as a user finds it in a dialog drawn by Qt (offscreen): Tab walks the
// template's tab stops in the template's order, skipping what is disabled or not a tab stop, and
// wherever the focus is, a frame in the highlight colour surrounds the focused control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWindow>

#include "QtTestSupport.h"
#include "ui/Dialog.h"
#include "ui/qt/QtFocusFrame.h"
#include "ui/qt/QtUiSession.h"
#include "ui/qt/QtWindowView.h"

namespace {

// The Qt application is the one the rendering tests' environment makes.

DialogTemplate MixedTemplate() {
  return DialogTemplate{"Tab Order", 240, 160, "MS Sans Serif", 8,
                        {LabelItem("Name :", 4, 4, 30, 8),
                         EditItem(101, 40, 4, 80, 12),
                         GroupItem("Kind", 4, 20, 120, 40),
                         RadioButtonItem(102, "One", 10, 30, 40, 10, true),
                         RadioButtonItem(103, "Two", 10, 42, 40, 10),  // reached with the arrows, not Tab
                         CheckBoxItem(104, "Every", 60, 30, 50, 10),
                         ReportListItem(105, 4, 64, 230, 60),
                         PushButtonItem(106, "Later", 80, 130, 50, 14),
                         ComboBoxItem(107, 4, 130, 70, 60),
                         DefPushButtonItem(IDOK, "OK", 134, 130, 50, 14),
                         PushButtonItem(IDCANCEL, "Cancel", 188, 130, 50, 14)}};
}

Window* Focused() { return Window::FromHandle(QtWindowView::HandleOf(QApplication::focusWidget())); }

}  // namespace

TEST(QtFocus, TabFollowsTheTemplatesTabStopsAndTheFocusIsAlwaysFramed) {
  Dialog dialog(MixedTemplate());
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  dialog.GetDlgItem(106)->EnableWindow(false);
  QWidget* widget = QtUiSession::WidgetOf(&dialog);
  // A window system without a window manager may take a while to map the window and give it the focus.
  ASSERT_TRUE(qt_test::RunEventsUntil([&] { return widget->windowHandle() != nullptr && widget->windowHandle()->isExposed(); }, 5000));
  ASSERT_TRUE(qt_test::RunEventsUntil([&] {
    widget->activateWindow();
    return widget->isActiveWindow();
  }, 5000));
  dialog.GotoDlgCtrl(dialog.GetDlgItem(101));

  std::vector<int> expected;
  for (const DialogItem& item : MixedTemplate().items)
    if ((item.style & WS_TABSTOP) && item.id != 106) expected.push_back(static_cast<int>(item.id));
  ASSERT_EQ(expected.size(), 7u);
  expected.push_back(101);  // round again
  std::vector<int> visited{101};
  for (std::size_t i = 1; i < expected.size(); ++i) {
    QTest::keyClick(widget->windowHandle(), Qt::Key_Tab);
    qt_test::RunEvents(10);
    Window* focused = Focused();
    ASSERT_NE(focused, nullptr);
    visited.push_back(focused->GetDlgCtrlID());
    // The frame is drawn round the control (inside the dialog), above it, in the highlight colour.
    QWidget* control = QtUiSession::WidgetOf(focused);
    auto* frame = widget->findChild<QWidget*>(QStringLiteral("pelorinFocusFrame"));
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    constexpr int k = QtFocusFrame::kWidth;
    EXPECT_EQ(frame->geometry(), control->geometry().adjusted(-k, -k, k, k) & widget->rect());
    const QImage shot = widget->grab().toImage();
    EXPECT_EQ(shot.pixelColor(frame->geometry().topLeft() * shot.devicePixelRatio()), widget->palette().color(QPalette::Highlight))
        << focused->GetDlgCtrlID();
  }
  EXPECT_EQ(visited, expected);
}

// A packet view opened from the modal search window, driven by the user's clicks and keys as the
// window system delivers them: the view takes them, walks the result rows, closes on Done and on
// Esc, and the search window takes input again after.
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "../capture/CaptureTestSupport.h"
#include "../uiqt/QtTestSupport.h"
#include "controls/inspect/DlgPelorinFindPkt.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "tests/wincap/PacketLogTestSupport.h"
#include "ui/qt/QtListView.h"

namespace {

using qt_test::RunEventsUntil;

// A press and release on a control, sent to its top-level window as the window system would.
void Click(Window* control) {
  QWidget* widget = QtUiSession::WidgetOf(control);
  QWidget* top = widget->window();
  QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, widget->mapTo(top, widget->rect().center()));
}

void DoubleClickRow(ListControl* list, int row) {
  auto* table = dynamic_cast<QtListView*>(list->GetView())->Table();
  QWidget* top = table->window();
  const QPoint at = table->viewport()->mapTo(top, table->visualRect(table->model()->index(row, 0)).center());
  QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, {}, at);
}

std::string Data(const DlgPelorinIpView* view) { return view->DataPane()->GetWindowText(); }

}  // namespace

TEST(FindViewQt, AViewOpenedFromTheModalSearchTakesClicksAndKeys) {
  capture_test::CaptureEnv env;
  const std::string log = env.File("search.rec");
  auto packets = log_test::Numbered(40);
  for (auto& packet : packets) packet.protocol = 50;  // no transport header: the data is the payload
  ASSERT_EQ(log_test::Append(log, packets).size(), 40u);

  DlgPelorinFindPkt find(nullptr, &env.App(), log, 256);
  bool scripted = false;
  QObject guard;  // a step that fails ends the window rather than leaving it open
  QTimer::singleShot(30000, &guard, [&] { find.EndDialog(-1); });
  QTimer::singleShot(0, [&] {
    auto* list = find.GetDlgItemAs<ListControl>(DlgPelorinFind::IDC_LIST_PACKETS);
    find.TypeInto(DlgPelorinFind::IDC_EDIT_TEXT, "packet 3");  // records 3 and 30..39
    find.ClickButton(IDOK);
    ASSERT_TRUE(RunEventsUntil([&] { return !find.IsSearching() && list->GetItemCount() == 11; }, 5000));
    ASSERT_TRUE(RunEventsUntil([&] { return dynamic_cast<QtListView*>(list->GetView())->Table()->model()->rowCount() == 11; }, 2000));

    DoubleClickRow(list, 1);
    ASSERT_TRUE(RunEventsUntil([&] { return find.Views().size() == 1; }, 2000));
    DlgPelorinIpView* view = find.Views()[0].get();
    ASSERT_TRUE(RunEventsUntil([&] { return QtUiSession::WidgetOf(view)->isVisible(); }, 2000));
    EXPECT_EQ(Data(view), "packet 30");
    Click(view->GetDlgItem(DlgPelorinIpView::kButtonNext));
    ASSERT_TRUE(RunEventsUntil([&] { return list->GetNextItem(-1, LVNI_SELECTED) == 2; }, 2000));
    EXPECT_EQ(Data(view), "packet 31");
    std::filesystem::create_directories(PELORIN_SCREENSHOT_DIR);
    QtUiSession::WidgetOf(view)->grab().save(QStringLiteral(PELORIN_SCREENSHOT_DIR "/find-view.png"), "PNG");
    Click(view->GetDlgItem(DlgPelorinIpView::kButtonPrev));
    Click(view->GetDlgItem(DlgPelorinIpView::kButtonPrev));
    ASSERT_TRUE(RunEventsUntil([&] { return list->GetNextItem(-1, LVNI_SELECTED) == 0; }, 2000));
    EXPECT_EQ(Data(view), "packet 3");
    Click(view->GetDlgItem(IDOK));
    ASSERT_TRUE(RunEventsUntil([&] { return find.Views().empty(); }, 2000));

    // Esc closes a view as well, and the search window takes clicks again: its Done ends it.
    DoubleClickRow(list, 4);
    ASSERT_TRUE(RunEventsUntil([&] { return find.Views().size() == 1; }, 2000));
    EXPECT_EQ(Data(find.Views()[0].get()), "packet 33");
    QTest::keyClick(QtUiSession::WidgetOf(find.Views()[0].get())->windowHandle(), Qt::Key_Escape);
    ASSERT_TRUE(RunEventsUntil([&] { return find.Views().empty(); }, 2000));
    scripted = true;
    Click(find.GetDlgItem(IDCANCEL));
  });
  EXPECT_EQ(find.DoModal(), IDCANCEL);
  EXPECT_TRUE(scripted);
}

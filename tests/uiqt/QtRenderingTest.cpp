#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <QHeaderView>
#include <thread>

#include "ui/Dialog.h"
#include "ui/FrameWindow.h"
#include "ui/ListBox.h"
#include "ui/ListControl.h"
#include "ui/MouseHook.h"
#include "ui/RichEdit.h"
#include "ui/UiPump.h"
#include "ui/qt/QtListView.h"
#include "ui/qt/QtRichTextView.h"
#include "ui/qt/QtUiSession.h"
#include "QtTestSupport.h"

namespace {

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new qt_test::QtEnvironment);

using qt_test::RunEvents;
using qt_test::RunEventsUntil;

QTableView* TableOf(const ListControl& list) { return qobject_cast<QTableView*>(QtUiSession::WidgetOf(&list)); }

constexpr DWORD kListStyle = 0x406100C9;

DialogTemplate AdaptersTemplate() {
  return DialogTemplate{"Network Interfaces", 362, 142, "MS Sans Serif", 8,
                        {GroupItem("Adapters", 4, 1, 352, 117), ReportListItem(3000, 9, 12, 341, 100, LVS_SINGLESEL),
                         DefPushButtonItem(IDOK, "OK", 252, 121, 50, 14), PushButtonItem(IDCANCEL, "Cancel", 305, 121, 50, 14)}};
}

TEST(QtRenderingTest, DialogIsLaidOutFromItsTemplateWithItsRows) {
  Dialog dialog(AdaptersTemplate());
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  auto* list = dialog.GetDlgItemAs<ListControl>(3000);
  ASSERT_NE(list, nullptr);
  list->SetExtendedStyle(LVS_EX_FULLROWSELECT);
  list->InsertColumn(0, "Adapter #", LVCFMT_LEFT, list->GetStringWidth("Adapter #") + 25);
  list->InsertColumn(1, "Description", LVCFMT_LEFT, list->GetStringWidth("Description") + 100);
  list->InsertColumn(2, "Adapter", LVCFMT_LEFT, list->GetStringWidth("Adapter") + 100);
  const char* rows[][3] = {{"0", "Loopback interface", "lo"}, {"2", "Ethernet adapter", "eth0"}, {"-1", "Close Adapter", "Close Adapter"}};
  for (int i = 0; i < 3; ++i) {
    const int at = list->InsertItem(i, rows[i][0]);
    list->SetItemText(at, 1, rows[i][1]);
    list->SetItemText(at, 2, rows[i][2]);
  }
  list->SetItemState(2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  QTableView* table = TableOf(*list);
  ASSERT_NE(table, nullptr);
  ASSERT_TRUE(RunEventsUntil([&] { return table->model()->rowCount() == 3; }, 2000));

  auto* widget = qobject_cast<QDialog*>(QtUiSession::WidgetOf(&dialog));
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->windowTitle(), QStringLiteral("Network Interfaces"));
  EXPECT_TRUE(widget->isVisible());
  // Every control sits where the template's dialog units put it in the dialog's font.
  QWidget* ok = QtUiSession::WidgetOf(dialog.GetDlgItem(IDOK));
  const Rect expected = dialog.MapDialogRect(Rect{252, 121, 302, 135});
  EXPECT_EQ(ok->geometry(), QRect(expected.left, expected.top, expected.Width(), expected.Height()));
  EXPECT_EQ(qobject_cast<QPushButton*>(ok)->text(), QStringLiteral("OK"));
  EXPECT_EQ(table->model()->data(table->model()->index(1, 2)).toString(), QStringLiteral("eth0"));
  EXPECT_EQ(table->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Description"));
  EXPECT_EQ(table->horizontalHeader()->sectionSize(0), list->GetColumnWidth(0));
  EXPECT_TRUE(widget->grab().save(QStringLiteral("uiqt-adapters-dialog.png")));

  // The user's click on a row goes through the list control and the mouse hook.
  std::vector<MouseHookEvent> presses;
  const HHOOK hook = MouseHook::Install([&](const MouseHookEvent& e) { presses.push_back(e); });
  const QRect cell = table->visualRect(table->model()->index(1, 1));
  const QPoint at = cell.center();
  QMouseEvent press(QEvent::MouseButtonPress, at, table->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(table->viewport(), &press);
  MouseHook::Remove(hook);
  ASSERT_FALSE(presses.empty());
  EXPECT_EQ(presses.front().message, WM_LBUTTONDOWN);
  EXPECT_EQ(presses.front().hwnd, list->GetSafeHwnd());
  EXPECT_EQ(presses.front().hitTest, HTCLIENT);
  EXPECT_EQ(list->GetNextItem(-1, LVNI_SELECTED), 1);
  EXPECT_EQ(list->GetSelectedCount(), 1);
  // The screen point the hook saw hits the same row in the list's own geometry.
  const Point client = list->ScreenToClient(presses.front().pt);
  ListHitTest hit;
  hit.pt = client;
  EXPECT_EQ(list->SubItemHitTest(&hit), 1);
  EXPECT_EQ(hit.iSubItem, 1);
  dialog.DestroyWindow();
  RunEvents(20);
}

constexpr UINT kPacketPane = 32780;
constexpr UINT kApplyFilters = 32781;

class MainFrame : public FrameWindow {
 public:
  bool packetPane = true;
  bool applyFilters = false;
  int applied = 0;
  MainFrame() {
    auto menu = std::make_unique<Menu>();
    Menu* view = menu->AppendPopup("&View");
    view->AppendMenu(MF_STRING, kPacketPane, "< Pelorin Ip Monitor >");
    view->AppendMenu(MF_SEPARATOR);
    view->AppendMenu(MF_STRING, kApplyFilters, "Apply Filters");
    SetMenu(std::move(menu));
    MapUpdate(kPacketPane, [this](CmdUI& cmd) { cmd.SetCheck(packetPane); });
    MapUpdate(kApplyFilters, [this](CmdUI& cmd) {
      cmd.Enable(packetPane);
      cmd.SetCheck(applyFilters);
    });
    MapCommand(kApplyFilters, [this] {
      applyFilters = !applyFilters;
      ++applied;
    });
  }
};

TEST(QtRenderingTest, FrameShowsPanesMenusAndStatusBar) {
  MainFrame frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", Rect{50, 50, 850, 650}));
  frame.CreateStatusBar({ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL});
  frame.SetMessageText("For Help, Press F1");
  frame.ShowWindow(SW_SHOW);
  RunEvents(50);
  // Two panes stacked in the client area, the lower one shortened by the status bar.
  const Rect client = frame.GetClientRect();
  const int statusHeight = frame.GetStatusBar()->GetRectInParent().Height();
  ListControl top;
  ListControl bottom;
  ASSERT_TRUE(top.Create(kListStyle | LVS_SINGLESEL | LVS_SORTASCENDING, Rect{0, 0, client.right, client.bottom / 2}, &frame, 1024));
  ASSERT_TRUE(bottom.Create(kListStyle, Rect{0, client.bottom / 2, client.right, client.bottom - statusHeight}, &frame, 1027));
  // The pane style has no WS_VISIBLE: the frame shows the panes as it stacks them.
  top.SetWindowPos(HWND_TOP, 0, 0, client.right, client.bottom / 2, SWP_SHOWWINDOW);
  bottom.SetWindowPos(HWND_TOP, 0, client.bottom / 2, client.right, client.bottom - statusHeight - client.bottom / 2, SWP_SHOWWINDOW);
  top.SetFont(Font("Courier New", 100));
  bottom.SetFont(Font("Courier New", 100));
  for (ListControl* list : {&top, &bottom}) {
    list->SetExtendedStyle(LVS_EX_FULLROWSELECT);
    for (const char* title : {"Type", "Size", "From", "Port", "To", "Port"}) {
      list->InsertColumn(list->GetColumnCount(), title, LVCFMT_LEFT, list->GetStringWidth(std::string(std::strlen(title), 'X')) + 25);
    }
  }
  for (int i = 0; i < 40; ++i) {
    const int at = top.InsertItem(i, i % 3 ? "Firefox" : "Sshd");
    top.SetItemText(at, 1, std::to_string(60 + i));
    const int row = bottom.InsertItem(i, i % 2 ? "TCP" : "UDP");
    bottom.SetItemText(row, 1, std::to_string(40 + i));
    bottom.SetItemText(row, 2, "10.0.0." + std::to_string(i));
  }
  ASSERT_TRUE(RunEventsUntil([&] { return TableOf(bottom)->model()->rowCount() == 40 && TableOf(top)->model()->rowCount() == 40; }, 2000));
  auto* main = qobject_cast<QMainWindow*>(QtUiSession::WidgetOf(&frame));
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->windowTitle(), QStringLiteral("Pelorin Pro v3.1"));
  EXPECT_EQ(main->statusBar()->findChildren<QLabel*>().value(0)->text(), QStringLiteral("For Help, Press F1"));
  EXPECT_EQ(TableOf(bottom)->geometry().bottom() + 1 + statusHeight, main->centralWidget()->height() + main->statusBar()->height());
  EXPECT_TRUE(TableOf(bottom)->isVisible());
  EXPECT_TRUE(main->grab().save(QStringLiteral("uiqt-frame.png")));

  // Opening the View menu runs the frame's rules; choosing an item reaches its handler.
  QMenu* view = main->menuBar()->findChildren<QMenu*>().value(0);
  ASSERT_NE(view, nullptr);
  frame.packetPane = false;
  QMetaObject::invokeMethod(view, "aboutToShow");
  QList<QAction*> actions = view->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_FALSE(actions[0]->isChecked());
  EXPECT_FALSE(actions[2]->isEnabled());
  frame.packetPane = true;
  QMetaObject::invokeMethod(view, "aboutToShow");
  actions = view->actions();
  EXPECT_TRUE(actions[0]->isChecked());
  ASSERT_TRUE(actions[2]->isEnabled());
  actions[2]->trigger();
  ASSERT_TRUE(RunEventsUntil([&] { return frame.applied == 1; }, 1000));
  QMetaObject::invokeMethod(view, "aboutToShow");
  EXPECT_TRUE(view->actions()[2]->isChecked());
  frame.DestroyWindow();
  RunEvents(20);
}

TEST(QtRenderingTest, RowsFromAFastWorkerArriveInCoalescedRefreshes) {
  Window host;
  ASSERT_TRUE(host.Create("host", WS_VISIBLE, Rect{0, 0, 600, 400}, nullptr, 0));
  ListControl list;
  ASSERT_TRUE(list.Create(kListStyle | WS_VISIBLE, Rect{0, 0, 600, 400}, &host, 1027));
  list.InsertColumn(0, "Type", LVCFMT_LEFT, 60);
  list.InsertColumn(1, "Size", LVCFMT_LEFT, 60);
  RunEvents(150);
  auto* view = dynamic_cast<QtListView*>(list.GetView());
  ASSERT_NE(view, nullptr);
  const int refreshesBefore = view->RefreshCount();
  constexpr int kRows = 100000;
  std::atomic<bool> done{false};
  const auto start = std::chrono::steady_clock::now();
  std::thread worker([&] {
    for (int i = 0; i < kRows; ++i) {
      const int at = list.InsertItem(i, "TCP");
      list.SetItemText(at, 1, std::to_string(i));
      if (i % 20000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    done = true;
  });
  RunEventsUntil([&] { return done.load(); }, 30000);
  worker.join();
  ASSERT_TRUE(RunEventsUntil([&] { return view->Table()->model()->rowCount() == kRows; }, 2000));
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const int refreshes = view->RefreshCount() - refreshesBefore;
  EXPECT_GE(refreshes, 2);  // rows showed up while the worker ran, not only at the end
  EXPECT_LE(refreshes, elapsed / QtListView::kRefreshInterval + 2) << elapsed << " ms";
  EXPECT_EQ(view->Table()->model()->data(view->Table()->model()->index(kRows - 1, 1)).toString(), QString::number(kRows - 1));
  // Ctrl+C in the table puts the selected row, all its cells, on the desktop's clipboard.
  list.SetItemState(7, LVIS_SELECTED, LVIS_SELECTED);
  QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
  QApplication::sendEvent(view->Table(), &copy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("TCP\t7\n"));
  // Deleting everything shrinks the view at its next refresh.
  list.DeleteAllItems();
  ASSERT_TRUE(RunEventsUntil([&] { return view->Table()->model()->rowCount() == 0; }, 2000));
  host.DestroyWindow();
  RunEvents(20);
}

TEST(QtRenderingTest, ModalDialogsRunNestedLoopsWithTimersAndRichText) {
  class Feed : public Dialog {
   public:
    Feed() : Dialog(DialogTemplate{"Packet Feed", 334, 227, "MS Sans Serif", 8,
                                   {RichEditItem(258, 7, 30, 320, 150), DefPushButtonItem(IDOK, "Done", 277, 206, 50, 14)}}) {}
    int ticks = 0;
    QString shown;
    QColor separatorColour;
    bool separatorUnderlined = false;
    QColor bytesColour;
    bool OnInitDialog() override {
      auto* pane = GetDlgItemAs<RichEdit>(258);
      pane->SetFont(Font("Courier New", 80));
      pane->AppendText("\r\n\r\n<>-< TCP( 60 )10.0.0.1 - 10.0.0.2(0) >-<>\r\n\r\n");
      pane->SetSel(0, -1);
      CharFormat blue;
      blue.dwMask = CFM_COLOR | CFM_UNDERLINE;
      blue.dwEffects = CFE_UNDERLINE;
      blue.crTextColor = RGB(0, 0, 255);
      pane->SetSelectionCharFormat(blue);
      pane->SetSel(-1, -1);
      CharFormat plain;
      plain.dwMask = CFM_COLOR | CFM_UNDERLINE;
      plain.dwEffects = CFE_AUTOCOLOR;
      pane->SetSelectionCharFormat(plain);
      pane->AppendText("45 00 00 3C 1C 46 40 00 40 06\r\n");
      SetTimer(1, 10);
      return true;
    }

   protected:
    void OnTimer(UINT) override {
      if (++ticks == 5) {
        QWidget* widget = QtUiSession::WidgetOf(this);
        widget->grab().save(QStringLiteral("uiqt-feed-dialog.png"));
        const auto rows = dynamic_cast<QtRichTextView*>(GetDlgItem(258)->GetView())->VisibleRows();
        QStringList lines;
        for (const auto& row : rows) {
          QString line;
          for (const auto& segment : row) line += segment.text;
          lines << line;
        }
        shown = lines.join(QLatin1Char('\n'));
        separatorColour = rows.at(2).at(0).colour;
        separatorUnderlined = rows.at(2).at(0).font.underline();
        bytesColour = rows.at(4).at(0).colour;
        ClickButton(IDOK);
      }
    }
  };
  Feed feed;
  EXPECT_EQ(feed.DoModal(), IDOK);
  EXPECT_EQ(feed.ticks, 5);
  // Line breaks drawn once each, the separator blue and underlined, the bytes in the automatic colour.
  EXPECT_EQ(feed.shown, QStringLiteral("\n\n<>-< TCP( 60 )10.0.0.1 - 10.0.0.2(0) >-<>\n\n45 00 00 3C 1C 46 40 00 40 06\n"));
  EXPECT_EQ(feed.separatorColour, QColor(0, 0, 255));
  EXPECT_TRUE(feed.separatorUnderlined);
  EXPECT_NE(feed.bytesColour, QColor(0, 0, 255));
}

TEST(QtRenderingTest, WorkerTextsAndUserTypingMeetInTheModel) {
  Dialog trace(DialogTemplate{"Ip Route(s)", 300, 200, "MS Sans Serif", 8,
                              {EditItem(2117, 5, 5, 100, 14), ListBoxItem(2108, 5, 25, 150, 100, 0), LabelItem("", 5, 130, 200, 10, 2118),
                               PushButtonItem(IDOK, "Trace", 200, 5, 50, 14), PushButtonItem(2119, "Query", 200, 25, 50, 14)}});
  int queries = 0;
  trace.MapCommand(2119, [&] { ++queries; });
  ASSERT_TRUE(trace.CreateModeless(nullptr));
  RunEvents(30);
  // A worker writes lines, the status text and the enabling straight into the controls.
  std::thread worker([&] {
    auto* route = trace.GetDlgItemAs<ListBox>(2108);
    for (int hop = 1; hop <= 3; ++hop) route->SetCurSel(route->AddString(std::to_string(hop) + " - 1 ms 10.0.0." + std::to_string(hop)));
    trace.SetDlgItemText(2118, "whois.example.net->? 10.0.0.1");
    trace.GetDlgItem(IDOK)->EnableWindow(false);
  });
  worker.join();
  auto* lines = qobject_cast<QListWidget*>(QtUiSession::WidgetOf(trace.GetDlgItem(2108)));
  auto* status = qobject_cast<QLabel*>(QtUiSession::WidgetOf(trace.GetDlgItem(2118)));
  QWidget* traceButton = QtUiSession::WidgetOf(trace.GetDlgItem(IDOK));
  ASSERT_TRUE(RunEventsUntil([&] { return lines->count() == 3 && !traceButton->isEnabled(); }, 2000));
  EXPECT_EQ(lines->currentRow(), 2);
  EXPECT_EQ(status->text(), QStringLiteral("whois.example.net->? 10.0.0.1"));

  // What the user types and clicks in the widgets reaches the model.
  auto* query = qobject_cast<QLineEdit*>(QtUiSession::WidgetOf(trace.GetDlgItem(2117)));
  query->setFocus();
  query->insert(QStringLiteral("? example.net"));
  emit query->textEdited(query->text());
  EXPECT_EQ(trace.GetDlgItemText(2117), "? example.net");
  qobject_cast<QPushButton*>(QtUiSession::WidgetOf(trace.GetDlgItem(2119)))->click();
  EXPECT_EQ(queries, 1);
  lines->setCurrentRow(0);
  EXPECT_EQ(trace.GetDlgItemAs<ListBox>(2108)->GetCurSel(), 0);
  trace.DestroyWindow();
  RunEvents(20);
}

}  // namespace

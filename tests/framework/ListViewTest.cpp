#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "controls/framework/PelorinCListView.h"
#include "platform/TaskAllocator.h"
#include "ui/UiPump.h"

extern char** environ;

namespace {

class ProbeList : public PelorinCListView {
 public:
  int leftDowns = 0;
  Point lastDown;
  void MouseLButtonDown(UINT, Point point) override {
    ++leftDowns;
    lastDown = point;
  }
  using PelorinCListView::OnClick;
};

// Records the context menus forwarded to it.
class ParentWindow : public Window {
 public:
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    if (message == WM_CONTEXTMENU) {
      wParam = w;
      lParam = l;
      return 0;
    }
    return Window::WindowProc(message, w, l);
  }
};

pid_t SpawnSleep() {
  pid_t pid = 0;
  char sleepPath[] = "/bin/sleep";
  char seconds[] = "30";
  char* argv[] = {sleepPath, seconds, nullptr};
  if (posix_spawn(&pid, sleepPath, nullptr, nullptr, argv, environ) != 0) return -1;
  usleep(50000);  // let the child become sleep
  return pid;
}

}  // namespace

TEST(ListView, SelectionColumnsFontsAndItemData) {
  ProbeList list;
  ASSERT_EQ(list.ListCreate(nullptr, 1024, Rect{0, 0, 300, 200}, 0), 0);
  ListColumn column{"Type", 50};
  EXPECT_EQ(list.ListInsertColumn(-1, &column), static_cast<LONG>(0x8000FFFFu));
  EXPECT_EQ(list.ListInsertColumn(0, nullptr), static_cast<LONG>(0x8000FFFFu));
  EXPECT_EQ(list.ListInsertColumn(0, &column), 0);
  EXPECT_EQ(list.ListInsertColumn(1, &column), 0);
  EXPECT_EQ(list.GetColumnCount(), 2);
  EXPECT_EQ(list.ListDeleteColumn(1), 0);
  EXPECT_EQ(list.ListDeleteColumn(5), 0);  // nothing deleted, count unchanged
  EXPECT_EQ(list.GetColumnCount(), 1);

  for (int i = 0; i < 5; ++i) {
    const int row = list.InsertItem(i, "row" + std::to_string(i));
    if (i != 2) list.SetItemData(row, CoTaskMemAlloc(28));  // row 2 carries no record
    list.ListSelect(row);
  }
  list.ListUnSelectAll(3);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 3);
  EXPECT_EQ(list.GetSelectedCount(), 1);
  EXPECT_EQ(list.GetCurrentItem(), -1);
  list.FreeItemData(2);  // a row without record is skipped
  list.FreeItemData(0);
  EXPECT_EQ(list.GetItemData(0), nullptr);
  list.SetRowCounter(5);
  list.ListDeleteAll();  // frees the rest: the leak checker sees any record left behind
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.GetRowCounter(), 0);

  EXPECT_EQ(list.ListSetFont(), static_cast<LONG>(0x8000FFFFu));  // no font yet
  EXPECT_EQ(list.ListCreateFont(10, "Courier New"), 0);
  EXPECT_EQ(list.GetFontSize(), 10);
  EXPECT_EQ(list.ListSetFont(), 0);
  EXPECT_EQ(list.GetFont().PointTenths(), 100);
  EXPECT_EQ(list.ListCreateFont(10, nullptr), 0);
  EXPECT_EQ(list.GetFontSize(), 0);
  EXPECT_EQ(list.IsClose(), 1);
}

TEST(ListView, ClearingWhileAWorkerInsertsLosesNoRecord) {
  ProbeList list;
  ASSERT_EQ(list.ListCreate(nullptr, 1024, Rect{0, 0, 300, 200}, 0), 0);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) {
      // A row and its record arrive in one call, so a clearing in between cannot orphan it.
      void* record = CoTaskMemAlloc(12);
      if (list.InsertItem(list.GetRowCounter(), "x", -1, reinterpret_cast<DWORD_PTR>(record)) < 0)
        CoTaskMemFree(record);
      list.IncreaseRowCounter();
    }
    done = true;
  });
  while (!done) list.ListDeleteAll();
  worker.join();
  list.ListDeleteAll();
  EXPECT_EQ(list.GetItemCount(), 0);
}

TEST(ListView, ProcessNamesAndSharedIcons) {
  EXPECT_EQ(PelorinCListView::ProcessNameFormat("EXPLORER.EXE"), "Explorer.exe");
  EXPECT_EQ(PelorinCListView::ProcessNameFormat("9lives"), "9lives");
  EXPECT_EQ(PelorinCListView::ProcessNameFormat(""), "");

  ProbeList list;
  ASSERT_EQ(list.ListCreate(nullptr, 1024, Rect{0, 0, 300, 200}, 0), 0);
  std::string path;
  EXPECT_EQ(list.ProcessGetName(static_cast<DWORD>(getpid()), &path), "Test_framework");
  EXPECT_NE(path.find("/Test_framework"), std::string::npos);
  path = "unchanged";
  EXPECT_EQ(list.ProcessGetName(0x7FFFFFF0u, &path), "");  // no such process
  EXPECT_EQ(path, "unchanged");

  EXPECT_EQ(list.GetAppIcon("Sleep", 0, 1), -1);  // no image list yet
  ASSERT_NE(list.CreateImageList(0), nullptr);
  EXPECT_EQ(list.GetDefaultIconIndex(), 0);
  const pid_t first = SpawnSleep();
  const pid_t second = SpawnSleep();
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  list.ProcessSnapshotTake();
  const std::string name = list.ProcessGetName(static_cast<DWORD>(first), nullptr);
  EXPECT_EQ(name, "Sleep");
  const int row = list.InsertItem(0, name);
  const LONG icon = list.GetAppIcon(name, row, static_cast<DWORD>(first));
  list.SetItemImage(row, icon);
  EXPECT_GT(icon, 0);
  // A second process of the same program shares the image, whatever the case of its text.
  EXPECT_EQ(list.GetAppIcon("SLEEP", 1, static_cast<DWORD>(second)), icon);
  EXPECT_EQ(list.GetIconList()->GetImageCount(), 2);
  // A process gone before its icon is looked up gets the default icon.
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  list.ProcessSnapshotClose();
  EXPECT_EQ(list.GetAppIcon("Vanished", 2, static_cast<DWORD>(first)), list.GetDefaultIconIndex());
  kill(second, SIGKILL);
  waitpid(second, nullptr, 0);
}

TEST(ListView, MouseHookClicksAndContextMenuForwarding) {
  UiPump::Instance().AttachToCurrentThread();
  ParentWindow parent;
  ASSERT_TRUE(parent.Create("frame", WS_VISIBLE, Rect{0, 0, 640, 480}, nullptr, 0));
  ProbeList list;
  ASSERT_EQ(list.ListCreate(&parent, 1024, Rect{10, 20, 300, 200}, 1), 0);
  list.ShowWindow(SW_SHOW);

  list.Show(1);
  EXPECT_TRUE(list.HasHook());
  EXPECT_EQ(PelorinCListView::ActiveHookedView(), &list);
  MouseHook::Dispatch(MouseHookEvent{WM_LBUTTONDOWN, Point{40, 50}, list.GetSafeHwnd(), HTCLIENT});
  EXPECT_EQ(list.leftDowns, 1);
  EXPECT_EQ(list.lastDown, (Point{40, 50}));
  EXPECT_EQ(list.GetMousePoint(), (Point{40, 50}));

  list.InsertItem(0, "a");
  list.InsertItem(1, "b");
  ListNotify click;
  click.iItem = 1;
  click.iSubItem = 3;
  LRESULT result = -1;
  list.OnClick(click, &result);
  EXPECT_EQ(list.GetCurrentItem(), 1);
  EXPECT_EQ(list.GetCurrentColumn(), 3);
  EXPECT_EQ(list.GetClickPoint(), (Point{40, 50}));

  list.Show(0);
  EXPECT_FALSE(list.HasHook());
  EXPECT_EQ(PelorinCListView::ActiveHookedView(), nullptr);
  MouseHook::Dispatch(MouseHookEvent{WM_LBUTTONDOWN, Point{1, 1}, list.GetSafeHwnd(), HTCLIENT});
  EXPECT_EQ(list.leftDowns, 1);

  // The context menu goes to the parent with the point in wParam and the list in lParam.
  list.SendMessage(WM_CONTEXTMENU, static_cast<WPARAM>(list.GetSafeHwnd()), MAKELPARAM(120, 130));
  EXPECT_EQ(LOWORD(parent.wParam), 120);
  EXPECT_EQ(HIWORD(parent.wParam), 130);
  EXPECT_EQ(static_cast<HWND>(parent.lParam), list.GetSafeHwnd());
}

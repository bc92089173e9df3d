#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "common/Messages.h"
#include "ui/Dialog.h"
#include "ui/ListControl.h"
#include "ui/Menu.h"
#include "ui/RichEdit.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"

namespace {

// A modeless window that asks its owner to close it, and is told of new packets by a worker.
class FeedWindow : public Dialog {
 public:
  explicit FeedWindow(Window* owner)
      : Dialog(DialogTemplate{"Packet Feed", 334, 227, "MS Sans Serif", 8, {RichEditItem(258, 7, 30, 320, 150), DefPushButtonItem(IDOK, "Done", 277, 206, 50, 14)}}, owner) {}
  int packets = 0;
  bool helped = false;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_PELORIN_NEW_PACKET) {
      ++packets;
      GetDlgItemAs<RichEdit>(258)->AppendText(std::to_string(lParam) + "\r\n");
      return 0;
    }
    return Dialog::WindowProc(message, wParam, lParam);
  }
  void OnOK() override {
    ::PostMessage(GetParentWindow()->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(GetSafeHwnd()));
    Dialog::OnOK();
  }
  bool OnHelpInfo() override { return helped = true; }
};

// The owner destroys the windows it opened on their close request.
class OwnerList : public ListControl {
 public:
  std::vector<std::unique_ptr<FeedWindow>> windows;
  bool PreTranslateMessage(const WindowMessage& message) override {
    if (message.message != WM_PELORIN_CLOSE_WINDOW) return false;
    Window* window = Window::FromHandle(static_cast<HWND>(message.lParam));
    for (auto it = windows.begin(); it != windows.end(); ++it) {
      if (it->get() == window) {
        windows.erase(it);
        break;
      }
    }
    return true;
  }
};

TEST(ModelessWindowTest, AWindowClosedOnItsRequestGetsNoMoreMessages) {
  Window frame;
  ASSERT_TRUE(frame.Create("frame", WS_VISIBLE, Rect{0, 0, 800, 600}, nullptr, 0));
  OwnerList list;
  ASSERT_TRUE(list.Create(0x406100C9, Rect{0, 0, 800, 600}, &frame, 1027));
  list.windows.push_back(std::make_unique<FeedWindow>(&list));
  FeedWindow* feed = list.windows.back().get();
  ASSERT_TRUE(feed->CreateModeless(&list));
  const HWND feedHandle = feed->GetSafeHwnd();
  // Centred on its owner.
  EXPECT_EQ(feed->GetWindowRect().left, (800 - feed->GetWindowRect().Width()) / 2);

  // A worker notifies the feed by handle; the user presses Done while notifications are queued.
  std::thread capture([feedHandle] {
    for (int i = 0; i < 50; ++i) ::PostMessage(feedHandle, WM_PELORIN_NEW_PACKET, 60, i * 100);
  });
  capture.join();
  UiPump::Instance().PumpPending();
  EXPECT_EQ(feed->packets, 50);
  EXPECT_EQ(feed->GetDlgItemAs<RichEdit>(258)->GetLineCount(), 51);
  EXPECT_TRUE(feed->PressHelp());
  EXPECT_TRUE(feed->helped);
  for (int i = 0; i < 5; ++i) ::PostMessage(feedHandle, WM_PELORIN_NEW_PACKET, 60, i);
  EXPECT_TRUE(feed->ClickButton(IDOK));
  EXPECT_FALSE(feed->IsWindowVisible());
  ::PostMessage(feedHandle, WM_PELORIN_NEW_PACKET, 60, 0);
  UiPump::Instance().PumpPending();  // the five arrive, then the close request destroys it
  EXPECT_TRUE(list.windows.empty());
  EXPECT_FALSE(Window::IsWindow(feedHandle));
  EXPECT_FALSE(::PostMessage(feedHandle, WM_PELORIN_NEW_PACKET, 60, 0));
  UiPump::Instance().PumpPending();
}

TEST(ModelessWindowTest, SystemCloseOfADialogCancelsIt) {
  ScriptedServices services;
  services.OnNextModal([](Dialog& dialog) { dialog.SendMessage(WM_CLOSE); });
  Dialog dialog(DialogTemplate{"Find", 334, 278, "MS Sans Serif", 8, {DefPushButtonItem(IDOK, "Find", 5, 5, 50, 14)}});
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  // A dialog that ends itself while initialising never shows.
  constexpr int kAbort = 3;
  class Refusing : public Dialog {
   public:
    Refusing() : Dialog(DialogTemplate{"Log Pages", 268, 220, "MS Sans Serif", 8, {}}) {}
    bool OnInitDialog() override {
      EndDialog(3);
      return true;
    }
  };
  Refusing refusing;
  EXPECT_EQ(refusing.DoModal(), kAbort);
  EXPECT_EQ(services.ModalCaptions(), (std::vector<std::string>{"Find"}));
}

TEST(ModelessWindowTest, RichTextReplacedInTheMiddleMovesTheRunsAfterIt) {
  Window host;
  ASSERT_TRUE(host.Create("host", 0, Rect{0, 0, 100, 100}, nullptr, 0));
  RichEdit pane;
  ASSERT_TRUE(pane.Create(ES_MULTILINE, Rect{0, 0, 100, 100}, &host, 1));
  pane.SetWindowText("aaaBBBccc");
  CharFormat red;
  red.dwMask = CFM_COLOR;
  red.dwEffects = 0;
  red.crTextColor = RGB(255, 0, 0);
  pane.SetSel(3, 6);
  pane.SetSelectionCharFormat(red);
  pane.SetSel(1, 2);
  pane.ReplaceSel("XYZ");  // "aXYZaBBBccc": the red run moves two to the right
  const auto runs = pane.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].start, 5);
  EXPECT_EQ(runs[1].end, 8);
  EXPECT_EQ(runs[1].format.crTextColor, RGB(255, 0, 0));
  EXPECT_EQ(pane.GetWindowText(), "aXYZaBBBccc");
  pane.SetSel(4, 9);  // across the run: cut out, the rest joins
  pane.ReplaceSel("");
  EXPECT_EQ(pane.GetWindowText(), "aXYZcc");
  ASSERT_EQ(pane.Runs().size(), 1u);
  EXPECT_TRUE(pane.Runs()[0].format.AutoColor());
}

TEST(ModelessWindowTest, MenusFindCommandsInSubMenusAndChangeThem) {
  Menu bar;
  Menu* file = bar.AppendPopup("&File");
  file->AppendMenu(MF_STRING, 32784, "Save Layout");
  Menu* sessions = file->AppendPopup("Sessions");
  sessions->AppendMenu(MF_STRING | MF_GRAYED, 32786, "Create/Select Session Log...");
  file->AppendMenu(MF_SEPARATOR);
  file->AppendMenu(MF_STRING, 57665, "E&xit");
  EXPECT_EQ(bar.GetMenuString(32786, MF_BYCOMMAND), "Create/Select Session Log...");
  EXPECT_FALSE(bar.IsEnabled(32786));
  EXPECT_EQ(bar.EnableMenuItem(32786, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
  EXPECT_TRUE(bar.IsEnabled(32786));
  EXPECT_EQ(bar.CheckMenuItem(32784, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(bar.CheckMenuItem(99999, MF_BYCOMMAND | MF_CHECKED), 0xFFFFFFFFu);
  EXPECT_EQ(file->GetMenuItemID(1), 0xFFFFFFFFu);  // a sub-menu
  EXPECT_EQ(file->GetMenuItemID(2), 0u);           // a separator
  EXPECT_TRUE(bar.ModifyMenu(57665, MF_BYCOMMAND | MF_STRING, 57665, "Exit"));
  EXPECT_EQ(file->GetMenuString(3, MF_BYPOSITION), "Exit");
  EXPECT_TRUE(bar.DeleteMenu(32784, MF_BYCOMMAND));
  EXPECT_EQ(file->GetMenuItemCount(), 3);
  EXPECT_EQ(bar.Find(32784, MF_BYCOMMAND), nullptr);
}

TEST(ModelessWindowTest, DeletingRowsKeepsTheScrollPositionInside) {
  Window host;
  ASSERT_TRUE(host.Create("host", 0, Rect{0, 0, 100, 100}, nullptr, 0));
  ListControl list;
  ASSERT_TRUE(list.Create(0x406100C9 | LVS_SORTDESCENDING, Rect{0, 0, 100, 24 + 3 * 20}, &host, 1));
  list.SetViewMetrics(20, 24);
  for (const char* name : {"b", "c", "a", "c"}) list.InsertItem(0, name);
  EXPECT_EQ(list.GetItemText(0, 0), "c");
  EXPECT_EQ(list.GetItemText(3, 0), "a");
  list.EnsureVisible(3, false);
  EXPECT_EQ(list.GetTopIndex(), 1);
  list.DeleteItem(0);
  EXPECT_EQ(list.GetTopIndex(), 0);
  list.DeleteAllItems();
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_FALSE(list.EnsureVisible(0, false));
  EXPECT_FALSE(list.SetItemText(0, 0, "x"));
  EXPECT_EQ(list.GetItemText(0, 0), "");
}

}  // namespace

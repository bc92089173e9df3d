#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "common/Messages.h"
#include "ui/MouseHook.h"
#include "ui/UiPump.h"
#include "ui/Window.h"

namespace {

// Counts what reaches it, and takes the private close request before normal handling.
class Pane : public Window {
 public:
  explicit Pane(std::atomic<int>* delivered = nullptr) : m_delivered(delivered) {}
  std::vector<UINT> handled;
  std::vector<UINT> pretranslated;
  std::vector<UINT> timers;
  std::vector<std::pair<UINT, HWND>> focus;
  bool takeClose = true;

  bool PreTranslateMessage(const WindowMessage& message) override {
    pretranslated.push_back(message.message);
    return takeClose && message.message == WM_PELORIN_CLOSE_WINDOW;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message >= WM_USER) {
      handled.push_back(message);
      if (m_delivered != nullptr) ++*m_delivered;
      return static_cast<LRESULT>(wParam) * 2;
    }
    return Window::WindowProc(message, wParam, lParam);
  }

 protected:
  void OnTimer(UINT id) override { timers.push_back(id); }
  void OnSetFocus(Window* old) override { focus.emplace_back(WM_SETFOCUS, old ? old->GetSafeHwnd() : kNoWindow); }
  void OnKillFocus(Window* next) override { focus.emplace_back(WM_KILLFOCUS, next ? next->GetSafeHwnd() : kNoWindow); }

 private:
  std::atomic<int>* m_delivered;
};

TEST(WindowPumpTest, MessagesPostedToADestroyedWindowAreDropped) {
  std::atomic<int> delivered{0};
  auto pane = std::make_unique<Pane>(&delivered);
  ASSERT_TRUE(pane->Create("pane", 0, Rect{0, 0, 10, 10}, nullptr, 0));
  const HWND handle = pane->GetSafeHwnd();
  // A worker posts by handle while the window may close at any time.
  std::thread worker([handle] {
    for (int i = 0; i < 1000; ++i) ::PostMessage(handle, WM_PELORIN_NEW_PACKET, 60, i);
  });
  worker.join();
  EXPECT_EQ(UiPump::Instance().PendingMessages(), 1000u);
  pane.reset();  // destroyed with its messages still queued
  EXPECT_FALSE(Window::IsWindow(handle));
  EXPECT_EQ(Window::FromHandle(handle), nullptr);
  UiPump::Instance().PumpPending();  // ASan would report a delivery to freed memory
  EXPECT_EQ(delivered.load(), 0);
  EXPECT_EQ(UiPump::Instance().PendingMessages(), 0u);
  EXPECT_FALSE(::PostMessage(handle, WM_PELORIN_NEW_PACKET, 0, 0));
  // Handles are not reused by later windows.
  Pane later;
  ASSERT_TRUE(later.Create("later", 0, Rect{}, nullptr, 0));
  EXPECT_NE(later.GetSafeHwnd(), handle);
}

TEST(WindowPumpTest, PreTranslateSeesPostedMessagesFirstUpTheParentChain) {
  Pane frame;
  Pane list;
  ASSERT_TRUE(frame.Create("frame", 0, Rect{0, 0, 100, 100}, nullptr, 0));
  ASSERT_TRUE(list.Create("list", 0, Rect{0, 0, 50, 50}, &frame, 1024));
  list.takeClose = false;
  list.PostMessage(WM_PELORIN_CLOSE_WINDOW, 0, 7);  // taken by the frame's pre-translate step
  list.PostMessage(WM_PELORIN_STOP_ACK, 1, 0);       // reaches the list
  UiPump::Instance().PumpPending();
  EXPECT_EQ(list.pretranslated, (std::vector<UINT>{WM_PELORIN_CLOSE_WINDOW, WM_PELORIN_STOP_ACK}));
  EXPECT_EQ(frame.pretranslated, (std::vector<UINT>{WM_PELORIN_CLOSE_WINDOW, WM_PELORIN_STOP_ACK}));
  EXPECT_EQ(list.handled, (std::vector<UINT>{WM_PELORIN_STOP_ACK}));
  EXPECT_TRUE(frame.handled.empty());
  // Sent messages run at once and answer; from a worker they are posted instead.
  EXPECT_EQ(list.SendMessage(WM_USER + 9, 21, 0), 42);
  std::thread worker([&list] { EXPECT_EQ(list.SendMessage(WM_USER + 10, 1, 0), 0); });
  worker.join();
  EXPECT_EQ(list.handled.back(), static_cast<UINT>(WM_USER + 9));
  UiPump::Instance().PumpPending();
  EXPECT_EQ(list.handled.back(), static_cast<UINT>(WM_USER + 10));
}

TEST(WindowPumpTest, TimersTickUntilKilledOrTheWindowGoes) {
  auto pane = std::make_unique<Pane>();
  ASSERT_TRUE(pane->Create("pane", 0, Rect{}, nullptr, 0));
  pane->SetTimer(7, 10);
  pane->SetTimer(8, 15);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->timers.size() >= 6; }, 2000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_TRUE(pane->KillTimer(7));
  EXPECT_FALSE(pane->KillTimer(7));
  pane->timers.clear();
  UiPump::Instance().PumpUntil([&] { return pane->timers.size() >= 2; }, 2000);
  for (UINT id : pane->timers) EXPECT_EQ(id, 8u);
  pane.reset();
  EXPECT_EQ(UiPump::Instance().MillisecondsToNextTimer(), -1);
}

TEST(WindowPumpTest, PumpUntilReturnsAsSoonAsAWorkerPosts) {
  Pane pane;
  ASSERT_TRUE(pane.Create("pane", 0, Rect{}, nullptr, 0));
  const HWND handle = pane.GetSafeHwnd();
  std::thread worker([handle] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::PostMessage(handle, WM_PELORIN_STOP_ACK, 1, 0);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(UiPump::Instance().PumpUntil([&] { return !pane.handled.empty(); }, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  worker.join();
  EXPECT_FALSE(UiPump::Instance().PumpUntil([] { return false; }, 30));
}

TEST(WindowPumpTest, TreeFocusAndGeometry) {
  Pane frame;
  ASSERT_TRUE(frame.Create("frame", WS_VISIBLE, Rect{100, 50, 900, 650}, nullptr, 0));
  auto first = std::make_unique<Pane>();
  Pane* second = new Pane();
  ASSERT_TRUE(first->Create("first", WS_VISIBLE, Rect{0, 0, 800, 300}, &frame, 1024));
  ASSERT_TRUE(second->Create("second", WS_VISIBLE, Rect{0, 300, 800, 600}, &frame, 1027));
  frame.Adopt(std::unique_ptr<Window>(second));
  EXPECT_EQ(frame.GetDlgItem(1027), second);
  EXPECT_EQ(frame.GetDlgItem(5), nullptr);
  EXPECT_EQ(second->GetWindowRect(), (Rect{100, 350, 900, 650}));
  EXPECT_EQ(second->ScreenToClient(Point{110, 360}), (Point{10, 10}));
  EXPECT_EQ(second->GetClientRect(), (Rect{0, 0, 800, 300}));

  first->SetFocus();
  second->SetFocus();
  EXPECT_EQ(Window::GetFocus(), second);
  EXPECT_EQ(first->focus.back(), (std::pair<UINT, HWND>{WM_KILLFOCUS, second->GetSafeHwnd()}));
  EXPECT_EQ(second->focus.back(), (std::pair<UINT, HWND>{WM_SETFOCUS, first->GetSafeHwnd()}));

  frame.ShowWindow(SW_HIDE);
  EXPECT_FALSE(second->IsWindowVisible());
  EXPECT_TRUE(second->IsShown());
  EXPECT_FALSE(second->EnableWindow(false));
  EXPECT_TRUE(second->EnableWindow(true));

  // Destroying the frame destroys its children; the adopted one is deleted, the other kept.
  const HWND secondHandle = second->GetSafeHwnd();
  frame.DestroyWindow();
  EXPECT_FALSE(Window::IsWindow(secondHandle));
  EXPECT_FALSE(first->IsCreated());
  EXPECT_EQ(first->GetParent(), nullptr);
  EXPECT_EQ(Window::GetFocus(), nullptr);
}

TEST(WindowPumpTest, MouseHooksSeeEveryPressAndMayRemoveThemselves) {
  std::vector<std::string> seen;
  HHOOK first = 0;
  first = MouseHook::Install([&](const MouseHookEvent& e) {
    seen.push_back("first " + std::to_string(e.message) + " " + std::to_string(e.pt.x));
    MouseHook::Remove(first);
  });
  const HHOOK second = MouseHook::Install([&](const MouseHookEvent& e) { seen.push_back("second " + std::to_string(e.hitTest)); });
  MouseHook::Dispatch(MouseHookEvent{WM_RBUTTONDOWN, Point{12, 34}, kNoWindow, HTCLIENT});
  MouseHook::Dispatch(MouseHookEvent{WM_NCLBUTTONDOWN, Point{1, 2}, kNoWindow, HTVSCROLL});
  EXPECT_EQ(seen, (std::vector<std::string>{"second 1", "first 516 12", "second 7"}));
  EXPECT_TRUE(MouseHook::Remove(second));
  EXPECT_EQ(MouseHook::Count(), 0);
}

}  // namespace

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/WorkerThread.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records what the loop did, in order: "init", "idle<n>", "msg<n>", "exit".
class RecordingThread : public WorkerThread {
 public:
  explicit RecordingThread(long idleCalls = 0) : WorkerThread("recording"), m_idleCalls(idleCalls) {}
  ~RecordingThread() override { EndThread(); }

  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }
  bool WaitFor(const std::string& event, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      for (const auto& e : Events())
        if (e == event) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  std::atomic<int> pauseMs{0};
  std::atomic<bool> pauseCut{false};

 protected:
  bool InitInstance() override {
    Add("init");
    return true;
  }
  int ExitInstance() override {
    Add("exit");
    return 0;
  }
  bool OnIdle(long count) override {
    Add("idle" + std::to_string(count));
    if (pauseMs > 0) {
      pauseCut = !Pause(static_cast<DWORD>(pauseMs.load()));
      pauseMs = 0;
    }
    return count + 1 < m_idleCalls;
  }
  bool PreTranslateMessage(const ThreadMessage& message) override {
    if (message.message == 7) {
      Add("pre" + std::to_string(message.wParam));
      return true;
    }
    return false;
  }
  void OnThreadMessage(const ThreadMessage& message) override { Add("msg" + std::to_string(message.wParam)); }

 private:
  void Add(std::string e) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(std::move(e));
  }
  long m_idleCalls;
  std::mutex m_mutex;
  std::vector<std::string> m_events;
};

}  // namespace

TEST(WorkerThread, IdleRunsUntilFalseThenWaitsAndRestartsAfterEachMessage) {
  RecordingThread thread(3);
  ASSERT_TRUE(thread.CreateThread(false));
  ASSERT_TRUE(thread.WaitFor("idle2"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(thread.Events(), (std::vector<std::string>{"init", "idle0", "idle1", "idle2"}));

  thread.PostThreadMessage(1, 10);
  ASSERT_TRUE(thread.WaitFor("msg10"));
  thread.PostThreadMessage(7, 11);  // taken by PreTranslateMessage, never dispatched
  ASSERT_TRUE(thread.WaitFor("pre11"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  thread.EndThread();
  const auto events = thread.Events();
  const std::vector<std::string> expected{"init", "idle0", "idle1", "idle2", "msg10", "idle0", "idle1", "idle2",
                                          "pre11", "idle0", "idle1", "idle2", "exit"};
  EXPECT_EQ(events, expected);
}

TEST(WorkerThread, MessagesAreHandledInPostingOrder) {
  RecordingThread thread;
  ASSERT_TRUE(thread.CreateThread(true));  // held: messages queue up
  for (std::uintptr_t i = 0; i < 100; ++i) ASSERT_TRUE(thread.PostThreadMessage(1, i));
  EXPECT_EQ(thread.ResumeThread(), 1u);
  ASSERT_TRUE(thread.WaitFor("msg99"));
  std::vector<std::string> handled;
  for (const auto& e : thread.Events())
    if (e.rfind("msg", 0) == 0) handled.push_back(e);
  ASSERT_EQ(handled.size(), 100u);
  for (std::size_t i = 0; i < handled.size(); ++i) EXPECT_EQ(handled[i], "msg" + std::to_string(i));
}

TEST(WorkerThread, SuspendCountsAndHolding) {
  RecordingThread thread;
  EXPECT_EQ(thread.SuspendThread(), 0xFFFFFFFFu);  // no thread yet
  ASSERT_TRUE(thread.CreateThread(true));
  EXPECT_EQ(thread.SuspendThread(), 1u);
  EXPECT_EQ(thread.SuspendThread(), 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(thread.Events().empty());  // not even initialised while held
  EXPECT_EQ(thread.ResumeThread(), 3u);
  EXPECT_EQ(thread.ResumeThread(), 2u);
  EXPECT_TRUE(thread.Events().empty());
  EXPECT_EQ(thread.ResumeThread(), 1u);
  ASSERT_TRUE(thread.WaitFor("idle0"));
  EXPECT_EQ(thread.ResumeThread(), 0u);  // resuming a running thread changes nothing

  EXPECT_EQ(thread.SuspendThread(), 0u);
  thread.PostThreadMessage(1, 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(thread.WaitFor("msg5", std::chrono::milliseconds(1)));
  thread.ResumeThread();
  EXPECT_TRUE(thread.WaitFor("msg5"));
}

TEST(WorkerThread, APauseEndsAtOnceForAMessageAWakeOrTheEnd) {
  for (int how = 0; how < 3; ++how) {
    RecordingThread thread(1);
    thread.pauseMs = 10000;
    ASSERT_TRUE(thread.CreateThread(false));
    ASSERT_TRUE(thread.WaitFor("idle0"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto start = Clock::now();
    if (how == 0) thread.PostThreadMessage(1, 1);
    if (how == 1) thread.Wake();
    if (how == 2) thread.EndThread();
    if (how == 0) {
      ASSERT_TRUE(thread.WaitFor("msg1"));
    }
    if (how == 1)
      while (thread.pauseMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << how;
    if (how != 2) {
      EXPECT_TRUE(thread.pauseCut) << how;
    }
  }
}

TEST(WorkerThread, EndingASuspendedThreadStillJoins) {
  RecordingThread thread;
  ASSERT_TRUE(thread.CreateThread(true));
  thread.SuspendThread();
  const auto start = Clock::now();
  thread.EndThread();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(thread.PostThreadMessage(1));
}

TEST(WorkerThread, QuietOnlyWhileNoHandlerRuns) {
  RecordingThread thread(1);
  thread.pauseMs = 10000;  // the first idle call sleeps inside its handler
  ASSERT_TRUE(thread.CreateThread(false));
  ASSERT_TRUE(thread.WaitFor("idle0"));
  EXPECT_FALSE(thread.WaitForQuiet(50));
  thread.Wake();  // the handler returns false: the loop waits for messages
  EXPECT_TRUE(thread.WaitForQuiet(5000));
  thread.SuspendThread();
  thread.PostThreadMessage(1, 3);  // held by the suspend count: still quiet
  EXPECT_TRUE(thread.WaitForQuiet(5000));
  thread.ResumeThread();
  ASSERT_TRUE(thread.WaitFor("msg3"));
  thread.EndThread();
  EXPECT_TRUE(thread.WaitForQuiet(0));
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/Messages.h"
#include "controls/framework/PelorinCListView.h"
#include "controls/framework/PelorinCThread.h"
#include "ui/UiPump.h"

namespace {

using Clock = std::chrono::steady_clock;

// A worker following the statistics pattern: acknowledge a stop once, scan, pause.
class PatternThread : public PelorinCThread {
 public:
  PatternThread(PelorinCListView* list) : PelorinCThread(list, list) {}
  ~PatternThread() override { EndThread(); }
  std::atomic<int> passes{0};
  std::atomic<int> acks{0};

 protected:
  bool OnIdle(long) override {
    if (IsClose()) {
      SetCount(0);
      return false;
    }
    if (IsStop()) {
      if (!m_acked) {
        m_acked = true;
        ++acks;
        PostStopAck();
      }
      return CountAsIdleResult();
    }
    m_acked = false;
    ++passes;
    Pause(GetScan());
    IncreCount();
    return CountAsIdleResult();
  }

 private:
  bool m_acked = false;
};

class PatternList : public PelorinCListView {
 public:
  ~PatternList() override { ProcessClose(); }
  PatternThread* MakeThread() {
    auto thread = std::make_unique<PatternThread>(this);
    PatternThread* raw = thread.get();
    SetThread(std::move(thread));
    return raw;
  }
};

}  // namespace

TEST(ScanThread, FlagsCountersAndStartResumingFully) {
  PelorinCThread bare;
  EXPECT_EQ(bare.GetCount(), 0u);
  EXPECT_EQ(bare.IsClose(), 0);
  bare.SetCount(7);
  bare.SetClose();
  EXPECT_EQ(bare.IsClose(), 1);
  EXPECT_EQ(bare.GetCount(), 0u);  // a worker returning the counter stops idling

  PatternList list;
  ASSERT_EQ(list.ListCreate(nullptr, 1025, Rect{0, 0, 200, 100}, 1), 0);
  PatternThread* thread = list.MakeThread();
  thread->SetScan(5);
  ASSERT_TRUE(thread->CreateThread(true));
  thread->SuspendThread();
  thread->SuspendThread();  // suspended three times in all
  EXPECT_EQ(thread->Start(""), 0);
  EXPECT_EQ(thread->SuspendCount(), 0u);
  EXPECT_EQ(thread->IsStart(), 1);
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (thread->passes < 3 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GE(thread->passes.load(), 3);
  EXPECT_GE(thread->GetCount(), 3u);
}

TEST(ScanThread, StopIsAcknowledgedOnceAndTheListSuspendsTheWorker) {
  UiPump::Instance().AttachToCurrentThread();
  PatternList list;
  ASSERT_EQ(list.ListCreate(nullptr, 1025, Rect{0, 0, 200, 100}, 1), 0);
  PatternThread* thread = list.MakeThread();
  thread->SetScan(5);
  ASSERT_TRUE(thread->CreateThread(true));
  thread->Start("");
  thread->SetStop(1);
  // The acknowledgement reaches the list, which suspends its worker.
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return thread->SuspendCount() == 1; }, 5000));
  EXPECT_EQ(thread->acks.load(), 1);
  EXPECT_EQ(thread->IsStart(), 0);
  // Starting again resumes it; a new stop is acknowledged again.
  thread->SetStop(0);
  thread->Start("");
  const int before = thread->passes;
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return thread->passes > before; }, 5000));
  thread->SetStop(1);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return thread->acks == 2; }, 5000));
}

TEST(ScanThread, CloseDuringALongPauseReturnsPromptly) {
  auto list = std::make_unique<PatternList>();
  ASSERT_EQ(list->ListCreate(nullptr, 1025, Rect{0, 0, 200, 100}, 1), 0);
  PatternThread* thread = list->MakeThread();
  thread->SetScan(60000);  // a minute between scans
  ASSERT_TRUE(thread->CreateThread(true));
  thread->Start("");
  while (thread->passes == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = Clock::now();
  list->ProcessClose();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(list->GetThread(), nullptr);
  EXPECT_EQ(list->IsClose(), 1);  // no thread: closed
}

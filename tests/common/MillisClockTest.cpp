#include "common/MillisClock.h"

#include <gtest/gtest.h>
#include <sys/time.h>

namespace {

std::int64_t SystemMs() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

}  // namespace

// Asked as often as a busy capture asks, the clock answers the millisecond the system clock
// shows around each call, never one that has already ended, and (where the kernel keeps time by
// the time-stamp counter) reads the system clock for only a small share of the calls.
TEST(MillisClock, AnswersTheRunningMillisecondAndReadsTheSystemClockSeldom) {
  MillisClock clock;
  std::uint64_t calls = 0, readsBefore = 0, callsBefore = 0;
  const std::int64_t start = SystemMs();
  std::int64_t last = 0;
  // The share of clock reads is counted once the counter's rate has been measured (after the
  // first 10 ms), so that a busy machine pausing this thread cannot move the count.
  bool counting = false;
  while (true) {
    const std::int64_t before = SystemMs();
    const std::int64_t ms = clock.NowMs();
    const std::int64_t after = SystemMs();
    ++calls;
    ASSERT_GE(ms, before);
    ASSERT_LE(ms, after);
    ASSERT_GE(ms, last);
    last = ms;
    if (!counting && after >= start + 10) {
      counting = true;
      readsBefore = clock.ClockReads();
      callsBefore = calls;
    }
    if (after >= start + 60) break;
  }
  const std::uint64_t reads = clock.ClockReads() - readsBefore, counted = calls - callsBefore;
  if (clock.UsesCounter()) EXPECT_LT(reads * 4, counted) << reads << " reads in " << counted << " calls";
  else EXPECT_EQ(clock.ClockReads(), calls);
}

#include "common/MillisClock.h"

#include <time.h>

#include <fstream>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#define PELORIN_HAS_TSC 1
#endif

namespace {

// The first rate is measured over a short span, so that a capture soon uses it; it is good to
// a few parts in a thousand. Then it is measured again over each longer span, and follows the
// counter.
constexpr std::int64_t kFirstCalibrationUs = 2'000;
constexpr std::int64_t kCalibrationUs = 50'000;
// A clock reading that took longer than this (in ticks) was interrupted: its pairing with the
// counter is too loose to measure the rate by.
constexpr std::uint64_t kLoosePairTicks = 20'000;
// How far apart two measured rates may be and both be trusted.
constexpr double kAgreement = 0.02;
// The share of the measured rate that decides a millisecond still runs.
constexpr double kSafety = 0.9;

std::uint64_t Counter() {
#ifdef PELORIN_HAS_TSC
  return __rdtsc();
#else
  return 0;
#endif
}

// The kernel keeps time by the counter only when it runs at one rate on every core, in step.
bool KernelTimesByCounter() {
#ifdef PELORIN_HAS_TSC
  static const bool usable = [] {
    std::ifstream source("/sys/devices/system/clocksource/clocksource0/current_clocksource");
    std::string name;
    return std::getline(source, name) && name == "tsc";
  }();
  return usable;
#else
  return false;
#endif
}

}  // namespace

MillisClock::MillisClock() : m_useCounter(KernelTimesByCounter()) {}

std::int64_t MillisClock::NowMs() {
  if (!m_useCounter) return ReadClock(0);
  const std::uint64_t counter = Counter();
  // A counter that went back (another core out of step after all) says nothing: read.
  if (counter >= m_lastCounter && counter < m_sameUntil) {
    m_lastCounter = counter;
    return m_lastMs;
  }
  return ReadClock(counter);
}

std::int64_t MillisClock::ReadClock(std::uint64_t counter) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  ++m_clockReads;
  const std::int64_t ns = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  const std::int64_t us = ns / 1000;
  const std::int64_t ms = ns / 1'000'000;
  m_lastMs = ms;
  if (!m_useCounter) return ms;

  // The counter was read before the clock, so the time it stands for is no later than us:
  // measured from it, the end of this millisecond comes early, never late.
  const std::uint64_t after = Counter();
  m_lastCounter = counter;
  m_sameUntil = 0;
  if (after < counter || after - counter > kLoosePairTicks) return ms;
  if (m_baseUs < 0 || us < m_baseUs || counter < m_baseCounter) {
    m_baseUs = us;
    m_baseCounter = counter;
  } else if (us - m_baseUs >= (m_ticksPerUs > 0 ? kCalibrationUs : kFirstCalibrationUs)) {
    const double rate = static_cast<double>(counter - m_baseCounter) / static_cast<double>(us - m_baseUs);
    // Two spans of a steady counter agree far closer than this; one that does not had the wall
    // clock set within it, and the rate is measured afresh before the counter is used again.
    const bool agrees =
        m_ticksPerUs <= 0 || (rate > m_ticksPerUs * (1 - kAgreement) && rate < m_ticksPerUs * (1 + kAgreement));
    m_ticksPerUs = agrees ? rate : 0;
    m_baseUs = us;
    m_baseCounter = counter;
  }
  if (m_ticksPerUs > 0) {
    const double leftUs = static_cast<double>(1'000'000 - ns % 1'000'000) / 1000;
    m_sameUntil = counter + static_cast<std::uint64_t>(leftUs * m_ticksPerUs * kSafety);
  }
  return ms;
}

#pragma once
#include <cstdint>

// The wall clock to the millisecond, for a thread that needs it for every packet.
//
// Reading the system clock costs more than the rest of a packet's decoding. Where the kernel
// itself keeps time by the processor's time-stamp counter (constant rate, in step on every
// core), the counter tells for most packets that the millisecond last read has not ended yet,
// and the clock is read only near its end. Elsewhere every call reads the clock.
//
// The answer is never later than the clock: a millisecond is reused only while the counter,
// at nine tenths of its measured rate, says that millisecond still runs. A step of the wall
// clock shows by the end of the millisecond that was running when it happened (the rate is
// measured again across it).
class MillisClock {
 public:
  MillisClock();

  // Milliseconds since 1970, UTC.
  std::int64_t NowMs();

  // How many times the system clock was read (the rest were answered from the counter).
  std::uint64_t ClockReads() const { return m_clockReads; }
  bool UsesCounter() const { return m_useCounter; }

 private:
  std::int64_t ReadClock(std::uint64_t counter);

  bool m_useCounter = false;
  std::int64_t m_lastMs = 0;
  std::uint64_t m_lastCounter = 0;
  std::uint64_t m_sameUntil = 0;  // counter value before which m_lastMs still runs; 0: read
  // The rate: counter ticks per microsecond, from two readings at least kCalibrationUs apart.
  double m_ticksPerUs = 0;
  std::uint64_t m_baseCounter = 0;
  std::int64_t m_baseUs = -1;
  std::uint64_t m_clockReads = 0;
};

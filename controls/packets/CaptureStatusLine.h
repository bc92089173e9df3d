#pragma once
#include <cstdint>
#include <string>

#include "controls/packets/CaptureCounts.h"

// The packet capture's line in the status bar, made from the capture's counts each time the
// frame looks at them (a few times a second); the rate is that of the frames captured since the
// last look.
class CaptureStatusLine {
 public:
  // nowMs: a monotonic clock in ms.
  std::string Update(const CaptureCounts& counts, std::int64_t nowMs);

  // 1234567 -> "1,234,567"; bytes -> "512 B", "1.5 KB", "12.3 MB", "2.0 GB" (units of 1024).
  static std::string Grouped(std::uint64_t value);
  static std::string Bytes(std::int64_t bytes);

 private:
  bool m_sampled = false;
  std::uint64_t m_lastCaptured = 0;
  std::int64_t m_lastMs = 0;
  std::uint64_t m_rate = 0;  // frames a second
};

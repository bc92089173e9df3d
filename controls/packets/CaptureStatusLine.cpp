#include "controls/packets/CaptureStatusLine.h"

#include <cstdio>

namespace {

constexpr const char* kBetween = " \xC2\xB7 ";  // a middle dot between the figures

}  // namespace

std::string CaptureStatusLine::Grouped(std::uint64_t value) {
  // Built a digit at a time: the release build's string warnings reject an insert here.
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string CaptureStatusLine::Bytes(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes < 0 ? 0 : bytes) + " B";
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string CaptureStatusLine::Update(const CaptureCounts& counts, std::int64_t nowMs) {
  // A new run counts from zero again, and the rate starts over with it.
  if (!m_sampled || counts.captured < m_lastCaptured) {
    m_sampled = true;
    m_rate = 0;
  } else if (nowMs > m_lastMs) {
    m_rate = (counts.captured - m_lastCaptured) * 1000 / static_cast<std::uint64_t>(nowMs - m_lastMs);
  }
  m_lastCaptured = counts.captured;
  m_lastMs = nowMs;
  if (!counts.capturing && counts.captured == 0) return "";

  std::string line = counts.capturing ? "" : std::string("Stopped") + kBetween;
  line += "Captured " + Grouped(counts.captured);
  line += kBetween + std::string("Logged ") + Grouped(counts.logged);
  if (counts.capturing) line += kBetween + Grouped(m_rate) + "/s";
  if (counts.kernelCounts) line += kBetween + std::string("Dropped ") + Grouped(counts.kernelDropped);
  if (!counts.logging) {
    line += kBetween + std::string("Logging off");
  } else {
    line += kBetween + std::string("Log ") + Bytes(counts.logBytes);
    if (counts.logFiles > 1) line += " in " + std::to_string(counts.logFiles) + " files";
    if (counts.logBound > 0) line += " (" + std::to_string(counts.logBytes * 100 / counts.logBound) + "%)";
  }
  if (counts.filterOn) line += kBetween + std::string("Filter on");
  return line;
}

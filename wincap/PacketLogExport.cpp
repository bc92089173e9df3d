#include "wincap/PacketLogExport.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "wincap/PacketLogBlockReader.h"
#include "wincap/PacketLogFile.h"
#include "wincap/PacketLogSet.h"
#include "wincap/PcapngWriter.h"

std::int64_t PacketLogExport::TimeTextMicros(std::string_view text) {
  const std::string copy(text);
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, millis = 0;
  int used = 0;
  if (std::sscanf(copy.c_str(), "%2d/%2d/%2d %2d:%2d:%2d:%3d%n", &month, &day, &year, &hour, &minute, &second, &millis,
                  &used) != 7 ||
      used != static_cast<int>(copy.size()))
    return 0;
  std::tm local{};
  local.tm_year = (year < 69 ? year + 100 : year);  // two-digit years as strftime's %y reads them
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1)) return 0;
  return static_cast<std::int64_t>(seconds) * 1000000 + static_cast<std::int64_t>(millis) * 1000;
}

namespace {

// The records of one second share their text up to the milliseconds, so the calendar conversion
// (whose time zone lookup costs a file status call each time) runs once per second of log, not
// once per record.
class TimeTextCache {
 public:
  std::int64_t Micros(std::string_view text) {
    if (text.size() == kLength && text.substr(0, kPrefix) == m_prefix) {
      const int millis = Millis(text);
      if (millis >= 0) return m_base + static_cast<std::int64_t>(millis) * 1000;
    }
    const std::int64_t micros = PacketLogExport::TimeTextMicros(text);
    if (micros != 0 && text.size() == kLength) {
      m_prefix.assign(text.substr(0, kPrefix));
      m_base = micros - static_cast<std::int64_t>(Millis(text)) * 1000;
    }
    return micros;
  }

 private:
  static constexpr std::size_t kLength = 21;  // "mm/dd/yy hh:mm:ss:mmm"
  static constexpr std::size_t kPrefix = 18;  // up to the milliseconds
  static int Millis(std::string_view text) {
    int millis = 0;
    for (char c : text.substr(kPrefix)) {
      if (c < '0' || c > '9') return -1;
      millis = millis * 10 + (c - '0');
    }
    return millis;
  }

  std::string m_prefix;
  std::int64_t m_base = 0;
};

}  // namespace

PacketLogExport::Result PacketLogExport::Run(const std::string& logPath, const std::string& outPath) {
  Result result;
  // A long log is a numbered set of files: each is exported once, oldest first.
  const std::vector<PacketLogSet::Member> files = PacketLogSet::Files(logPath);
  if (files.empty()) {
    result.error = "The packet log " + logPath + " cannot be opened.";
    return result;
  }
  std::int64_t bytes = 0;
  for (const PacketLogSet::Member& file : files) bytes += file.bytes;
  total.store(bytes);
  PcapngWriter writer;
  if (!writer.Open(outPath, PcapngWriter::kLinkTypeEthernet, PacketLogFile::kMaxDataLength)) {
    result.error = writer.ErrorText();
    return result;
  }
  TimeTextCache times;
  std::int64_t before = 0;  // bytes of the files already walked
  for (const PacketLogSet::Member& file : files) {
    // Block reads: one system call per 256 KiB of log rather than two per record.
    PacketLogBlockReader log;
    if (!log.Open(file.path)) {
      // The ring removed it since the set was listed: what it held is gone for every reader.
      before += file.bytes;
      continue;
    }
    PacketLogBlockReader::Record record{};
    bool written = true;
    while (log.Next(record)) {
      if (cancel.load(std::memory_order_relaxed)) {
        writer.Abandon();
        result.error = "The export was cancelled.";
        return result;
      }
      const char* time = record.header.time;
      const std::int64_t micros = times.Micros(std::string_view(time, ::strnlen(time, sizeof record.header.time)));
      if (!writer.WritePacket(micros, record.data, static_cast<std::uint32_t>(record.header.dataLength))) {
        written = false;
        break;
      }
      ++result.records;
      done.store(before + log.Position(), std::memory_order_relaxed);
    }
    if (!written) break;  // Commit reports the writer's error
    // A file's walk ends at its end or at its first record that is not whole.
    if (log.Position() < log.Length() && !result.stoppedEarly) {
      result.stoppedEarly = true;
      result.stoppedAt = log.Position();
      result.stoppedFile = file.number;
    }
    before += file.bytes;
  }
  if (!writer.Commit()) {
    result.error = writer.ErrorText();
    return result;
  }
  done.store(bytes);
  result.written = true;
  return result;
}

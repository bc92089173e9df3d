#include "wincap/PacketLogExport.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "wincap/PacketLogFile.h"
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

PacketLogExport::Result PacketLogExport::Run(const std::string& logPath, const std::string& outPath) {
  Result result;
  PacketLogFile log;
  if (!log.OpenReadOnly(logPath)) {
    result.error = "The packet log " + logPath + " cannot be opened.";
    return result;
  }
  total.store(log.Length());
  PcapngWriter writer;
  if (!writer.Open(outPath, PcapngWriter::kLinkTypeEthernet, PacketLogFile::kMaxDataLength)) {
    result.error = writer.ErrorText();
    return result;
  }
  std::vector<std::uint8_t> buffer(PacketLogFile::kMaxDataLength);
  std::string time;
  for (;;) {
    if (cancel.load()) {
      writer.Abandon();
      result.error = "The export was cancelled.";
      return result;
    }
    LONG position = 0;
    const LONG read = log.ReadNext(&position, buffer.data(), PacketLogFile::kMaxDataLength, nullptr, nullptr, &time);
    if (read < 1) break;
    if (!writer.WritePacket(TimeTextMicros(time), buffer.data(), static_cast<std::uint32_t>(read))) break;
    ++result.records;
    done.store(log.Tell());
  }
  // The walk ends at the end of the log or at its first record that is not whole.
  const std::int64_t length = log.Length();
  if (log.Tell() < length) {
    result.stoppedEarly = true;
    result.stoppedAt = log.Tell();
  }
  if (!writer.Commit()) {
    result.error = writer.ErrorText();
    return result;
  }
  done.store(length);
  result.written = true;
  return result;
}

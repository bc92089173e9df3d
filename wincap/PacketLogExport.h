#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// Exports a packet log (or a connection link file, which has the same format) as a pcapng file:
// one Ethernet interface and one packet per record, in file order, every file of the log's
// numbered set (PacketLogSet) once, oldest first, with the record's time and
// its packet bytes. The log is read record by record and the file written as a stream, so the
// memory used does not grow with the log.
class PacketLogExport {
 public:
  struct Result {
    bool written = false;        // the file is complete under the chosen name
    std::uint64_t records = 0;   // packets written
    bool stoppedEarly = false;   // a damaged record ended the walk before the end of the log
    std::int64_t stoppedAt = 0;  // its byte offset
    std::uint32_t stoppedFile = 0;  // the number of its file in the log's set
    std::string error;           // why nothing was written
  };

  // Progress, readable from any thread while Run works: bytes of the log walked and its length.
  std::atomic<std::int64_t> done{0};
  std::atomic<std::int64_t> total{0};
  // Set from any thread to give up; Run then writes nothing under the chosen name.
  std::atomic<bool> cancel{false};

  Result Run(const std::string& logPath, const std::string& outPath);

  // The record time text ("%m/%d/%y %H:%M:%S:mmm", local time) in microseconds since 1970 (UTC);
  // 0 for a text that is not a time.
  static std::int64_t TimeTextMicros(std::string_view text);
};

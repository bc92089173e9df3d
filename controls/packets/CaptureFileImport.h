#pragma once
#include <cstdint>
#include <string>

#include "common/WinTypes.h"
#include "wincap/CaptureFileReader.h"

class MonListIpMonCWinThread;

// Appends the frames of a pcap or pcapng file to a capture thread's packet log, each as the
// record live capture would write for it (the thread's own record writer): the frame's time in
// local time, its decoded addresses and its bytes. A damaged or truncated file gives the frames
// before the damage; an empty frame or one above the log's 65535 bytes is passed over, as live
// capture logs no such frame.
class CaptureFileImport {
 public:
  struct Result {
    CaptureFileReader::Status status = CaptureFileReader::Status::End;
    std::uint64_t imported = 0;
    std::uint64_t skipped = 0;  // empty frames and frames longer than a record holds
    LONG firstPosition = -1;    // the record of the first frame imported
    bool logClosed = false;     // the log could not be written
    std::string stopText;       // where and why the reading stopped, when it did
  };

  static Result Run(MonListIpMonCWinThread& thread, const std::string& path);
  // The lines of the message box that reports the import.
  static std::string Describe(const Result& result);
};

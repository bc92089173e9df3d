#pragma once
#include <cstdint>

// What the packet pane's capture has done since its last start, as the status bar shows it.
struct CaptureCounts {
  bool capturing = false;
  std::uint64_t captured = 0;  // frames read from the adapter
  std::uint64_t logged = 0;    // of them, records gathered into the packet log
  // The kernel's own counts for a live interface (a replayed file has none): frames it offered
  // the capture and those it dropped for want of room in the ring.
  bool kernelCounts = false;
  std::uint64_t kernelReceived = 0;
  std::uint64_t kernelDropped = 0;
  bool logging = false;     // records are being written
  std::int64_t logBytes = 0;   // the bytes of the log's set once every record is written out
  std::uint32_t logFiles = 1;  // files in the set
  std::int64_t logBound = 0;   // what the ring keeps at most; 0: no limit
  bool filterOn = false;
};

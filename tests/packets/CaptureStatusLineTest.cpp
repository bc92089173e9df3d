// The packet capture's status bar line: its figures, the rate between two looks, and what it says
// when capture stops, logging is off or a filter is on.
#include <gtest/gtest.h>

#include "controls/packets/CaptureStatusLine.h"

TEST(CaptureStatusLine, FiguresRateAndStatesOfACaptureRun) {
  CaptureStatusLine line;
  CaptureCounts counts;
  EXPECT_EQ(line.Update(counts, 0), "");  // nothing captured since the program started

  counts.capturing = true;
  counts.captured = 1000;
  counts.logged = 1000;
  counts.kernelCounts = true;
  counts.logging = true;
  counts.logBytes = 1000 * 164;
  counts.logBound = 0x7FFFFFFF;
  EXPECT_EQ(line.Update(counts, 1000),
            "Captured 1,000 \xC2\xB7 Logged 1,000 \xC2\xB7 1,000/s \xC2\xB7 Dropped 0 \xC2\xB7 Log 160.2 KB (0%)");
  // 1,234,000 more frames in half a second.
  counts.captured = 1235000;
  counts.logged = 1234999;
  counts.kernelDropped = 12345;
  counts.logBytes = std::int64_t{3} << 29;  // 1.5 GB
  counts.filterOn = true;
  EXPECT_EQ(line.Update(counts, 1500), "Captured 1,235,000 \xC2\xB7 Logged 1,234,999 \xC2\xB7 2,468,000/s \xC2\xB7 "
                                       "Dropped 12,345 \xC2\xB7 Log 1.5 GB (75%) \xC2\xB7 Filter on");

  // Stopped: no rate; a replayed file has no kernel counts; logging switched off says so.
  counts.capturing = false;
  counts.kernelCounts = false;
  counts.logging = false;
  counts.filterOn = false;
  EXPECT_EQ(line.Update(counts, 2000), "Stopped \xC2\xB7 Captured 1,235,000 \xC2\xB7 Logged 1,234,999 \xC2\xB7 Logging off");

  // A new run counts from zero, and its first look has no rate from the last run's figures.
  counts = CaptureCounts{};
  counts.capturing = true;
  counts.captured = 10;
  EXPECT_EQ(line.Update(counts, 2250), "Captured 10 \xC2\xB7 Logged 0 \xC2\xB7 0/s \xC2\xB7 Logging off");
  // A log that has rolled over: the set's size and files; a percentage only under a ring limit.
  counts.logging = true;
  counts.logBytes = std::int64_t{5} << 30;
  counts.logFiles = 3;
  EXPECT_EQ(line.Update(counts, 2500), "Captured 10 \xC2\xB7 Logged 0 \xC2\xB7 0/s \xC2\xB7 Log 5.0 GB in 3 files");
  counts.logBound = std::int64_t{10} << 30;
  EXPECT_EQ(line.Update(counts, 2750), "Captured 10 \xC2\xB7 Logged 0 \xC2\xB7 0/s \xC2\xB7 Log 5.0 GB in 3 files (50%)");
  EXPECT_EQ(CaptureStatusLine::Bytes(1023), "1023 B");
  EXPECT_EQ(CaptureStatusLine::Bytes(std::int64_t{5} << 40), "5.0 TB");
}

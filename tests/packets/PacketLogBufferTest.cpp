// The capture thread's log appender: batches written by its own writer thread reach the file
// whole and in order at the positions handed out, and a batch the system refuses leaves no
// half record and no hole behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "controls/packets/PacketLogBuffer.h"
#include "wincap/PacketLogFile.h"

namespace {

class PacketLogBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-logbuffer-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_folder = pattern;
    m_path = m_folder + "/PelorinProLogPkt.rec";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }

  // Appends count records of 1..1500 bytes (byte i of record n is n + i); the positions of those
  // taken (all of them unless a batch is lost meanwhile).
  std::vector<DWORD> Append(PacketLogBuffer& log, int count, int first = 0) {
    std::vector<DWORD> positions;
    for (int n = first; n < first + count; ++n) {
      std::vector<std::uint8_t> data(static_cast<std::size_t>(1 + n * 37 % 1500));
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(n + i);
      DWORD position = 0;
      if (log.Write(data.data(), static_cast<LONG>(data.size()), "10.0.0.1", "10.0.0.2", "12/07/26 06:22:48:007",
                    &position) != static_cast<LONG>(data.size()))
        break;
      positions.push_back(position);
      if (n % 700 == 0) log.Submit();
    }
    return positions;
  }

  // Every record of the file from the start, as (position, first data byte), checking that each
  // is whole and stored at its own offset; the walk must end exactly at the file's end.
  std::vector<std::pair<DWORD, std::uint8_t>> Records() {
    PacketLogFile file;
    EXPECT_TRUE(file.OpenReadOnly(m_path));
    std::vector<std::pair<DWORD, std::uint8_t>> records;
    std::vector<std::uint8_t> data(0xFFFF);
    for (;;) {
      const std::int64_t at = file.Tell();
      LONG position = -1;
      if (file.ReadNext(&position, data.data(), 0xFFFF, nullptr, nullptr, nullptr) < 1) break;
      EXPECT_EQ(position, at);
      records.emplace_back(static_cast<DWORD>(position), data[0]);
    }
    EXPECT_EQ(file.Tell(), file.Length());
    return records;
  }

  std::string m_folder, m_path;
};

TEST_F(PacketLogBufferTest, BatchesReachTheFileWholeInOrderAndALostOneLeavesNoHole) {
  PacketLogBuffer log;
  ASSERT_TRUE(log.Open(m_path));
  const std::vector<DWORD> positions = Append(log, 3000);
  ASSERT_EQ(positions.size(), 3000u);
  ASSERT_TRUE(log.Flush());
  auto records = Records();
  ASSERT_EQ(records.size(), positions.size());
  for (std::size_t n = 0; n < records.size(); ++n) {
    EXPECT_EQ(records[n].first, positions[n]);
    EXPECT_EQ(records[n].second, static_cast<std::uint8_t>(n));
  }

  // The file may grow by 100 KB only: the next batch is cut short by the system.
  const auto before = static_cast<std::uint64_t>(std::filesystem::file_size(m_path));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved;
  limit.rlim_cur = before + 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  // About 450 KB, two batches: gathering stops once the writer has lost one.
  const std::vector<DWORD> refused = Append(log, 600, 3000);
  const bool flushed = log.Flush();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(flushed);
  EXPECT_GE(log.LostBatches(), 1u);
  EXPECT_TRUE(log.Flush());  // the loss is told once

  // Until the loss is taken nothing is gathered: a record now would take a lost one's position.
  ASSERT_TRUE(log.LossPending());
  DWORD at = 0;
  EXPECT_EQ(log.Write("x", 1, "a", "b", "t", &at), 0);
  const auto kept = static_cast<DWORD>(std::filesystem::file_size(m_path));
  const std::int64_t lostFrom = log.TakeLoss().offset;
  EXPECT_EQ(lostFrom, kept);  // the file keeps whole records up to the first lost one
  EXPECT_GE(kept, before);
  EXPECT_TRUE(log.IsStopped());
  EXPECT_EQ(log.Write("x", 1, "a", "b", "t", &at), 0);
  records = Records();
  for (std::size_t n = 0; n < refused.size(); ++n) {
    const bool inFile = refused[n] < kept;
    EXPECT_EQ(inFile, 3000 + n < records.size()) << n;
    if (inFile) {
      EXPECT_EQ(records[3000 + n].first, refused[n]);
    }
  }

  // Resumed, records go on at the file's end, where readers find them.
  log.Resume();
  const std::vector<DWORD> later = Append(log, 10, 5000);
  ASSERT_EQ(later.size(), 10u);
  ASSERT_TRUE(log.Flush());
  EXPECT_EQ(later.front(), kept);
  records = Records();
  EXPECT_EQ(records[records.size() - 10].first, kept);
  EXPECT_EQ(records.back().second, static_cast<std::uint8_t>(5009));
}

}  // namespace

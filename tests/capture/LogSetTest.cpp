// A packet log that rolls over into its numbered set under a small file bound: every record is
// written once, whole, in order; the readers of the whole set (Find, Log Pages, Export) see each
// record once in that order; the ring removes the oldest files and clearing removes the set.
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "CaptureTestSupport.h"
#include "wincap/LogFindSearch.h"
#include "wincap/LogPagesScan.h"
#include "wincap/PacketLogBlockReader.h"
#include "wincap/PacketLogExport.h"
#include "wincap/PacketLogFile.h"
#include "wincap/PacketLogSet.h"

using namespace capture_test;

namespace {

constexpr int kFileBytes = 70000;  // the smallest bound holds a header and a 65535-byte frame
constexpr LONG kPageSize = 25;

std::string Tag(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "tag-%04d;", n);
  return text;
}

std::vector<std::uint8_t> TaggedFrame(int n) {
  return BuildFrame(FrameParts{.protocol = 17, .payload = Tag(n) + std::string(1000, 'x')});
}

// The tag a frame carries (after its 42 bytes of headers), or "" for none.
std::string TagOf(const std::uint8_t* data, std::size_t length) {
  if (length < 42 + 9) return "";
  return std::string(reinterpret_cast<const char*>(data) + 42, 9);
}

// Every record of every file of the set, oldest first: (file, position, tag).
struct Logged {
  std::uint32_t file;
  std::int64_t position;
  std::string tag;
};
std::vector<Logged> ReadSet(const std::string& first) {
  std::vector<Logged> records;
  for (const PacketLogSet::Member& member : PacketLogSet::Files(first)) {
    PacketLogBlockReader reader;
    if (!reader.Open(member.path)) continue;
    PacketLogBlockReader::Record record{};
    while (reader.Next(record))
      records.push_back({member.number, record.position,
                         TagOf(record.data, static_cast<std::size_t>(record.header.dataLength))});
    EXPECT_EQ(reader.Position(), reader.Length()) << member.path << ": a record was split or cut";
  }
  return records;
}

void WriteFrames(MonListIpMonCWinThread& thread, int from, int count) {
  for (int n = from; n < from + count; ++n) {
    const auto frame = TaggedFrame(n);
    DWORD at = 0;
    ASSERT_EQ(thread.LogWrite(frame.data(), static_cast<LONG>(frame.size()), "10.0.0.1", "10.0.0.2",
                              "12/09/26 08:00:00:000", &at),
              static_cast<LONG>(frame.size()));
  }
  std::lock_guard<PacketLogLock> written(thread.GetLogLock());  // every batch to the files
}

}  // namespace

TEST(PacketLogSetTest, RollingThreeTimesKeepsEveryRecordFindableExportedOnceInOrderAndTheRingDropsTheOldest) {
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPktFileBytes", kFileBytes);
  MonListIpMonCWinThread thread;
  thread.LogUseCurrent(1);
  ASSERT_TRUE(thread.IsLogOpen());

  // 1,151-byte records, 60 to a file: 200 of them fill three files and begin a fourth.
  constexpr int kRecords = 200;
  WriteFrames(thread, 0, kRecords);
  const std::string first = env.LogPath();
  const auto files = PacketLogSet::Files(first);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[1].path, env.File("PelorinProLogPkt.0001.rec"));
  EXPECT_EQ(files[3].path, env.File("PelorinProLogPkt.0003.rec"));
  for (const auto& file : files) EXPECT_LE(file.bytes, kFileBytes);
  EXPECT_EQ(thread.LogFileNumber(), 3u);
  const std::vector<Logged> records = ReadSet(first);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kRecords));
  for (int n = 0; n < kRecords; ++n) EXPECT_EQ(records[n].tag, Tag(n)) << n;
  EXPECT_EQ(records[60].file, 1u);
  EXPECT_EQ(records[60].position, 0);  // each file's positions start again
  const CaptureCounts counts = thread.GetCaptureCounts();
  EXPECT_EQ(counts.logBytes, PacketLogSet::TotalBytes(first));
  EXPECT_EQ(counts.logFiles, 4u);

  // Find: one row per record, in order, numbered by page across the files, naming the record.
  LogFindTexts texts;
  texts.text = "tag-";
  LogFindSearch search{LogFindCriteria(texts), kPageSize};
  std::vector<LogFindHit> hits;
  std::atomic<std::int64_t> progress{0};
  EXPECT_EQ(search.RunSet(first, [&hits](LogFindHit&& hit) { hits.push_back(std::move(hit)); }, nullptr, &progress),
            kRecords);
  ASSERT_EQ(hits.size(), static_cast<std::size_t>(kRecords));
  EXPECT_EQ(progress.load(), PacketLogSet::TotalBytes(first));
  for (int n = 0; n < kRecords; ++n) {
    EXPECT_EQ(hits[n].file, records[n].file) << n;
    EXPECT_EQ(hits[n].find.position, records[n].position) << n;
    EXPECT_EQ(hits[n].find.page * kPageSize + hits[n].find.packet, n) << n;
  }
  // The hit opens its record: read by position in the file it names.
  PacketLogFile log;
  ASSERT_TRUE(log.OpenReadOnly(PacketLogSet::FileName(first, hits[150].file)));
  std::vector<std::uint8_t> buffer(0xFFFF);
  const LONG read = log.Read(hits[150].find.position, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr);
  EXPECT_EQ(TagOf(buffer.data(), static_cast<std::size_t>(read)), Tag(150));

  // Log Pages: page k begins at record 25k, in whichever file that is; page 2 (records 50..74)
  // crosses into the second file.
  std::vector<LogPageRow> pages;
  const LogPagesTotals totals =
      ListLogSetPages(first, kPageSize, [&pages](LogPageRow&& row) { pages.push_back(std::move(row)); });
  EXPECT_EQ(totals.records, kRecords);
  ASSERT_EQ(pages.size(), 8u);
  for (std::size_t k = 0; k < pages.size(); ++k) {
    EXPECT_EQ(pages[k].file, records[k * kPageSize].file) << k;
    EXPECT_EQ(pages[k].page.position, records[k * kPageSize].position) << k;
  }

  // Export: each record once, in order.
  PacketLogExport exporter;
  const auto exported = exporter.Run(first, env.File("set.pcapng"));
  ASSERT_TRUE(exported.written) << exported.error;
  EXPECT_FALSE(exported.stoppedEarly);
  const auto frames = ReadCapture(env.File("set.pcapng"));
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kRecords));
  for (int n = 0; n < kRecords; ++n) EXPECT_EQ(frames[n], TaggedFrame(n)) << n;

  // A ring of two files: the next rollover removes the oldest three, the first file included.
  env.App().WriteProfileInt("", "LogPktRingFiles", 2);
  thread.LogApplyRing();
  WriteFrames(thread, kRecords, 61);
  const auto ring = PacketLogSet::Files(first);
  ASSERT_EQ(ring.size(), 2u);
  EXPECT_EQ(ring[0].number, 3u);
  EXPECT_EQ(ring[1].number, 4u);
  const std::vector<Logged> kept = ReadSet(first);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.front().tag, Tag(180));  // the fourth file's first record
  EXPECT_EQ(kept.back().tag, Tag(kRecords + 60));
  EXPECT_EQ(thread.GetCaptureCounts().logFiles, 2u);

  // Opened again, logging goes on in the newest file; clearing removes the whole set.
  thread.LogUseCurrent(1);
  EXPECT_EQ(thread.LogFileNumber(), 4u);
  thread.ListDeleteAll(1);
  const auto cleared = PacketLogSet::Files(first);
  ASSERT_EQ(cleared.size(), 1u);
  EXPECT_EQ(cleared[0].number, 0u);
  EXPECT_EQ(cleared[0].bytes, 0);
  WriteFrames(thread, 0, 1);
  EXPECT_EQ(ReadSet(first).size(), 1u);
}

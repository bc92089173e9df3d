// The capture thread's packet log members, used on the test's own thread (a thread object made
// without an owner runs no platform thread), and the log range applied end to end.
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "CaptureTestSupport.h"
#include "common/FieldText.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;

namespace {

std::vector<std::uint8_t> Payload(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

FrameParts UdpWithPayload(std::size_t n) {
  const auto bytes = Payload(n);
  return FrameParts{.protocol = 17, .payload = std::string(bytes.begin(), bytes.end())};
}

}  // namespace

TEST(PacketLogMembers, WritingReadingAndTruncatingTheLog) {
  CaptureEnv env;
  MonListIpMonCWinThread thread;
  EXPECT_EQ(thread.LogGet(), env.LogPath());
  EXPECT_EQ(thread.LogGetMaxRecNum(), 0);  // no file yet
  std::vector<std::uint8_t> buffer(0xFFFF);
  LONG position = -7;
  EXPECT_EQ(thread.LogReadNext(&position, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr), 0);  // not open

  thread.LogUseCurrent(1);
  ASSERT_TRUE(thread.IsLogOpen());
  EXPECT_EQ(thread.LogGetMaxRecNum(), 0);
  EXPECT_EQ(thread.LogReadNext(&position, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr), -1);

  // The first record sits at 0; texts longer than their fields are cut.
  const auto first = BuildFrame(UdpWithPayload(30));
  const auto second = BuildFrame(UdpWithPayload(300));
  DWORD at = 99;
  EXPECT_EQ(thread.LogWrite(first.data(), static_cast<LONG>(first.size()), "123.123.123.123.12345", "10.0.0.2",
                            "12/06/26 07:50:18:042 and more", &at),
            static_cast<LONG>(first.size()));
  EXPECT_EQ(at, 0u);
  EXPECT_EQ(thread.LogWrite(second.data(), static_cast<LONG>(second.size()), "a", "b", "t", &at),
            static_cast<LONG>(second.size()));
  EXPECT_EQ(at, 100 + first.size());
  EXPECT_EQ(thread.LogWrite(second.data(), 0x10000, "a", "b", "t", &at), 0);  // too long for a record
  EXPECT_EQ(thread.LogWrite(second.data(), 0, "a", "b", "t", &at), 0);

  // Another file object reading by name sees both records once the log lock was taken.
  {
    std::lock_guard<PacketLogLock> lock(thread.GetLogLock());
    PacketLogFile other;
    ASSERT_TRUE(other.OpenReadOnly(env.LogPath()));
    _LogRecMarker header{};
    ASSERT_EQ(other.ReadNext(nullptr, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr, &header),
              static_cast<LONG>(first.size()));
    EXPECT_EQ(GetFieldText(header.source), "123.123.123.123.123");  // 19 characters
    EXPECT_EQ(GetFieldText(header.time), "12/06/26 07:50:18:042 an");  // 24
    EXPECT_EQ(header.position, 0u);
    EXPECT_EQ(header.recordLength, static_cast<std::int32_t>(first.size()) + 100);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer.begin()));
  }

  // The thread's own readers: by position, and record by record from the file position.
  std::string source, destination, time;
  EXPECT_EQ(thread.LogRead(static_cast<LONG>(at), buffer.data(), 0xFFFF, &source, &destination, &time),
            static_cast<LONG>(second.size()));
  EXPECT_EQ(source, "a");
  EXPECT_TRUE(std::equal(second.begin(), second.end(), buffer.begin()));
  EXPECT_EQ(thread.LogRead(static_cast<LONG>(at), buffer.data(), 10, nullptr, nullptr, nullptr), 10);
  EXPECT_EQ(thread.LogRead(5, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr), -1);  // no record there
  ASSERT_EQ(thread.LogReadNext(&position, buffer.data(), 0xFFFF, nullptr, nullptr, &time),
            static_cast<LONG>(first.size()));
  EXPECT_EQ(position, 0);
  // A record longer than the buffer ends the read and stays where it is.
  position = -7;
  EXPECT_EQ(thread.LogReadNext(&position, buffer.data(), 100, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(position, -7);
  EXPECT_EQ(thread.LogReadNext(&position, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr),
            static_cast<LONG>(second.size()));
  EXPECT_EQ(position, static_cast<LONG>(at));
  EXPECT_EQ(thread.LogReadNext(&position, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr), -1);  // the end
  EXPECT_EQ(thread.LogGetMaxRecNum(), static_cast<LONG>(at));

  // Logging off writes nothing.
  thread.SetLog(0);
  EXPECT_EQ(thread.LogWrite(first.data(), static_cast<LONG>(first.size()), "a", "b", "t", &at), 0);
  thread.SetLog(1);

  // Truncation empties the file; the log stays open and starts again at 0.
  thread.ListDeleteAll(1);
  EXPECT_EQ(std::filesystem::file_size(env.LogPath()), 0u);
  EXPECT_TRUE(thread.IsLogOpen());
  EXPECT_EQ(thread.LogWrite(first.data(), static_cast<LONG>(first.size()), "a", "b", "t", &at),
            static_cast<LONG>(first.size()));
  EXPECT_EQ(at, 0u);
  EXPECT_EQ(thread.LogGetMaxRecNum(), 0);
  EXPECT_EQ(std::filesystem::file_size(env.LogPath()), 100 + first.size());

  // A damaged header ends every read at that record.
  EXPECT_EQ(thread.LogWrite(second.data(), static_cast<LONG>(second.size()), "a", "b", "t", &at),
            static_cast<LONG>(second.size()));
  {
    std::lock_guard<PacketLogLock> lock(thread.GetLogLock());
    std::FILE* file = std::fopen(env.LogPath().c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, static_cast<long>(at) + 88, SEEK_SET);  // the data length
    const std::int32_t negative = -5;
    std::fwrite(&negative, 4, 1, file);
    std::fclose(file);
  }
  EXPECT_EQ(thread.LogRead(static_cast<LONG>(at), buffer.data(), 0xFFFF, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(thread.LogGetMaxRecNum(), 0);

  // A record whose stored position is not its offset (a record copied in from another log) is
  // passed over by a read by position, which takes the next record that stores the position.
  thread.ListDeleteAll(1);
  DWORD firstAt = 0, secondAt = 0;
  thread.LogWrite(first.data(), static_cast<LONG>(first.size()), "a", "b", "t", &firstAt);
  thread.LogWrite(second.data(), static_cast<LONG>(second.size()), "c", "d", "t", &secondAt);
  {
    std::lock_guard<PacketLogLock> lock(thread.GetLogLock());
    std::FILE* file = std::fopen(env.LogPath().c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    const std::uint32_t elsewhere = 999, zero = 0;
    std::fseek(file, 16, SEEK_SET);
    std::fwrite(&elsewhere, 4, 1, file);
    std::fseek(file, static_cast<long>(secondAt) + 16, SEEK_SET);
    std::fwrite(&zero, 4, 1, file);
    std::fclose(file);
  }
  EXPECT_EQ(thread.LogRead(0, buffer.data(), 0xFFFF, &source, nullptr, nullptr), static_cast<LONG>(second.size()));
  EXPECT_EQ(source, "c");
  EXPECT_EQ(thread.LogRead(999, buffer.data(), 0xFFFF, nullptr, nullptr, nullptr), -1);

  // A log that was not open is emptied and stays closed.
  thread.LogUseCurrent(0);  // open: reopened
  EXPECT_TRUE(thread.IsLogOpen());
}

TEST(PacketLogMembers, TruncatingAClosedLogLeavesItClosedAndPageSizesAreClamped) {
  CaptureEnv env;
  {
    MonListIpMonCWinThread writer;
    writer.LogUseCurrent(1);
    const auto frame = BuildFrame({});
    writer.LogWrite(frame.data(), static_cast<LONG>(frame.size()), "a", "b", "t", nullptr);
  }
  EXPECT_GT(std::filesystem::file_size(env.LogPath()), 0u);
  MonListIpMonCWinThread thread;
  thread.LogUseCurrent(0);  // not open and no reopen: stays closed
  EXPECT_FALSE(thread.IsLogOpen());
  EXPECT_EQ(thread.LogGetMaxRecNum(), 0);  // read by name, one record at 0
  thread.ListDeleteAll(1);
  EXPECT_EQ(std::filesystem::file_size(env.LogPath()), 0u);
  EXPECT_FALSE(thread.IsLogOpen());

  EXPECT_EQ(thread.LogGetPageSize(), 256);
  EXPECT_EQ(thread.LogSetPageSize(10), 25);
  EXPECT_EQ(thread.LogSetPageSize(20000), 10000);
  EXPECT_EQ(thread.LogSetPageSize(300), 300);
  EXPECT_EQ(thread.LogGetPageSize(), 300);
}

TEST(PacketLogMembers, LogRangeTrimsOnlyWhatItCanAndNeverReadsPastTheCapture) {
  CaptureEnv env;
  MonListIpMonCWinThread thread;
  const auto frame = BuildFrame(UdpWithPayload(100));  // 14 + 28 + 100
  auto trim = [&](DWORD start, DWORD end, const std::vector<std::uint8_t>& bytes) {
    thread.LogSetRange(start, end);
    thread.displayudpReceive(bytes.data(), static_cast<LONG>(bytes.size()), 14);
    DWORD length = static_cast<DWORD>(bytes.size());
    const std::uint8_t* out = thread.PacketSetRange(bytes.data(), 14, &length);
    return std::vector<std::uint8_t>(out, out + length);
  };
  EXPECT_EQ(thread.IsLogRange(), 1);
  EXPECT_EQ(trim(0, 0, frame), frame);
  EXPECT_EQ(trim(10, 5, frame), frame);   // kept below 1
  EXPECT_EQ(trim(0, 200, frame), frame);  // the whole payload
  EXPECT_EQ(trim(100, 0, frame), frame);  // starts at the payload's end
  EXPECT_EQ(thread.Packet().sizeText, "128");

  const auto middle = trim(10, 30, frame);
  ASSERT_EQ(middle.size(), 14u + 28 + 20);
  EXPECT_EQ(thread.Packet().size, 48);
  EXPECT_EQ(thread.Packet().sizeText, "48");
  EXPECT_EQ(middle[16] * 256 + middle[17], 48);
  EXPECT_EQ(middle[42], 10);
  EXPECT_EQ(middle.back(), 29);
  EXPECT_EQ(frame[42], 0);  // the captured bytes stay as they were

  const auto tail = trim(90, 0, frame);
  ASSERT_EQ(tail.size(), 14u + 28 + 10);
  EXPECT_EQ(tail[42], 90);

  // A total length that claims more than was captured: only captured bytes are moved and the
  // frame never grows.
  FrameParts liar = UdpWithPayload(40);
  liar.totalLengthOverride = 1000;
  const auto lying = BuildFrame(liar);
  const auto clipped = trim(5, 500, lying);
  EXPECT_LE(clipped.size(), lying.size());
  EXPECT_EQ(clipped[42], 5);

  thread.LogSetRange(static_cast<DWORD>(-1), static_cast<DWORD>(-1));
  EXPECT_EQ(thread.IsLogRange(), 0);
  thread.LogSetRange(static_cast<DWORD>(-1), 5);
  EXPECT_EQ(thread.IsLogRange(), 1);
  DWORD start = 0, end = 0;
  thread.LogGetRange(&start, &end);
  EXPECT_EQ(start, 0xFFFFFFFFu);
  EXPECT_EQ(end, 5u);
}

TEST(PacketLogMembers, ARangeInForceTrimsTheRowsAndTheLoggedFrames) {
  CaptureEnv env;
  std::vector<std::vector<std::uint8_t>> frames{BuildFrame(UdpWithPayload(100)), BuildFrame({.protocol = 1}),
                                                BuildFrame({.protocol = 6, .payload = "0123456789abcdef"})};
  ASSERT_TRUE(WriteCapture(env.File("range.pcap"), frames));
  env.UseCaptureFile(env.File("range.pcap"));
  auto pane = MakePane(env.App());
  pane->GetCaptureThread()->LogSetRange(0, 8);
  ASSERT_TRUE(Replay(*pane));
  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].texts[1], "36");  // 28 + 8
  EXPECT_EQ(rows[1].texts[1], "28");  // no payload: untouched
  EXPECT_EQ(rows[2].texts[1], "48");  // 40 + 8
  PacketLogFile log;
  ASSERT_TRUE(log.OpenReadOnly(env.LogPath()));
  std::vector<std::uint8_t> data(0xFFFF);
  EXPECT_EQ(log.Read(rows[0].item.recordPosition, data.data(), 0xFFFF, nullptr, nullptr, nullptr), 14 + 36);
  EXPECT_EQ(log.Read(rows[2].item.recordPosition, data.data(), 0xFFFF, nullptr, nullptr, nullptr), 14 + 48);
  EXPECT_EQ(std::string(data.begin() + 54, data.begin() + 62), "01234567");
}

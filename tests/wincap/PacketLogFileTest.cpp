#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "wincap/LogPageSize.h"
#include "wincap/PacketLogFile.h"

namespace {

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i);
  return v;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void AppendRaw(const std::string& path, const void* bytes, std::size_t n) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(n));
}

// A header as the file holds it, written field by field at its byte offsets.
std::string ExpectedHeader(std::uint32_t position, const std::string& source,
                           const std::string& destination, const std::string& time,
                           std::int32_t dataLength) {
  std::string h(100, '\0');
  std::memcpy(&h[0], "**Log Record**", 14);
  for (int i = 0; i < 4; ++i) h[16 + i] = static_cast<char>(position >> (8 * i));
  std::memcpy(&h[20], source.data(), source.size());
  std::memcpy(&h[40], destination.data(), destination.size());
  std::memcpy(&h[60], time.data(), time.size());
  const std::uint32_t record = static_cast<std::uint32_t>(dataLength) + 100;
  for (int i = 0; i < 4; ++i) h[88 + i] = static_cast<char>(static_cast<std::uint32_t>(dataLength) >> (8 * i));
  for (int i = 0; i < 4; ++i) h[92 + i] = static_cast<char>(record >> (8 * i));
  h[96] = '\r';
  h[97] = '\n';
  return h;
}

class PacketLogFileTest : public ::testing::Test {
 protected:
  // Writes records of 10, 20 and 30 bytes; returns their positions.
  std::vector<DWORD> WriteThree(PacketLogFile& log) {
    std::vector<DWORD> positions;
    for (int i = 1; i <= 3; ++i) {
      const auto data = Bytes(10 * i, static_cast<std::uint8_t>(i * 16));
      DWORD position = 0xFFFFFFFF;
      EXPECT_EQ(log.Write(data.data(), 10 * i, ("10.0.0." + std::to_string(i)).c_str(), "10.0.0.9",
                          "12/06/26 07:50:18:042", &position),
                10 * i);
      positions.push_back(position);
    }
    return positions;
  }

  TempFolder m_folder;
  std::string m_path = m_folder.File("PelorinProLogPkt.rec");
};

}  // namespace

TEST_F(PacketLogFileTest, EmptyMissingAndClosedFiles) {
  PacketLogFile log;
  EXPECT_EQ(PacketLogFile::GetMaxRecNum(m_path), 0);  // missing file
  EXPECT_FALSE(log.OpenReadOnly(m_path));
  EXPECT_FALSE(log.IsOpen());
  std::uint8_t buffer[8];
  LONG position = 77;
  EXPECT_EQ(log.ReadNext(&position, buffer, sizeof buffer, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(log.Read(0, buffer, sizeof buffer, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(log.Write(buffer, sizeof buffer, "a", "b", "c", nullptr), 0);

  ASSERT_TRUE(log.OpenShared(m_path));  // creates it
  EXPECT_EQ(log.Length(), 0);
  EXPECT_EQ(log.GetMaxRecNum(), 0);
  EXPECT_EQ(log.ReadNext(&position, buffer, sizeof buffer, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(log.ReadNext(&position, nullptr, 0, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(position, 77);  // no record walked over
  EXPECT_EQ(log.Read(0, buffer, sizeof buffer, nullptr, nullptr, nullptr), -1);
  log.Close();
  // A read-only object refuses to write.
  ASSERT_TRUE(log.OpenReadOnly(m_path));
  EXPECT_EQ(log.Write(buffer, sizeof buffer, "a", "b", "c", nullptr), 0);
  EXPECT_FALSE(log.Truncate());
}

TEST_F(PacketLogFileTest, RecordsAreByteExactWithTheirPositions) {
  PacketLogFile log;
  ASSERT_TRUE(log.OpenShared(m_path));
  const auto first = Bytes(60, 1);
  const auto second = Bytes(3, 200);
  DWORD p1 = 99, p2 = 99;
  EXPECT_EQ(log.Write(first.data(), 60, "10.0.0.1", "192.168.1.254", "12/06/26 07:50:18:042", &p1), 60);
  EXPECT_EQ(log.Write(second.data(), 3, "1.2.3.4", nullptr, "", &p2), 3);
  EXPECT_EQ(p1, 0u);
  EXPECT_EQ(p2, 160u);
  EXPECT_EQ(log.Tell(), 263);  // after the last record written

  const std::string expected =
      ExpectedHeader(0, "10.0.0.1", "192.168.1.254", "12/06/26 07:50:18:042", 60) +
      std::string(first.begin(), first.end()) + ExpectedHeader(160, "1.2.3.4", "", "", 3) +
      std::string(second.begin(), second.end());
  const std::string actual = FileBytes(m_path);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(static_cast<int>(actual[i]) & 0xFF, static_cast<int>(expected[i]) & 0xFF) << "byte " << i;
  EXPECT_EQ(actual.substr(16, 4), std::string(4, '\0'));  // the first record is at 0
}

TEST_F(PacketLogFileTest, LongTextsAreCutAndLengthsOutsideTheRangeRefused) {
  PacketLogFile log;
  ASSERT_TRUE(log.OpenShared(m_path));
  const std::string source(25, 's'), destination(20, 'd'), time(30, 't');
  const auto data = Bytes(PacketLogFile::kMaxDataLength + 1, 0);
  EXPECT_EQ(log.Write(data.data(), 0x10000, "a", "b", "c", nullptr), 0);
  EXPECT_EQ(log.Write(data.data(), 0, "a", "b", "c", nullptr), 0);
  EXPECT_EQ(log.Write(data.data(), -5, "a", "b", "c", nullptr), 0);
  EXPECT_EQ(log.Write(nullptr, 10, "a", "b", "c", nullptr), 0);
  EXPECT_EQ(log.Length(), 0);
  EXPECT_EQ(log.Write(data.data(), 0xFFFF, source.c_str(), destination.c_str(), time.c_str(), nullptr),
            0xFFFF);

  const std::string bytes = FileBytes(m_path);
  ASSERT_EQ(bytes.size(), 100u + 0xFFFF);
  EXPECT_EQ(bytes.substr(20, 20), std::string(19, 's') + '\0');
  EXPECT_EQ(bytes.substr(40, 20), std::string(19, 'd') + '\0');
  EXPECT_EQ(bytes.substr(60, 28), std::string(24, 't') + std::string(4, '\0'));

  std::string s, d, t;
  std::vector<std::uint8_t> buffer(0xFFFF);
  ASSERT_TRUE(log.Seek(0));
  EXPECT_EQ(log.ReadNext(nullptr, buffer.data(), 0xFFFF, &s, &d, &t), 0xFFFF);
  EXPECT_EQ(s, std::string(19, 's'));
  EXPECT_EQ(d, std::string(19, 'd'));
  EXPECT_EQ(t, std::string(24, 't'));
  EXPECT_EQ(buffer[0xFFFE], data[0xFFFE]);
}

TEST_F(PacketLogFileTest, ReadNextCopiesAtMostTheBufferAndKeepsStepping) {
  PacketLogFile log;
  ASSERT_TRUE(log.OpenShared(m_path));
  const auto positions = WriteThree(log);
  ASSERT_TRUE(log.Seek(0));

  // A buffer larger than the record is zero-filled after the data.
  std::vector<std::uint8_t> big(64, 0xEE);
  LONG position = -1;
  std::string source;
  EXPECT_EQ(log.ReadNext(&position, big.data(), 64, &source, nullptr, nullptr), 10);
  EXPECT_EQ(position, 0);
  EXPECT_EQ(source, "10.0.0.1");
  EXPECT_EQ(big[9], 16 + 9);
  EXPECT_EQ(big[10], 0);
  EXPECT_EQ(big[63], 0);

  // A buffer smaller than the record gets its size and not a byte more (the vector is exactly
  // that big), and the next read starts at the next record all the same.
  std::vector<std::uint8_t> small(5);
  EXPECT_EQ(log.ReadNext(&position, small.data(), 5, nullptr, nullptr, nullptr), 5);
  EXPECT_EQ(position, static_cast<LONG>(positions[1]));
  EXPECT_EQ(small[4], 32 + 4);
  _LogRecMarker header{};
  EXPECT_EQ(log.ReadNext(&position, big.data(), 64, nullptr, nullptr, nullptr, &header), 30);
  EXPECT_EQ(position, static_cast<LONG>(positions[2]));
  EXPECT_EQ(header.recordLength, 130);
  EXPECT_EQ(log.ReadNext(&position, big.data(), 64, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(position, static_cast<LONG>(positions[2]));
  EXPECT_EQ(log.ReadNext(&position, big.data(), 0, nullptr, nullptr, nullptr), 0);

  // Without a buffer: walk to the end, leaving the last record's position and texts.
  ASSERT_TRUE(log.Seek(0));
  position = -1;
  EXPECT_EQ(log.ReadNext(&position, nullptr, 0, &source, nullptr, nullptr), -1);
  EXPECT_EQ(position, static_cast<LONG>(positions[2]));
  EXPECT_EQ(source, "10.0.0.3");
  // The last record's position, from the open object (its position kept) and by name.
  ASSERT_TRUE(log.Seek(positions[1]));
  EXPECT_EQ(log.GetMaxRecNum(), static_cast<LONG>(positions[2]));
  EXPECT_EQ(log.Tell(), positions[1]);
  EXPECT_EQ(PacketLogFile::GetMaxRecNum(m_path), static_cast<LONG>(positions[2]));
  log.Close();
  EXPECT_EQ(log.GetMaxRecNum(), static_cast<LONG>(positions[2]));  // reopens by name for the call
}

TEST_F(PacketLogFileTest, ReadByPositionRestoresThePositionAndSkipsStrangers) {
  PacketLogFile log;
  ASSERT_TRUE(log.OpenShared(m_path));
  const auto positions = WriteThree(log);
  ASSERT_TRUE(log.Seek(positions[1]));

  std::vector<std::uint8_t> buffer(30);
  std::string source, destination, time;
  EXPECT_EQ(log.Read(positions[2], buffer.data(), 30, &source, &destination, &time), 30);
  EXPECT_EQ(buffer[29], 48 + 29);
  EXPECT_EQ(source, "10.0.0.3");
  EXPECT_EQ(destination, "10.0.0.9");
  EXPECT_EQ(time, "12/06/26 07:50:18:042");
  EXPECT_EQ(log.Tell(), positions[1]);
  // A smaller buffer gets only its size.
  std::vector<std::uint8_t> four(4);
  EXPECT_EQ(log.Read(positions[2], four.data(), 4, nullptr, nullptr, nullptr), 4);
  EXPECT_EQ(four[3], 48 + 3);
  // A position that is not a record's start, negative or past the end finds nothing.
  EXPECT_EQ(log.Read(positions[1] + 1, buffer.data(), 30, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(log.Read(-1, buffer.data(), 30, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(log.Read(100000, buffer.data(), 30, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(log.Read(positions[0], nullptr, 30, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(log.Read(positions[0], buffer.data(), 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(log.Tell(), positions[1]);

  // A record whose stored position differs is passed over until one holds the position sought.
  const std::int64_t at = log.Length();
  const std::uint8_t strangerData[7] = {1, 2, 3, 4, 5, 6, 7}, wanted[2] = {0xAB, 0xCD};
  _LogRecMarker stranger, match;
  PacketLogFile::BuildHeader(stranger, 5, 7, "9.9.9.9", "", "");
  PacketLogFile::BuildHeader(match, static_cast<DWORD>(at), 2, "8.8.8.8", "", "");
  AppendRaw(m_path, &stranger, sizeof stranger);
  AppendRaw(m_path, strangerData, sizeof strangerData);
  AppendRaw(m_path, &match, sizeof match);
  AppendRaw(m_path, wanted, sizeof wanted);
  EXPECT_EQ(log.Read(static_cast<LONG>(at), buffer.data(), 30, &source, nullptr, nullptr), 2);
  EXPECT_EQ(buffer[1], 0xCD);
  EXPECT_EQ(source, "8.8.8.8");
}

TEST_F(PacketLogFileTest, TruncationEmptiesTheFileAndAppendingNeverTruncates) {
  PacketLogFile log;
  ASSERT_TRUE(log.OpenShared(m_path));
  WriteThree(log);
  log.Close();
  ASSERT_TRUE(log.OpenShared(m_path));  // reopening keeps the records
  EXPECT_EQ(log.Length(), 360);
  DWORD position = 0;
  const std::uint8_t one = 1;
  EXPECT_EQ(log.Write(&one, 1, "", "", "", &position), 1);
  EXPECT_EQ(position, 360u);

  EXPECT_TRUE(log.Truncate());
  EXPECT_EQ(log.Length(), 0);
  EXPECT_EQ(log.Write(&one, 1, "", "", "", &position), 1);
  EXPECT_EQ(position, 0u);
  log.Close();

  PacketLogFile other;
  ASSERT_TRUE(other.OpenTruncate(m_path));
  EXPECT_EQ(other.Length(), 0);
  EXPECT_EQ(other.Write(&one, 1, "", "", "", &position), 1);
  EXPECT_EQ(position, 0u);
}

TEST_F(PacketLogFileTest, DamagedRecordsEndEveryReadThere) {
  PacketLogFile writer;
  ASSERT_TRUE(writer.OpenShared(m_path));
  const auto positions = WriteThree(writer);
  writer.Close();
  const std::string good = FileBytes(m_path);
  std::vector<std::uint8_t> buffer(64);

  struct Damage {
    const char* what;
    std::size_t offset;  // into the second record's header
    std::string bytes;
  };
  auto le = [](std::int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  const Damage damages[] = {
      {"marker", 2, "X"},
      {"marker without its zero", 14, "!"},
      {"negative data length", 88, le(-20)},
      {"zero data length", 88, le(0)},
      {"data length above 65535", 88, le(0x10000)},
      {"huge data length", 88, le(0x7FFFFFFF)},
      {"data length past the end of the file", 88, le(20 + 100 + 30 + 1)},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::string bytes = good;
    bytes.replace(positions[1] + damage.offset, damage.bytes.size(), damage.bytes);
    std::ofstream(m_path, std::ios::binary | std::ios::trunc) << bytes;

    PacketLogFile log;
    ASSERT_TRUE(log.OpenReadOnly(m_path));
    LONG position = -1;
    EXPECT_EQ(log.ReadNext(&position, buffer.data(), 64, nullptr, nullptr, nullptr), 10);
    EXPECT_EQ(log.ReadNext(&position, buffer.data(), 64, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(position, 0);  // untouched by the damaged record
    EXPECT_EQ(log.Tell(), positions[1]);
    EXPECT_EQ(log.ReadNextHeader(nullptr), -1);
    EXPECT_EQ(log.GetMaxRecNum(), 0);
    EXPECT_EQ(log.Read(positions[1], buffer.data(), 64, nullptr, nullptr, nullptr), -1);
    // A record after the damage is still reached by its own position.
    EXPECT_EQ(log.Read(positions[2], buffer.data(), 64, nullptr, nullptr, nullptr), 30);
  }

  // A header cut short at the end of the file.
  std::ofstream(m_path, std::ios::binary | std::ios::trunc) << good.substr(0, positions[2] + 50);
  PacketLogFile log;
  ASSERT_TRUE(log.OpenReadOnly(m_path));
  EXPECT_EQ(log.GetMaxRecNum(), static_cast<LONG>(positions[1]));
  EXPECT_EQ(log.Read(positions[2], buffer.data(), 64, nullptr, nullptr, nullptr), -1);
}

TEST_F(PacketLogFileTest, ReaderStopsAtARecordStillBeingAppended) {
  PacketLogFile writer, reader;
  ASSERT_TRUE(writer.OpenShared(m_path));
  const std::uint8_t first[4] = {1, 2, 3, 4};
  ASSERT_EQ(writer.Write(first, 4, "", "", "", nullptr), 4);
  ASSERT_TRUE(reader.OpenReadOnly(m_path));

  // Another writer has put down a header but not yet its data.
  const auto data = Bytes(40, 9);
  _LogRecMarker header;
  PacketLogFile::BuildHeader(header, 104, 40, "10.1.1.1", "10.1.1.2", "t");
  AppendRaw(m_path, &header, sizeof header);
  AppendRaw(m_path, data.data(), 10);

  std::vector<std::uint8_t> buffer(64);
  LONG position = -1;
  EXPECT_EQ(reader.ReadNext(&position, buffer.data(), 64, nullptr, nullptr, nullptr), 4);
  EXPECT_EQ(reader.ReadNext(&position, buffer.data(), 64, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(reader.Tell(), 104);
  EXPECT_EQ(reader.GetMaxRecNum(), 0);
  EXPECT_EQ(reader.Read(104, buffer.data(), 64, nullptr, nullptr, nullptr), -1);

  // Once the rest has arrived the same reader picks the record up where it stopped.
  AppendRaw(m_path, data.data() + 10, 30);
  EXPECT_EQ(reader.ReadNext(&position, buffer.data(), 64, nullptr, nullptr, nullptr), 40);
  EXPECT_EQ(position, 104);
  EXPECT_EQ(buffer[39], 9 + 39);
  EXPECT_EQ(reader.GetMaxRecNum(), 104);
  // Records appended through the shared writer are seen as well.
  DWORD third = 0;
  ASSERT_EQ(writer.Write(first, 4, "", "", "", &third), 4);
  EXPECT_EQ(third, 244u);
  EXPECT_EQ(reader.ReadNextHeader(&header), 1);
  EXPECT_EQ(header.position, 244u);
}

TEST_F(PacketLogFileTest, AFailedWriteLeavesTheFileAsItWas) {
  PacketLogFile log;
  ASSERT_TRUE(log.OpenShared(m_path));
  WriteThree(log);
  // Let the file grow by 150 bytes only: a 200-byte record is cut short by the system.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved;
  limit.rlim_cur = 360 + 150;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const auto data = Bytes(100, 0);
  const LONG written = log.Write(data.data(), 100, "", "", "", nullptr);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(log.Length(), 360);
  EXPECT_EQ(log.GetMaxRecNum(), 230);
}

TEST(LogPageSize, ClampsToTheAllowedRange) {
  EXPECT_EQ(ClampLogPageSize(10), 25);
  EXPECT_EQ(ClampLogPageSize(20000), 10000);
  EXPECT_EQ(ClampLogPageSize(-1), 25);
  EXPECT_EQ(ClampLogPageSize(25), 25);
  EXPECT_EQ(ClampLogPageSize(256), 256);
  EXPECT_EQ(ClampLogPageSize(10000), 10000);
}

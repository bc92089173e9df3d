// Capture files in and out of the packet log: the replay captures imported (as live capture logs
// them) and exported again as pcapng, read back by tshark; damaged and refused files.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "CaptureTestSupport.h"
#include "controls/packets/CaptureFileImport.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogExport.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;

namespace {

struct TimedFrame {
  std::vector<std::uint8_t> bytes;
  std::int64_t millis = 0;  // since 1970
  bool operator==(const TimedFrame&) const = default;
};

// Every frame of a capture file with its time cut to the millisecond, as libpcap reads it.
std::vector<TimedFrame> ReadTimed(const std::string& path) {
  std::vector<TimedFrame> frames;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* in = pcap_open_offline(path.c_str(), error);
  if (in == nullptr) return frames;
  pcap_pkthdr* header;
  const u_char* data;
  while (pcap_next_ex(in, &header, &data) == 1)
    frames.push_back({{data, data + header->caplen}, header->ts.tv_sec * 1000LL + header->ts.tv_usec / 1000});
  pcap_close(in);
  return frames;
}

bool HasTshark() { return std::system("command -v tshark >/dev/null 2>&1") == 0; }

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::vector<std::uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::uint32_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

void SetWord(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// Imports into the packet log of the current test's store; the records are in the file after.
CaptureFileImport::Result Import(const std::string& path) {
  MonListIpMonCWinThread thread;  // the log members on this thread
  thread.LogUseCurrent(1);
  return CaptureFileImport::Run(thread, path);
}

}  // namespace

// Every replay capture: imported records equal the ones a live replay of the file writes (all
// but the time, which live capture takes from the clock); the import shows in the pane after a
// reload; the export is read by tshark with the same frames, in order, to the millisecond.
TEST(CaptureFiles, ReplayCapturesImportAsLiveCaptureAndExportForTshark) {
  if (!HasTshark()) GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh)";
  int ipv6Frames = 0;
  for (const std::string& capture : ReplayCaptures()) {
    SCOPED_TRACE(capture);
    CaptureEnv env;
    const std::vector<TimedFrame> original = ReadTimed(capture);
    ASSERT_FALSE(original.empty());

    env.UseCaptureFile(capture);
    {
      auto pane = MakePane(env.App());
      ASSERT_NE(pane, nullptr);
      ASSERT_TRUE(Replay(*pane));
    }
    const std::vector<Record> live = ReadLog(env.LogPath());
    std::filesystem::remove(env.LogPath());

    const auto result = Import(capture);
    EXPECT_EQ(result.status, CaptureFileReader::Status::End) << result.stopText;
    EXPECT_EQ(result.imported, original.size());
    EXPECT_EQ(result.firstPosition, 0);
    const std::vector<Record> imported = ReadLog(env.LogPath());
    ASSERT_EQ(imported.size(), live.size());
    for (std::size_t i = 0; i < imported.size(); ++i) {
      EXPECT_EQ(imported[i].data, live[i].data) << "record " << i;
      EXPECT_EQ(imported[i].header.position, live[i].header.position);
      EXPECT_STREQ(imported[i].header.source, live[i].header.source);
      EXPECT_STREQ(imported[i].header.destination, live[i].header.destination);
      EXPECT_EQ(PacketLogExport::TimeTextMicros(imported[i].header.time) / 1000, original[i].millis);
    }

    const std::string exported = env.File("export.pcapng");
    PacketLogExport exporter;
    const auto written = exporter.Run(env.LogPath(), exported);
    ASSERT_TRUE(written.written) << written.error;
    EXPECT_EQ(written.records, original.size());
    EXPECT_FALSE(written.stoppedEarly);
    EXPECT_FALSE(PartFileBeside(exported));
    // tshark reads the pcapng and writes the frames out again as plain pcap for libpcap to compare.
    const std::string back = env.File("back.pcap");
    ASSERT_EQ(Shell("tshark -r '" + exported + "' -F pcap -w '" + back + "'"), 0);
    EXPECT_TRUE(ReadTimed(back) == original);
    for (const TimedFrame& frame : original)
      ipv6Frames += IsIpv6Frame(frame.bytes.data(), static_cast<std::uint32_t>(frame.bytes.size()), 14) ? 1 : 0;
  }
  EXPECT_GE(ipv6Frames, 20);  // among them IPv6 frames, carried through unchanged
}

TEST(CaptureFiles, DamagedFilesImportWhatIsWholeAndSayWhereTheyStopped) {
  CaptureEnv env;
  const std::string capture = kPcapFolder + "/zeek-http-get.pcap";
  const std::vector<std::uint8_t> whole = Bytes(capture);
  // Offsets of the pcap records: 24-byte file header, 16-byte record headers.
  std::vector<std::size_t> records;
  for (std::size_t at = 24; at + 16 <= whole.size(); at += 16 + Word(whole, at + 8)) records.push_back(at);
  ASSERT_GT(records.size(), 5u);

  // Cut in the middle of the fourth record's bytes.
  const std::string cut = env.File("cut.pcap");
  WriteBytes(cut, {whole.begin(), whole.begin() + static_cast<long>(records[3] + 16 + 10)});
  auto result = Import(cut);
  EXPECT_EQ(result.status, CaptureFileReader::Status::Damaged);
  EXPECT_EQ(result.imported, 3u);
  EXPECT_NE(result.stopText.find("frame 4, byte offset " + std::to_string(records[3])), std::string::npos)
      << result.stopText;
  EXPECT_NE(CaptureFileImport::Describe(result).find("damaged"), std::string::npos);
  EXPECT_EQ(ReadLog(env.LogPath()).size(), 3u);

  // A captured length far beyond the file is refused before anything is read for it.
  std::vector<std::uint8_t> oversize = whole;
  SetWord(oversize, records[1] + 8, 0x7FFFFFF0);
  const std::string big = env.File("oversize.pcap");
  WriteBytes(big, oversize);
  result = Import(big);
  EXPECT_EQ(result.status, CaptureFileReader::Status::Damaged);
  EXPECT_EQ(result.imported, 1u);
  EXPECT_NE(result.stopText.find("frame 2"), std::string::npos) << result.stopText;

  // The same capture as pcapng (written by tshark): whole, then with a bad block length in its
  // third packet block.
  if (HasTshark()) {
    const std::string ng = env.File("http.pcapng");
    ASSERT_EQ(Shell("tshark -r '" + capture + "' -F pcapng -w '" + ng + "'"), 0);
    result = Import(ng);
    EXPECT_EQ(result.status, CaptureFileReader::Status::End) << result.stopText;
    EXPECT_EQ(result.imported, records.size());
    std::vector<std::uint8_t> bytes = Bytes(ng);
    std::size_t at = 0;
    int packets = 0;
    while (at + 8 <= bytes.size()) {
      if (Word(bytes, at) == 6 && ++packets == 3) break;
      at += Word(bytes, at + 4);
    }
    ASSERT_EQ(packets, 3);
    SetWord(bytes, at + 4, 13);  // not a multiple of 4
    WriteBytes(ng, bytes);
    result = Import(ng);
    EXPECT_EQ(result.status, CaptureFileReader::Status::Damaged);
    EXPECT_EQ(result.imported, 2u);
    EXPECT_NE(result.stopText.find("bad block length"), std::string::npos);
    EXPECT_NE(result.stopText.find("byte offset " + std::to_string(at)), std::string::npos) << result.stopText;
  }

  // Not Ethernet: refused with nothing imported.
  std::vector<std::uint8_t> raw = whole;
  SetWord(raw, 20, 101);
  const std::string rawPath = env.File("raw.pcap");
  WriteBytes(rawPath, raw);
  const std::size_t before = ReadLog(env.LogPath()).size();
  result = Import(rawPath);
  EXPECT_EQ(result.status, CaptureFileReader::Status::Refused);
  EXPECT_EQ(result.imported, 0u);
  EXPECT_NE(CaptureFileImport::Describe(result).find("link type is 101, not Ethernet"), std::string::npos);
  EXPECT_EQ(ReadLog(env.LogPath()).size(), before);
}

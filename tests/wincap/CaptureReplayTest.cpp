#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogFile.h"
#include "wincap/PelorinAdapter.h"

namespace {

const std::string kPcapFolder = std::string(PELORIN_TESTDATA) + "/pcap";

// One line of a reference decode: frame.number, frame.len, frame.cap_len, eth.type, ip.proto,
// ip.len, ip.src, ip.dst, tcp.srcport, tcp.dstport, udp.srcport, udp.dstport.
using Fields = std::vector<std::string>;

std::vector<Fields> ReadReference(const std::string& path) {
  std::vector<Fields> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    Fields fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    fields.resize(12);  // trailing empty columns
    lines.push_back(fields);
  }
  return lines;
}

// The first of several comma-separated values (ICMP errors carry the quoted header's too).
std::string First(const std::string& field) { return field.substr(0, field.find(',')); }

std::string TypeOf(const std::string& protocol) {
  if (protocol == "6") return "TCP";
  if (protocol == "17") return "UDP";
  if (protocol == "1") return "ICMP";
  return "IP";
}

std::vector<std::string> Captures() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kPcapFolder))
    if (entry.path().extension() == ".pcap") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

_PelorinWinCapAdapter FileSource(const std::string& path) {
  _PelorinWinCapAdapter adapter{};
  const std::string name = "file://" + path;
  name.copy(adapter.name, sizeof adapter.name - 1);
  return adapter;
}

// A frame held in a buffer of exactly its captured length, so a decoder reading past it is caught.
struct Frame {
  std::vector<std::uint8_t> bytes;
};

}  // namespace

// Every frame of every capture replays through the adapter; every IPv4 frame decodes as the
// independent decoder saw it, and every frame survives a trip through the packet log.
TEST(CaptureReplay, DecodesLikeTheReferenceAndLogsEveryFrame) {
  const auto names = Captures();
  ASSERT_GE(names.size(), 20u) << "test captures missing in " << kPcapFolder;
  TempFolder folder;
  std::size_t ipv4Frames = 0, portChecks = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto reference = ReadReference(kPcapFolder + "/" + name + ".fields.tsv");
    const _PelorinWinCapAdapter source = FileSource(kPcapFolder + "/" + name + ".pcap");
    PelorinAdapter adapter(&source);
    ASSERT_EQ(adapter.Open(), 1) << adapter.ErrorText();

    PacketLogFile log;
    ASSERT_TRUE(log.OpenShared(folder.File(name + ".rec")));
    std::vector<Frame> frames;
    std::vector<DWORD> positions;
    _PelorinAdapterPacket packet{};
    DecodedPacket d;
    while (adapter.Read(&packet, 0) > 0) {
      ASSERT_LT(frames.size(), reference.size());
      const Fields& ref = reference[frames.size()];
      SCOPED_TRACE("frame " + ref[0]);
      EXPECT_EQ(std::to_string(packet.length), ref[2]);
      frames.push_back({std::vector<std::uint8_t>(packet.data, packet.data + packet.length)});
      const auto& bytes = frames.back().bytes;
      DecodeFrame(bytes.data(), packet.length, 14, d);

      if (d.payload) {
        EXPECT_GE(d.payload, bytes.data() + 14);
        EXPECT_LE(d.payload + d.payloadLength, bytes.data() + bytes.size());
      }
      if (ref[3] == "0x0800") {
        ++ipv4Frames;
        EXPECT_EQ(d.typeText, TypeOf(First(ref[4])));
        EXPECT_EQ(d.sizeText, First(ref[5]));
        EXPECT_EQ(d.sourceText, First(ref[6]));
        EXPECT_EQ(d.destinationText, First(ref[7]));
        // Fragments show the offset-0 bytes to us but no ports in the reference.
        const bool fragment = bytes.size() >= 22 && ((bytes[20] & 0x3F) != 0 || bytes[21] != 0);
        if ((d.typeCode == 3 || d.typeCode == 4) && !fragment) {
          ++portChecks;
          const std::size_t column = d.typeCode == 3 ? 8 : 10;
          EXPECT_EQ(d.sourcePortText, ref[column]);
          EXPECT_EQ(d.destinationPortText, ref[column + 1]);
        }
      }

      DWORD position = 0;
      const LONG length = static_cast<LONG>(packet.length);
      EXPECT_EQ(log.Write(bytes.data(), length, d.sourceText.c_str(), d.destinationText.c_str(),
                          "12/06/26 07:50:18:042", &position),
                length <= PacketLogFile::kMaxDataLength ? length : 0);
      positions.push_back(length <= PacketLogFile::kMaxDataLength ? position : 0xFFFFFFFF);
    }
    EXPECT_EQ(frames.size(), reference.size());
    // The end of the file reads nothing, with or without waiting.
    EXPECT_EQ(adapter.Read(&packet, 0), 0u);
    EXPECT_EQ(adapter.Read(&packet, 1), 0u);

    // Every logged frame reads back byte for byte, by position and in order.
    std::vector<std::uint8_t> buffer(0x10000);
    std::string sourceText;
    ASSERT_TRUE(log.Seek(0));
    LONG last = -1;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (positions[i] == 0xFFFFFFFF) continue;
      const auto& bytes = frames[i].bytes;
      const LONG n = log.Read(static_cast<LONG>(positions[i]), buffer.data(),
                              static_cast<LONG>(buffer.size()), &sourceText, nullptr, nullptr);
      ASSERT_EQ(n, static_cast<LONG>(bytes.size()));
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));
      LONG position = -1;
      ASSERT_EQ(log.ReadNext(&position, buffer.data(), static_cast<LONG>(buffer.size()), nullptr,
                             nullptr, nullptr),
                n);
      EXPECT_EQ(position, static_cast<LONG>(positions[i]));
      last = position;
    }
    EXPECT_EQ(log.GetMaxRecNum(), std::max<LONG>(last, 0));
  }
  EXPECT_GT(ipv4Frames, 800u);
  EXPECT_GT(portChecks, 600u);
}

TEST(CaptureReplay, FileSourcesThatCannotBeCapturedFromFailToOpen) {
  TempFolder folder;
  // A capture file whose link layer is raw IP, not Ethernet.
  const std::string raw = folder.File("raw.pcap");
  pcap_t* dead = pcap_open_dead(DLT_RAW, 65535);
  ASSERT_NE(dead, nullptr);
  pcap_dumper_t* dumper = pcap_dump_open(dead, raw.c_str());
  ASSERT_NE(dumper, nullptr);
  const std::uint8_t ip[20] = {0x45, 0, 0, 20, 0, 0, 0, 0, 64, 17};
  pcap_pkthdr header{};
  header.caplen = header.len = sizeof ip;
  pcap_dump(reinterpret_cast<u_char*>(dumper), &header, ip);
  pcap_dump_close(dumper);
  pcap_close(dead);

  for (const std::string& path : {raw, folder.File("missing.pcap"), folder.Path()}) {
    const _PelorinWinCapAdapter source = FileSource(path);
    PelorinAdapter adapter(&source);
    EXPECT_EQ(adapter.Open(), 0) << path;
    EXPECT_FALSE(adapter.IsOpen());
    EXPECT_STRNE(adapter.ErrorText(), "");
    _PelorinAdapterPacket packet{};
    EXPECT_EQ(adapter.Read(&packet, 0), 0u);
  }

  // No name, no record, no packet.
  PelorinAdapter unnamed;
  EXPECT_EQ(unnamed.Open(), 0);
  PelorinAdapter fromNull(nullptr);
  EXPECT_EQ(fromNull.Adapter().index, 0);
  const _PelorinWinCapAdapter source = FileSource(kPcapFolder + "/zeek-icmp-5-pings.pcap");
  PelorinAdapter adapter(&source);
  ASSERT_EQ(adapter.Open(), 1);
  EXPECT_EQ(adapter.Read(nullptr, 0), 0u);
  _PelorinAdapterPacket packet{};
  EXPECT_EQ(adapter.Read(&packet, 0), 98u);
  EXPECT_GT(packet.seconds, 1000000000u);  // the file's own time stamps
  EXPECT_LT(packet.microseconds, 1000000u);
  // Opening again starts over.
  ASSERT_EQ(adapter.Open(), 1);
  int count = 0;
  while (adapter.Read(&packet, 0) > 0) ++count;
  EXPECT_EQ(count, 10);
  EXPECT_EQ(adapter.Close(), 0);
  EXPECT_FALSE(adapter.IsOpen());
  EXPECT_EQ(adapter.Read(&packet, 0), 0u);
}

// The classic capture file in each form the adapter reads itself (either byte order, micro- or
// nanosecond stamps, frames beyond the file's snapshot, a last record cut short) and in pcapng,
// which it leaves to the library, gives the frames the capture library reads from it.
TEST(CaptureReplay, EveryFormOfCaptureFileGivesTheFramesTheLibraryReads) {
  TempFolder folder;
  struct Frame {
    std::uint32_t seconds, microseconds;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Frame&) const = default;
  };
  const auto readAll = [](auto&& next) {
    std::vector<Frame> frames;
    for (Frame f; next(&f);) frames.push_back(f);
    return frames;
  };
  std::vector<std::string> files;
  for (const bool swapped : {false, true})
    for (const bool nano : {false, true}) {
      std::string bytes;
      const auto put = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> 8 * (swapped ? size - 1 - i : i));
      };
      put(nano ? 0xa1b23c4d : 0xa1b2c3d4, 4), put(2, 2), put(4, 2), put(0, 4), put(0, 4), put(100, 4), put(1, 4);
      const std::uint32_t lengths[] = {60, 150, 80, 90};  // 150 passes the snapshot; the last is cut short
      for (std::uint32_t i = 0; i < 4; ++i) {
        put(1765000000 + i, 4), put(nano ? 123456789 * i : 123456 * i, 4), put(lengths[i], 4), put(lengths[i], 4);
        bytes.append(i == 3 ? 10 : lengths[i], static_cast<char>(i + 1));
      }
      files.push_back(folder.File(std::to_string(swapped) + std::to_string(nano) + ".pcap"));
      std::ofstream(files.back(), std::ios::binary) << bytes;
    }
  files.push_back(folder.File("ng.pcapng"));
  ASSERT_EQ(std::system(("editcap -F pcapng '" + kPcapFolder + "/zeek-http-get.pcap' '" + files.back() + "'").c_str()), 0);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* library = pcap_open_offline(path.c_str(), error);
    ASSERT_NE(library, nullptr) << error;
    const auto expected = readAll([&](Frame* f) {
      pcap_pkthdr* h;
      const u_char* data;
      if (pcap_next_ex(library, &h, &data) != 1) return false;
      *f = {static_cast<std::uint32_t>(h->ts.tv_sec), static_cast<std::uint32_t>(h->ts.tv_usec), {data, data + h->caplen}};
      return true;
    });
    pcap_close(library);
    const _PelorinWinCapAdapter source = FileSource(path);
    PelorinAdapter adapter(&source);
    ASSERT_EQ(adapter.Open(), 1) << adapter.ErrorText();
    const auto read = readAll([&](Frame* f) {
      _PelorinAdapterPacket p{};
      if (adapter.Read(&p, 0) == 0) return false;
      *f = {p.seconds, p.microseconds, {p.data, p.data + p.length}};
      return true;
    });
    EXPECT_GE(read.size(), 3u);
    EXPECT_TRUE(read == expected) << read.size() << " frames against the library's " << expected.size();
  }
}

// Recorded and hand-made captures replayed through the packet pane (a "file://" adapter): the
// rows, their item data and the packet log records, against an independent decode.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "CaptureTestSupport.h"
#include "common/FieldText.h"
#include "common/Messages.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogFile.h"

using namespace capture_test;

namespace {

// frame.number, frame.len, frame.cap_len, eth.type, ip.proto, ip.len, ip.src, ip.dst,
// tcp.srcport, tcp.dstport, udp.srcport, udp.dstport (tshark).
std::vector<std::vector<std::string>> ReadFields(const std::string& path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    fields.resize(12);
    // A field that occurs more than once (the inner header an ICMP error quotes) lists every
    // value; the outer header's comes first.
    for (std::string& value : fields) value = value.substr(0, value.find(','));
    lines.push_back(fields);
  }
  return lines;
}

// "%m/%d/%y %H:%M:%S" and ":" with three digits of milliseconds.
bool IsTimeText(const std::string& text) {
  const std::string shape = "dd/dd/dd dd:dd:dd:ddd";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i]) return false;
  return true;
}

std::vector<std::vector<std::uint8_t>> Frames(std::initializer_list<FrameParts> specs) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (const FrameParts& parts : specs) frames.push_back(BuildFrame(parts));
  return frames;
}

}  // namespace

TEST(PaneReplay, RecordedCapturesGiveTheDecodersRowsAndByteExactLogRecords) {
  int files = 0, checkedAgainstTshark = 0, checkedIpv6 = 0;
  for (const std::string& capture : ReplayCaptures()) {
    SCOPED_TRACE(capture);
    CaptureEnv env;
    env.App().WriteProfileInt("", "LogPageSize", 10000);
    env.UseCaptureFile(capture);
    auto pane = MakePane(env.App());
    ASSERT_NE(pane, nullptr);
    ASSERT_TRUE(Replay(*pane));

    const auto frames = ReadCapture(capture);
    const auto rows = Rows(*pane);
    ASSERT_EQ(rows.size(), frames.size());
    EXPECT_EQ(pane->GetCaptureThread()->GetFramesRead(), frames.size());
    // The status bar's figures: every frame captured and logged, the log's size, no kernel.
    const CaptureCounts counts = pane->GetCaptureThread()->GetCaptureCounts();
    EXPECT_EQ(counts.captured, frames.size());
    EXPECT_EQ(counts.logged, frames.size());
    EXPECT_EQ(counts.logBytes, static_cast<std::int64_t>(std::filesystem::file_size(env.LogPath())));
    EXPECT_FALSE(counts.kernelCounts);
    const auto fields = ReadFields(capture.substr(0, capture.size() - 5) + ".fields.tsv");

    PacketLogFile log;
    ASSERT_TRUE(log.OpenReadOnly(env.LogPath()));
    std::vector<std::uint8_t> data(65536);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i + 1));
      const Row& row = rows[i];
      const DecodedPacket d = DecodeFrame(frames[i].data(), static_cast<std::uint32_t>(frames[i].size()), 14);
      EXPECT_EQ(row.texts[0], d.typeText);
      EXPECT_EQ(row.texts[1], d.sizeText);
      EXPECT_EQ(row.texts[2], d.sourceText);
      EXPECT_EQ(row.texts[3], d.sourcePortText);
      EXPECT_EQ(row.texts[4], d.destinationText);
      EXPECT_EQ(row.texts[5], d.destinationPortText);
      EXPECT_TRUE(IsTimeText(row.texts[6])) << row.texts[6];
      EXPECT_EQ(row.texts[7], "Ok");
      EXPECT_EQ(row.item.rowNumber, static_cast<int>(i));
      EXPECT_EQ(row.item.typeCode, d.typeCode);

      // The record at the row's position holds the frame as captured, byte for byte.
      std::string source, destination, time;
      _LogRecMarker header{};
      const LONG read = log.Read(row.item.recordPosition, data.data(), static_cast<LONG>(data.size()), &source,
                                 &destination, &time, &header);
      ASSERT_EQ(read, static_cast<LONG>(frames[i].size()));
      EXPECT_TRUE(std::equal(frames[i].begin(), frames[i].end(), data.begin()));
      EXPECT_EQ(header.position, static_cast<DWORD>(row.item.recordPosition));
      // The header holds each address text that fits its field; the reader hands out the whole.
      EXPECT_EQ(GetFieldText(header.source), PacketLogFile::HeaderAddressText(d.sourceText));
      EXPECT_EQ(GetFieldText(header.destination), PacketLogFile::HeaderAddressText(d.destinationText));
      EXPECT_EQ(source, d.sourceText);
      EXPECT_EQ(destination, d.destinationText);
      EXPECT_EQ(time, row.texts[6]);

      // The independent decoder agrees for plain Ethernet IPv4 frames. Ports are read at the
      // fixed offset 20 of the IPv4 header, so they are compared where the transport header
      // really lies there: no IP options and the first fragment.
      if (i < fields.size() && fields[i][3] == "0x0800" && !fields[i][5].empty()) {
        ++checkedAgainstTshark;
        const std::string& proto = fields[i][4];
        EXPECT_EQ(row.texts[0], proto == "6" ? "TCP" : proto == "17" ? "UDP" : proto == "1" ? "ICMP" : "IP");
        EXPECT_EQ(row.texts[1], fields[i][5]);
        EXPECT_EQ(row.texts[2], fields[i][6]);
        EXPECT_EQ(row.texts[4], fields[i][7]);
        const std::uint8_t* ip = frames[i].data() + 14;
        const bool plain = frames[i].size() >= 34 && (ip[0] & 0x0F) == 5 && ((ip[6] & 0x1F) | ip[7]) == 0;
        const std::string* ports = proto == "6" ? &fields[i][8] : proto == "17" ? &fields[i][10] : nullptr;
        if (ports && plain && !ports[0].empty()) {
          EXPECT_EQ(row.texts[3], ports[0]);
          EXPECT_EQ(row.texts[5], ports[1]);
        }
        if (!ports) {
          EXPECT_EQ(row.texts[3], "");
          EXPECT_EQ(row.texts[5], "");
        }
      }
    }
    if (std::any_of(fields.begin(), fields.end(), [](const auto& f) { return f[3] == "0x86dd"; }))
      checkedIpv6 += ExpectIpv6RowsAsTshark(rows, TsharkIpv6(capture));
    // Record positions run through the file in order, with nothing between the records.
    for (std::size_t i = 1; i < rows.size(); ++i)
      EXPECT_EQ(rows[i].item.recordPosition, rows[i - 1].item.recordPosition + 100 + static_cast<LONG>(frames[i - 1].size()));
    ++files;
  }
  EXPECT_GE(files, 20);
  EXPECT_GT(checkedAgainstTshark, 100);
  EXPECT_GE(checkedIpv6, 20);  // tshark is there and read the IPv6 captures
}

TEST(PaneReplay, Ipv6ExtensionHeadersAreWalkedAsTsharkWalksThem) {
  CaptureEnv env;
  const std::vector<std::uint8_t> padding = {0, 0, 1, 4, 0, 0, 0, 0};  // a PadN option fills the 8 bytes
  const std::vector<std::uint8_t> firstFragment = {0, 0, 0x00, 0x01, 0, 0, 0, 7};  // offset 0, more
  const std::vector<std::uint8_t> laterFragment = {0, 0, 0x00, 0x08, 0, 0, 0, 7};  // offset 8 bytes
  const std::vector<std::uint8_t> routing = {0, 0, 253, 0, 0, 0, 0, 0};
  const std::vector<std::uint8_t> authentication = {0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // 12 bytes
  std::vector<std::vector<std::uint8_t>> frames = {
      BuildFrame6({.nextHeader = 6, .extensions = {{0, padding}}, .payload = "GET / HTTP/1.1"}),
      BuildFrame6({.nextHeader = 17, .sourcePort = 5353, .destinationPort = 53, .extensions = {{44, firstFragment}},
                   .payload = "first"}),
      BuildFrame6({.nextHeader = 17, .extensions = {{44, laterFragment}}, .payload = "rest of it"}),
      BuildFrame6({.nextHeader = 58, .source = "fe80::1", .destination = "ff02::1", .payload = "ping"}),
      BuildFrame6({.nextHeader = 6, .sourcePort = 443, .destinationPort = 50000,
                   .extensions = {{60, padding}, {43, routing}}}),
      BuildFrame6({.nextHeader = 17, .extensions = {{51, authentication}}, .payload = "signed"}),
      BuildFrame6({.nextHeader = 50, .payload = std::string(24, 'e')}),  // ESP: nothing past it is read
      BuildFrame({.protocol = 17, .payload = "an IPv4 one between"}),
  };
  auto cut = BuildFrame6({.nextHeader = 6, .extensions = {{0, padding}}});
  cut.resize(14 + 40 + 4);  // ends inside the hop-by-hop header
  frames.push_back(cut);
  ASSERT_TRUE(WriteCapture(env.File("ipv6.pcap"), frames));
  const auto views = TsharkIpv6(env.File("ipv6.pcap"));
  ASSERT_EQ(views.size(), frames.size() - 1) << "tshark read the capture";

  env.UseCaptureFile(env.File("ipv6.pcap"));
  auto pane = MakePane(env.App());
  ASSERT_NE(pane, nullptr);
  const int narrowFrom = pane->GetColumnWidth(2);
  ASSERT_TRUE(Replay(*pane));
  auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), frames.size());
  EXPECT_EQ(ExpectIpv6RowsAsTshark(rows, views), static_cast<int>(views.size()));
  EXPECT_EQ(rows[0].item.typeCode, kPacketTypeTcp);  // the codes the filters test stay IPv4's
  EXPECT_EQ(rows[3].item.typeCode, kPacketTypeIcmp);
  EXPECT_EQ(rows[7].texts[0], "UDP");
  EXPECT_GE(pane->GetColumnWidth(2), pane->GetStringWidth(rows[0].texts[2]));
  EXPECT_GT(pane->GetColumnWidth(4), narrowFrom);

  // A short address text is written into the record header, a long one left out.
  PacketLogFile log;
  ASSERT_TRUE(log.OpenReadOnly(env.LogPath()));
  std::vector<std::uint8_t> data(65536);
  _LogRecMarker header{};
  log.Read(rows[3].item.recordPosition, data.data(), 65536, nullptr, nullptr, nullptr, &header);
  EXPECT_EQ(GetFieldText(header.source), "fe80::1");
  log.Read(rows[0].item.recordPosition, data.data(), 65536, nullptr, nullptr, nullptr, &header);
  EXPECT_EQ(GetFieldText(header.source), "");
}

TEST(PaneReplay, ShortAndLyingFramesAreReadOnlyAsFarAsCaptured) {
  CaptureEnv env;
  // Frames that end inside the IPv4 header or the ports, one whose total length claims far more
  // than was captured, a non-IPv4 frame, and one of a single byte.
  auto frames = Frames({{.protocol = 6, .payload = "GET / HTTP/1.0", .totalLengthOverride = 60000},
                        {.protocol = 17, .payload = "x"}});
  frames.push_back(std::vector<std::uint8_t>(frames[1].begin(), frames[1].begin() + 26));  // ends before the addresses
  frames.push_back(std::vector<std::uint8_t>(frames[1].begin(), frames[1].begin() + 36));  // ends in the ports
  std::vector<std::uint8_t> arp(42, 0);
  arp[12] = 0x08;
  arp[13] = 0x06;
  frames.push_back(arp);
  frames.push_back(std::vector<std::uint8_t>(1, 0xFF));
  ASSERT_TRUE(WriteCapture(env.File("short.pcap"), frames));
  env.UseCaptureFile(env.File("short.pcap"));
  auto pane = MakePane(env.App());
  ASSERT_TRUE(Replay(*pane));

  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), frames.size());
  EXPECT_EQ(rows[0].texts[0], "TCP");
  EXPECT_EQ(rows[0].texts[1], "60000");  // what the header says
  EXPECT_EQ(rows[2].texts[1], "29");  // the size was captured, the addresses were not
  EXPECT_EQ(rows[2].texts[2], "");
  EXPECT_EQ(rows[2].texts[4], "");
  EXPECT_EQ(rows[3].texts[2], "10.0.0.1");
  EXPECT_EQ(rows[3].texts[3], "1025");
  EXPECT_EQ(rows[3].texts[5], "");  // the destination port was not captured
  EXPECT_EQ(rows[5].texts[0], "IP");
  EXPECT_EQ(rows[5].texts[1], "");

  // Every record holds exactly the captured bytes, never more than the frame had.
  PacketLogFile log;
  ASSERT_TRUE(log.OpenReadOnly(env.LogPath()));
  std::vector<std::uint8_t> data(65536);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(log.Read(rows[i].item.recordPosition, data.data(), 65536, nullptr, nullptr, nullptr),
              static_cast<LONG>(frames[i].size()));
    EXPECT_TRUE(std::equal(frames[i].begin(), frames[i].end(), data.begin()));
  }
}

TEST(PaneReplay, MonitorExclusiveShowsEachDirectionOnceAndStartsAfreshAtTheTableEnd) {
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 10000);
  const FrameParts request{.protocol = 6, .source = "10.0.0.1", .destination = "10.0.0.2", .sourcePort = 1025, .destinationPort = 80};
  const FrameParts reply{.protocol = 6, .source = "10.0.0.2", .destination = "10.0.0.1", .sourcePort = 80, .destinationPort = 1025};
  ASSERT_TRUE(WriteCapture(env.File("pair.pcap"), Frames({request, request, reply, request, reply})));
  // 256 conversations fill the table; the 257th clears the pane and is the first of a new table;
  // then one of the first 256 is new again.
  std::vector<std::vector<std::uint8_t>> many;
  for (int i = 0; i < 257; ++i)
    many.push_back(BuildFrame({.protocol = 17, .sourcePort = 2000 + i, .destinationPort = 53}));
  many.push_back(BuildFrame({.protocol = 17, .sourcePort = 2000, .destinationPort = 53}));
  many.push_back(BuildFrame({.protocol = 17, .sourcePort = 2256, .destinationPort = 53}));  // the 257th again
  ASSERT_TRUE(WriteCapture(env.File("many.pcap"), many));
  // IPv6 conversations are told apart by their whole addresses.
  ASSERT_TRUE(WriteCapture(env.File("six.pcap"), {BuildFrame6({}), BuildFrame6({.source = "2001:db8:85a3::1"}),
                                                  BuildFrame6({}), BuildFrame({.source = "0.0.0.0"})}));

  env.UseCaptureFile(env.File("pair.pcap"));
  auto pane = MakePane(env.App());
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  pane->SetMonitorExclusive(1);
  ASSERT_TRUE(Replay(*pane));
  auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].texts[2], "10.0.0.1");
  EXPECT_EQ(rows[1].texts[2], "10.0.0.2");
  // Only the rows shown were logged.
  EXPECT_EQ(PacketLogFile::GetMaxRecNum(env.LogPath()), rows[1].item.recordPosition);

  // A new capture clears the pane, and with it what the table remembers.
  ASSERT_TRUE(Replay(*pane));
  EXPECT_EQ(Rows(*pane).size(), 2u);

  env.UseCaptureFile(env.File("many.pcap"));
  ASSERT_TRUE(Replay(*pane));
  rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].texts[3], "2256");
  EXPECT_EQ(rows[0].item.rowNumber, 0);
  EXPECT_EQ(rows[1].texts[3], "2000");
  EXPECT_EQ(thread->GetExclusiveCount(), 2);

  env.UseCaptureFile(env.File("six.pcap"));
  ASSERT_TRUE(Replay(*pane));
  EXPECT_EQ(Rows(*pane).size(), 3u);
  env.UseCaptureFile(env.File("many.pcap"));

  // Off: every packet is a row.
  thread->SetMonitorExclusive(0);
  ASSERT_TRUE(Replay(*pane));
  EXPECT_EQ(Rows(*pane).size(), many.size());
}

TEST(PaneReplay, LoggingOffGivesNoLogRowsNumberedByRow) {
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogIpMon", 0);
  ASSERT_TRUE(WriteCapture(env.File("three.pcap"), Frames({{}, {.protocol = 1}, {.protocol = 6}})));
  env.UseCaptureFile(env.File("three.pcap"));
  auto pane = MakePane(env.App());
  ASSERT_TRUE(Replay(*pane));
  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i].texts[7], "NoLog");
    EXPECT_EQ(rows[i].item.recordPosition, i);
    EXPECT_EQ(rows[i].item.rowNumber, i);
  }
  EXPECT_EQ(rows[1].texts[0], "ICMP");
  EXPECT_EQ(rows[1].texts[3], "");
  EXPECT_EQ(std::filesystem::file_size(env.LogPath()), 0u);

  // Switched on while the pane lives: logged again, status "Ok".
  pane->GetCaptureThread()->SetLog(1);
  ASSERT_TRUE(Replay(*pane));
  EXPECT_EQ(Rows(*pane)[2].texts[7], "Ok");
  EXPECT_EQ(Rows(*pane)[2].item.recordPosition, PacketLogFile::GetMaxRecNum(env.LogPath()));
}

TEST(PaneReplay, PagesOfThePaneAndReloadingAPageFromTheLog) {
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 10);  // clamped to 25
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0; i < 60; ++i) frames.push_back(BuildFrame({.sourcePort = 3000 + i, .payload = std::string(i, 'p')}));
  ASSERT_TRUE(WriteCapture(env.File("sixty.pcap"), frames));
  env.UseCaptureFile(env.File("sixty.pcap"));
  auto pane = MakePane(env.App());
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  EXPECT_EQ(thread->LogGetPageSize(), 25);
  ASSERT_TRUE(Replay(*pane));

  // The pane was cleared at each page: the last 10 packets remain, numbered from 0.
  auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0].texts[3], "3050");
  EXPECT_EQ(rows[0].item.rowNumber, 0);

  // Record positions of the 60 records, walking the log.
  std::vector<LONG> positions;
  {
    PacketLogFile log;
    ASSERT_TRUE(log.OpenReadOnly(env.LogPath()));
    _LogRecMarker header;
    while (log.ReadNextHeader(&header) == 1) positions.push_back(static_cast<LONG>(header.position));
  }
  ASSERT_EQ(positions.size(), 60u);
  EXPECT_EQ(rows[9].item.recordPosition, positions[59]);
  EXPECT_EQ(thread->LogGetMaxRecNum(), positions[59]);

  auto reload = [&](LONG start) {
    pane->LoadLastLog(start);
    return WaitUntil([thread] { return thread->IsLogLast() == 0; }, 5000);
  };
  // One page from record 30: rows from the log, never filtered nor logged again.
  pane->ApplyFilters(1);
  EXPECT_EQ(thread->GetApplyFilters(), 1);
  ASSERT_TRUE(reload(positions[30]));
  rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 25u);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(rows[i].item.recordPosition, positions[30 + i]);
    EXPECT_EQ(rows[i].texts[3], std::to_string(3030 + i));
    EXPECT_EQ(rows[i].texts[7], "Log");
  }
  EXPECT_EQ(thread->GetLoadStart(), -1);  // consumed
  EXPECT_EQ(thread->LogGetMaxRecNum(), positions[59]);

  // Without a load-start position: the first page.
  ASSERT_TRUE(reload(-1));
  rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 25u);
  EXPECT_EQ(rows[0].item.recordPosition, 0);

  // A damaged record ends the reload there.
  {
    const int fd = ::open(env.LogPath().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "XX", 2, positions[40]), 2);
    ::close(fd);
  }
  ASSERT_TRUE(reload(positions[30]));
  EXPECT_EQ(Rows(*pane).size(), 10u);
  EXPECT_EQ(thread->LogGetMaxRecNum(), positions[39]);
}

// A row's cells are made from its item when read, and items are reused page after page: the
// rows of the last page show their own packets, whatever the items held before (IPv6 rows
// before IPv4 ones, ports before none, short frames).
TEST(PaneReplay, RowsOfALaterPageShowTheirOwnPacketsInReusedItems) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (int round = 0; round < 3; ++round)
    for (const std::string& capture : ReplayCaptures())
      for (auto& frame : ReadCapture(capture)) frames.push_back(std::move(frame));
  std::reverse(frames.begin(), frames.end());  // the last page is not the first page over again
  frames.push_back(std::vector<std::uint8_t>(frames.back().begin(), frames.back().begin() + 30));
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 25);
  ASSERT_TRUE(WriteCapture(env.File("mixed.pcap"), frames));
  env.UseCaptureFile(env.File("mixed.pcap"));
  auto pane = MakePane(env.App());
  ASSERT_TRUE(Replay(*pane));

  const auto rows = Rows(*pane);
  ASSERT_GT(frames.size(), 100u);
  ASSERT_EQ(rows.size(), frames.size() % 25 == 0 ? 25 : frames.size() % 25);
  const std::size_t first = frames.size() - rows.size();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& frame = frames[first + i];
    const DecodedPacket d = DecodeFrame(frame.data(), static_cast<std::uint32_t>(frame.size()), 14);
    const std::string expected[] = {d.typeText,        d.sizeText,           d.sourceText, d.sourcePortText,
                                    d.destinationText, d.destinationPortText};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(rows[i].texts[c], expected[c]) << "row " << i << " column " << c;
    EXPECT_EQ(rows[i].texts[7], "Ok");
  }
}

TEST(PaneReplay, DeferredClearEmptiesThePaneAndTheLog) {
  CaptureEnv env;
  ASSERT_TRUE(WriteCapture(env.File("two.pcap"), Frames({{}, {}})));
  env.UseCaptureFile(env.File("two.pcap"));
  auto pane = MakePane(env.App());
  ASSERT_TRUE(Replay(*pane));
  ASSERT_EQ(pane->GetItemCount(), 2);
  ASSERT_GT(std::filesystem::file_size(env.LogPath()), 0u);

  pane->SetDeleteAll(1, 1);
  ASSERT_TRUE(WaitUntil([&] { return pane->GetItemCount() == 0 && std::filesystem::file_size(env.LogPath()) == 0; }, 2000));
  // Logging goes on from position 0.
  ASSERT_TRUE(Replay(*pane));
  EXPECT_EQ(Rows(*pane)[0].item.recordPosition, 0);
  EXPECT_EQ(Rows(*pane)[1].item.recordPosition, 100 + static_cast<LONG>(BuildFrame({}).size()));
}

// The rendering of logged packets (hex, decimal, text; header split, line breaks, capacity, the
// bounds of the bytes given), the range cut of the feed and the compare's difference runs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../capture/CaptureTestSupport.h"
#include "controls/inspect/DlgPelorinView.h"
#include "controls/inspect/PacketDiff.h"
#include "controls/inspect/PacketFormat.h"

namespace {

// Bytes 0, 1, 2, ... with the IPv4 total length and protocol fields set; exactly length bytes
// on the heap, so a read past them is caught.
std::vector<std::uint8_t> Packet(std::size_t length, int protocol, int totalLength) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  if (length > 17) {
    bytes[16] = static_cast<std::uint8_t>(totalLength >> 8);
    bytes[17] = static_cast<std::uint8_t>(totalLength);
  }
  if (length > 23) bytes[23] = static_cast<std::uint8_t>(protocol);
  return bytes;
}

struct Texts {
  std::string header;
  std::string data;
  bool rendered = false;
};

Texts Render(int mode, const char* protocol, const std::vector<std::uint8_t>& packet, LONG dataCapacity = 4096,
             LONG headerCapacity = 4096) {
  std::vector<char> data(static_cast<std::size_t>(dataCapacity)), header(static_cast<std::size_t>(headerCapacity));
  PacketFormat::Written written;
  Texts texts;
  texts.rendered = PacketFormat::displayFormat(mode, protocol, packet.data(), static_cast<LONG>(packet.size()), data.data(),
                                               dataCapacity, header.data(), headerCapacity, 1, &written) != nullptr;
  texts.header.assign(header.data(), static_cast<std::size_t>(written.header));
  texts.data.assign(data.data(), static_cast<std::size_t>(written.data));
  return texts;
}

const std::string kTcpHeaderHex =
    "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D \r\n"
    "46 0F 00 39 12 13 14 15 16 06 18 19 1A 1B 1C 1D \r\n"
    "1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D \r\n"
    "2E 2F 30 31 32 33 34 35 ";

}  // namespace

TEST(PacketFormat, HexSplitsTcpAtFixedOffsetsWhateverItsOptionsWithBreaksAfterTheLinkHeaderAndEvery16Bytes) {
  // IHL 6 (options): the split stays at 54 bytes, so the last option bytes open the data text.
  auto packet = Packet(54 + 17, 6, 40 + 17);
  packet[14] = 0x46;
  Texts texts = Render(PacketFormat::kHex, "TCP", packet);
  ASSERT_TRUE(texts.rendered);
  EXPECT_EQ(texts.header, kTcpHeaderHex);
  EXPECT_EQ(texts.data, "36 37 38 39 3A 3B 3C 3D 3E 3F 40 41 42 43 44 45 \r\n46 ");
  // 16 payload bytes end with the break.
  packet = Packet(54 + 16, 6, 40 + 16);
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", packet).data, "36 37 38 39 3A 3B 3C 3D 3E 3F 40 41 42 43 44 45 \r\n");
}

TEST(PacketFormat, DecimalAndTextModesAndTheOtherProtocolsSplit) {
  auto udp = Packet(42 + 4, 17, 28 + 4);
  udp[42] = 7, udp[43] = 255, udp[44] = 100, udp[45] = 0;
  Texts texts = Render(PacketFormat::kDecimal, "UDP", udp);
  EXPECT_EQ(texts.data, "007 255 100 000 ");
  EXPECT_EQ(texts.header.substr(0, 58), "000 001 002 003 004 005 006 007 008 009 010 011 012 013 \r\n");
  EXPECT_EQ(texts.header.size(), 58u + 16 * 4 + 2 + 12 * 4);

  // Text: the link header between its literals, a zero byte as "0", control characters kept.
  auto text = Packet(42 + 5, 17, 28 + 5);
  const char payload[] = {'A', 0, 'B', '\r', '\n'};
  std::copy(payload, payload + 5, text.begin() + 42);
  texts = Render(PacketFormat::kText, "UDP", text);
  EXPECT_EQ(texts.data, std::string("A0B\r\n"));
  EXPECT_EQ(texts.header.substr(0, 13 + 14 + 4), std::string("INTERFACE->( 0\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0B\x0C\r )\r\n"));
  EXPECT_EQ(texts.header.size(), 13u + 14 + 4 + 28);

  // IGMP is "IP": only the 20-byte IP header goes to the header text, its own header is data.
  const auto igmp = Packet(34 + 8, 2, 20 + 8);
  texts = Render(PacketFormat::kHex, "IP", igmp);
  EXPECT_EQ(texts.header.size(), 14u * 3 + 2 + 16 * 3 + 2 + 4 * 3);
  EXPECT_EQ(texts.data, "22 23 24 25 26 27 28 29 ");
}

TEST(PacketFormat, AnIpv6PacketSplitsAfterItsExtensionAndUpperHeadersWhateverTheProtocolNameSays) {
  // A hop-by-hop header of 8 bytes, then UDP with 5 bytes of payload, and an Ethernet trailer.
  auto udp = capture_test::BuildFrame6({.extensions = {{0, std::vector<std::uint8_t>(8, 0)}}, .payload = "hello"});
  const std::size_t headers = 14 + 40 + 8 + 8;
  ASSERT_EQ(udp.size(), headers + 5);
  EXPECT_STREQ(PacketFormat::ProtocolOf(udp.data(), static_cast<LONG>(udp.size())), "UDP6");
  EXPECT_EQ(PacketFormat::IpTotalLength(udp.data(), static_cast<LONG>(udp.size())), 40 + 8 + 8 + 5);
  for (const char* protocol : {"UDP6", "UDP", "TCP", "IP"}) {
    SCOPED_TRACE(protocol);
    const Texts texts = Render(PacketFormat::kText, protocol, udp);
    EXPECT_EQ(texts.data, "hello");
    EXPECT_EQ(texts.header.size(), 13u + headers + 4);
  }
  // Without a payload the headers end at the payload length: the trailer is not shown.
  auto bare = capture_test::BuildFrame6({.nextHeader = 58});
  bare.resize(bare.size() + 6, 0xEE);
  const Texts texts = Render(PacketFormat::kHex, "ICMP6", bare);
  EXPECT_EQ(texts.data, "");
  EXPECT_EQ(texts.header.find("EE"), std::string::npos);
  EXPECT_STREQ(PacketFormat::ProtocolOf(bare.data(), static_cast<LONG>(bare.size())), "ICMP6");
}

TEST(PacketFormat, CapacityStopsASectionBeforeAByteWhoseTextWouldNotFit) {
  const auto packet = Packet(54 + 17, 6, 40 + 17);
  // The link header's line is 44 characters with its break: 43 leave out the 14th byte.
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", packet, 4096, 44).header, kTcpHeaderHex.substr(0, 44));
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", packet, 4096, 43).header, kTcpHeaderHex.substr(0, 39));
  // The 16th data byte needs 5 characters with its break.
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", packet, 49).data.size(), 45u);
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", packet, 50).data.size(), 50u);
  // The opening literal comes with the first byte: 13 characters hold nothing.
  EXPECT_EQ(Render(PacketFormat::kText, "TCP", packet, 3, 13).header, "");
  EXPECT_EQ(Render(PacketFormat::kText, "TCP", packet, 3, 13).data, "678");
}

TEST(PacketFormat, OnlyModesOneToThreeRenderAndNothingIsReadBeyondTheBytesGiven) {
  const auto packet = Packet(60, 6, 60);
  EXPECT_FALSE(Render(0, "TCP", packet).rendered);
  EXPECT_FALSE(Render(4, "TCP", packet).rendered);
  EXPECT_FALSE(Render(PacketFormat::kHex, "TCP", std::vector<std::uint8_t>{}).rendered);

  // A total length of 1500 over 60 bytes, in each mode: the 6 bytes there are shown.
  const auto lying = Packet(60, 6, 1500);
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", lying).data, "36 37 38 39 3A 3B ");
  EXPECT_EQ(Render(PacketFormat::kDecimal, "TCP", lying).data, "054 055 056 057 058 059 ");
  EXPECT_EQ(Render(PacketFormat::kText, "TCP", lying).data, "6789:;");
  // Shorter than the headers: what there is of the header, no data.
  const auto stub = Packet(10, 6, 1500);
  for (int mode : {PacketFormat::kHex, PacketFormat::kDecimal, PacketFormat::kText}) {
    const Texts texts = Render(mode, "TCP", stub);
    EXPECT_TRUE(texts.rendered);
    EXPECT_EQ(texts.data, "");
  }
  EXPECT_EQ(Render(PacketFormat::kHex, "TCP", stub).header, "00 01 02 03 04 05 06 07 08 09 ");
}

TEST(PacketFormat, FeedRangeCutsAtToOrDropsTheLastCharacterAndStartsAtFrom) {
  LONG begin = -1, end = -1;
  DlgPelorinView::ApplyRange(300, 100, 0, &begin, &end);  // hex: the third line, the 33rd byte
  EXPECT_EQ(begin, 100);
  EXPECT_EQ(end, 300);
  DlgPelorinView::ApplyRange(150, 0, 200, &begin, &end);  // shorter than "To": the last character goes
  EXPECT_EQ(begin, 0);
  EXPECT_EQ(end, 149);
  DlgPelorinView::ApplyRange(300, 10, 200, &begin, &end);
  EXPECT_EQ(begin, 10);
  EXPECT_EQ(end, 200);
  DlgPelorinView::ApplyRange(150, 0, 0, &begin, &end);
  EXPECT_EQ(end - begin, 150);
  DlgPelorinView::ApplyRange(150, 150, 0, &begin, &end);
  EXPECT_EQ(end - begin, 0);
}

TEST(PacketDiff, RunsMarkDifferencesAndWhatLiesPastTheBaseAtTheSameRenderedOffset) {
  std::vector<DiffRun> runs;
  const std::string base = "01 02 03 ";
  PacketDiff::Get(base.data(), 9, base.data(), 9, 0, true, runs);
  EXPECT_TRUE(runs.empty());
  // Only the last byte differs: one red run from its first differing digit.
  PacketDiff::Get(base.data(), 9, "01 02 04 ", 9, 0, true, runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].start, 7u);
  EXPECT_EQ(runs[0].colour, PacketDiff::kDiffers);

  // Longer than the base: the character at the base's length red, the rest blue; a blank there
  // is passed over in hex mode.
  PacketDiff::Get("01 02 ", 6, "01 02 03 04 ", 12, 0, true, runs);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].start, 6u);
  EXPECT_EQ(runs[0].end, 7u);
  EXPECT_EQ(runs[1].start, 7u);
  EXPECT_EQ(runs[1].end, 12u);
  EXPECT_EQ(runs[1].colour, PacketDiff::kBeyondBase);
  PacketDiff::Get("01 02", 5, "01 02 03 ", 9, 0, true, runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].start, 6u);
  EXPECT_EQ(runs[0].colour, PacketDiff::kBeyondBase);

  // Blanks and breaks start no run in hex mode, and do in text mode.
  PacketDiff::Get("AB\r\nCD", 6, "AB \nCD", 6, 0, true, runs);
  EXPECT_TRUE(runs.empty());
  PacketDiff::Get("AB\r\nCD", 6, "AB \nCD", 6, 0, false, runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].start, 2u);
  EXPECT_EQ(runs[0].end, 3u);

  // Shown from rendered offset 4: "XQZ" meets the base's "XYZ" there, not its first characters.
  PacketDiff::Get("AAAAXYZ", 7, "XQZ", 3, 4, false, runs);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].start, 1u);
  EXPECT_EQ(runs[0].end, 2u);
}

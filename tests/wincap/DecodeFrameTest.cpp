#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "wincap/DecodedPacket.h"
#include "wincap/PayloadTrim.h"

namespace {

constexpr std::uint32_t kIp = 14;

// Ethernet header, a 20-byte IPv4 header with the given protocol and total length, then
// `after` bytes counting up from 0x40 (transport header and payload). The vector holds exactly
// the captured bytes, so a read past them is caught by the address sanitizer.
std::vector<std::uint8_t> Frame(std::uint8_t protocol, std::uint16_t total, std::size_t after) {
  std::vector<std::uint8_t> f(14 + 20 + after);
  f[12] = 0x08;
  f[13] = 0x00;
  f[14] = 0x45;
  f[16] = static_cast<std::uint8_t>(total >> 8);
  f[17] = static_cast<std::uint8_t>(total);
  f[23] = protocol;
  const std::uint8_t src[] = {10, 0, 0, 1}, dst[] = {192, 168, 200, 254};
  std::memcpy(&f[26], src, 4);
  std::memcpy(&f[30], dst, 4);
  for (std::size_t i = 0; i < after; ++i) f[34 + i] = static_cast<std::uint8_t>(0x40 + i);
  return f;
}

void SetPorts(std::vector<std::uint8_t>& f, std::uint16_t from, std::uint16_t to) {
  f[34] = static_cast<std::uint8_t>(from >> 8);
  f[35] = static_cast<std::uint8_t>(from);
  f[36] = static_cast<std::uint8_t>(to >> 8);
  f[37] = static_cast<std::uint8_t>(to);
}

DecodedPacket Decode(const std::vector<std::uint8_t>& f) {
  return DecodeFrame(f.data(), static_cast<std::uint32_t>(f.size()), kIp);
}

}  // namespace

TEST(DecodeFrame, EachProtocolUsesItsFixedHeaderLength) {
  auto tcp = Frame(6, 60, 40);
  SetPorts(tcp, 1025, 80);
  DecodedPacket d = Decode(tcp);
  EXPECT_EQ(d.typeText, "TCP");
  EXPECT_EQ(d.typeCode, 3);
  EXPECT_EQ(d.size, 60);
  EXPECT_EQ(d.sizeText, "60");
  EXPECT_EQ(d.sourceText, "10.0.0.1");
  EXPECT_EQ(d.destinationText, "192.168.200.254");
  EXPECT_EQ(d.source, 0x0100000Au);  // network byte order as it lies in the header
  EXPECT_EQ(d.sourcePort, 1025);
  EXPECT_EQ(d.sourcePortText, "1025");
  EXPECT_EQ(d.destinationPortText, "80");
  EXPECT_EQ(d.payload, tcp.data() + 54);
  EXPECT_EQ(d.payloadLength, 20);

  auto udp = Frame(17, 40, 20);
  SetPorts(udp, 53, 65535);
  d = Decode(udp);
  EXPECT_EQ(d.typeText, "UDP");
  EXPECT_EQ(d.typeCode, 4);
  EXPECT_EQ(d.destinationPortText, "65535");
  EXPECT_EQ(d.payload, udp.data() + 42);
  EXPECT_EQ(d.payloadLength, 12);

  // ICMP and other protocols have no ports, whatever bytes lie where ports would be.
  auto icmp = Frame(1, 84, 64);
  d = Decode(icmp);
  EXPECT_EQ(d.typeText, "ICMP");
  EXPECT_EQ(d.typeCode, 1);
  EXPECT_EQ(d.sourcePort, 0);
  EXPECT_EQ(d.sourcePortText, "");
  EXPECT_EQ(d.destinationPortText, "");
  EXPECT_EQ(d.payload, icmp.data() + 42);
  EXPECT_EQ(d.payloadLength, 56);

  auto igmp = Frame(2, 28, 8);
  d = Decode(igmp);
  EXPECT_EQ(d.typeText, "IP");
  EXPECT_EQ(d.typeCode, 2);
  EXPECT_EQ(d.sourcePortText, "");
  EXPECT_EQ(d.payload, igmp.data() + 34);
  EXPECT_EQ(d.payloadLength, 8);

  // The protocol byte alone decides; DecodeFrameAs decodes as told.
  DecodeFrameAs(4, igmp.data(), static_cast<std::uint32_t>(igmp.size()), kIp, d);
  EXPECT_EQ(d.typeText, "UDP");
  EXPECT_EQ(d.sourcePort, 0x4041);
}

TEST(DecodeFrame, HeaderOptionsDoNotMoveTheFixedOffsets) {
  // IHL 6: four option bytes sit where a fixed-offset decoder reads the ports.
  auto f = Frame(6, 64, 44);
  f[14] = 0x46;
  const DecodedPacket d = Decode(f);
  EXPECT_EQ(d.sourcePort, 0x4041);
  EXPECT_EQ(d.destinationPort, 0x4243);
  EXPECT_EQ(d.payload, f.data() + 54);
  EXPECT_EQ(d.payloadLength, 24);
}

TEST(DecodeFrame, ShortFramesShowOnlyWhatWasCaptured) {
  // 14 + 6 bytes: the size field is there, the protocol byte and addresses are not.
  auto f = Frame(6, 1500, 0);
  f.resize(20);
  DecodedPacket d = Decode(f);
  EXPECT_EQ(d.typeText, "IP");
  EXPECT_EQ(d.size, 1500);
  EXPECT_EQ(d.sizeText, "1500");
  EXPECT_EQ(d.source, 0u);
  EXPECT_EQ(d.sourceText, "");
  EXPECT_EQ(d.destinationText, "");
  EXPECT_EQ(d.payload, nullptr);
  EXPECT_EQ(d.payloadLength, 0);

  // Addresses captured, ports not; then one port only.
  f = Frame(6, 1500, 0);
  d = Decode(f);
  EXPECT_EQ(d.typeText, "TCP");
  EXPECT_EQ(d.destinationText, "192.168.200.254");
  EXPECT_EQ(d.sourcePortText, "");
  EXPECT_EQ(d.payload, nullptr);
  f = Frame(17, 1500, 4);
  SetPorts(f, 1234, 0);
  f.resize(37);
  d = Decode(f);
  EXPECT_EQ(d.sourcePortText, "1234");
  EXPECT_EQ(d.destinationPortText, "");

  // Nothing at all, or too little for even the size field.
  d = DecodeFrame(nullptr, 100, kIp);
  EXPECT_EQ(d.typeText, "IP");
  EXPECT_EQ(d.sizeText, "");
  EXPECT_EQ(d.payload, nullptr);
  const std::uint8_t tiny[15] = {};
  d = DecodeFrame(tiny, sizeof tiny, kIp);
  EXPECT_EQ(d.size, 0);
  EXPECT_EQ(d.payload, nullptr);
  // An IP offset beyond the frame reads nothing and does not wrap.
  d = DecodeFrame(tiny, sizeof tiny, 0xFFFFFFF0u);
  EXPECT_EQ(d.sizeText, "");
  EXPECT_EQ(d.payload, nullptr);
}

TEST(DecodeFrame, PayloadIsBoundedByTotalLengthAndByCapture) {
  // Total length claims 1500 bytes, 100 were captured: the payload is what was captured.
  auto f = Frame(6, 1500, 66);
  DecodedPacket d = Decode(f);
  EXPECT_EQ(d.size, 1500);
  EXPECT_EQ(d.payload, f.data() + 54);
  EXPECT_EQ(d.payloadLength, 46);
  // Captured exactly up to the end of the fixed headers: no payload.
  f.resize(54);
  EXPECT_EQ(Decode(f).payload, nullptr);

  // Ethernet padding after a short datagram is not payload.
  f = Frame(17, 30, 26);  // a 60-byte frame
  d = Decode(f);
  EXPECT_EQ(d.payloadLength, 2);
  f[17] = 28;
  EXPECT_EQ(Decode(f).payload, nullptr);
  // A total length shorter than the fixed headers gives no payload.
  f = Frame(6, 30, 40);
  EXPECT_EQ(Decode(f).payload, nullptr);
  EXPECT_EQ(Decode(f).typeText, "TCP");
}

TEST(DecodeFrame, EveryFieldIsOverwrittenByTheNextFrame) {
  auto full = Frame(6, 60, 40);
  SetPorts(full, 1025, 80);
  DecodedPacket d;
  DecodeFrame(full.data(), static_cast<std::uint32_t>(full.size()), kIp, d);
  ASSERT_NE(d.payload, nullptr);
  std::vector<std::uint8_t> cut(full.begin(), full.begin() + 20);
  DecodeFrame(cut.data(), static_cast<std::uint32_t>(cut.size()), kIp, d);
  EXPECT_EQ(d.typeText, "IP");
  EXPECT_EQ(d.sourceText, "");
  EXPECT_EQ(d.destination, 0u);
  EXPECT_EQ(d.sourcePort, 0);
  EXPECT_EQ(d.destinationPortText, "");
  EXPECT_EQ(d.payload, nullptr);
  EXPECT_EQ(d.payloadLength, 0);
}

namespace {

struct Trimmed {
  PayloadTrim result;
  std::vector<std::uint8_t> frame;
};

// A TCP frame with a payload of `payload` bytes (byte i of the payload is i & 0xFF), of which the
// first `captured` were captured, trimmed to (start, end).
Trimmed Trim(std::size_t payload, std::size_t captured, std::uint32_t start, std::uint32_t end,
             std::size_t padding = 0) {
  Trimmed t;
  t.frame = Frame(6, static_cast<std::uint16_t>(40 + payload), 20 + captured + padding);
  for (std::size_t i = 0; i < captured; ++i) t.frame[54 + i] = static_cast<std::uint8_t>(i);
  const DecodedPacket d = Decode(t.frame);
  const auto offset = static_cast<std::uint32_t>(d.payload ? d.payload - t.frame.data() : 0);
  t.result = TrimPayloadToRange(t.frame.data(), static_cast<std::uint32_t>(t.frame.size()), kIp,
                                offset, d.payloadLength, start, end);
  return t;
}

std::uint16_t TotalLength(const std::vector<std::uint8_t>& f) {
  return static_cast<std::uint16_t>(f[16] << 8 | f[17]);
}

}  // namespace

TEST(PayloadTrim, RangesThatLeaveThePacketAlone) {
  for (auto [start, end] : {std::pair<std::uint32_t, std::uint32_t>{0, 0}, {10, 5}, {5, 5},
                            {100, 0}, {150, 200}, {0xFFFFFFFFu, 0}}) {
    const Trimmed t = Trim(100, 100, start, end);
    EXPECT_FALSE(t.result.trimmed) << start << "," << end;
    EXPECT_EQ(t.result.frameLength, t.frame.size());
    EXPECT_EQ(TotalLength(t.frame), 140);
    EXPECT_EQ(t.frame[54], 0);
  }
  // No payload at all.
  const Trimmed none = Trim(0, 0, 0, 10);
  EXPECT_FALSE(none.result.trimmed);
}

TEST(PayloadTrim, KeepsTheRangeAndRewritesTheTotalLength) {
  // (0, 200) on a 100-byte payload keeps it whole.
  Trimmed t = Trim(100, 100, 0, 200);
  EXPECT_EQ(t.result.frameLength, 154u);
  EXPECT_EQ(TotalLength(t.frame), 140);
  EXPECT_EQ(t.frame[54 + 99], 99);

  // (100, 0) keeps the payload from byte 100 to its end.
  t = Trim(300, 300, 100, 0);
  EXPECT_TRUE(t.result.trimmed);
  EXPECT_EQ(t.result.size, 240);
  EXPECT_EQ(TotalLength(t.frame), 240);
  EXPECT_EQ(t.result.frameLength, 14u + 240u);
  EXPECT_EQ(t.frame[54], 100);
  EXPECT_EQ(t.frame[54 + 199], static_cast<std::uint8_t>(299));

  // (10, 20) keeps ten bytes; the padding after the packet is dropped from the frame too.
  t = Trim(100, 100, 10, 20, 30);
  EXPECT_EQ(TotalLength(t.frame), 50);
  EXPECT_EQ(t.result.frameLength, 64u);
  EXPECT_EQ(t.frame[54], 10);
  EXPECT_EQ(t.frame[63], 19);
}

TEST(PayloadTrim, ShortCaptureNeverGrowsTheFrame) {
  // 1000 payload bytes announced, 46 captured: (0, 200) keeps 200 announced bytes, of which the
  // 46 captured remain; the frame length must stay within the captured bytes.
  Trimmed t = Trim(1000, 46, 0, 200);
  EXPECT_TRUE(t.result.trimmed);
  EXPECT_EQ(TotalLength(t.frame), 240);
  EXPECT_EQ(t.result.frameLength, 100u);
  EXPECT_LE(t.result.frameLength, t.frame.size());

  // The range starts inside the captured part and ends beyond it.
  t = Trim(1000, 46, 40, 60);
  EXPECT_EQ(TotalLength(t.frame), 60);
  EXPECT_EQ(t.result.frameLength, 54u + 6u);
  EXPECT_EQ(t.frame[54], 40);

  // The range starts after what was captured: no bytes left, the header still says 20.
  t = Trim(1000, 46, 500, 520);
  EXPECT_EQ(TotalLength(t.frame), 60);
  EXPECT_EQ(t.result.frameLength, 54u);
}

namespace {

// Ethernet + IPv6 (2001:db8::1 -> ::1) + an 8-byte hop-by-hop header + TCP with a 32-byte header
// (data offset 8) from port 1025 to 80, then payload bytes counting from 0 and `padding` bytes.
std::vector<std::uint8_t> Frame6(std::size_t payload, std::size_t padding = 0) {
  std::vector<std::uint8_t> f(94 + payload + padding);
  const std::size_t length = 8 + 32 + payload;
  for (auto [at, value] : {std::pair<int, int>{12, 0x86}, {13, 0xDD}, {14, 0x60}, {18, int(length >> 8)},
                           {19, int(length & 0xFF)}, {22, 0x20}, {23, 0x01}, {24, 0x0d}, {25, 0xb8}, {37, 1},
                           {53, 1}, {54, 6}, {62, 0x04}, {63, 0x01}, {65, 80}, {74, 0x80}})
    f[at] = static_cast<std::uint8_t>(value);
  for (std::size_t i = 0; i < payload; ++i) f[94 + i] = static_cast<std::uint8_t>(i);
  return f;
}

}  // namespace

TEST(DecodeFrame, Ipv6PacketsAreWalkedToTheirUpperHeaderAndTrimmedByTheirPayloadLength) {
  const auto f = Frame6(10, 6);  // the Ethernet padding is not payload
  DecodedPacket d = Decode(f);
  EXPECT_EQ(d.typeText, "TCP6");
  EXPECT_EQ(d.sizeText, "90");
  EXPECT_EQ(d.sourceText, "2001:db8::1");
  EXPECT_EQ(d.destinationPortText, "80");
  ASSERT_EQ(d.payload, f.data() + 94);
  EXPECT_EQ(d.payloadLength, 10);
  // A tagged frame keeps the IPv4 reading at the fixed offsets, as every tagged frame does.
  auto tagged = f;
  tagged.insert(tagged.begin() + 12, {0x81, 0x00, 0x00, 0x05});
  EXPECT_EQ(Decode(tagged).typeText, "IP");

  // A range trims the payload and rewrites the payload length, past the extension header.
  auto t = Frame6(100);
  d = Decode(t);
  const PayloadTrim trim = TrimPayloadToRange(t.data(), static_cast<std::uint32_t>(t.size()), kIp,
                                              static_cast<std::uint32_t>(d.payload - t.data()), d.payloadLength, 10,
                                              20, true);
  EXPECT_TRUE(trim.trimmed);
  EXPECT_EQ(t[18] << 8 | t[19], 8 + 32 + 10);
  EXPECT_EQ(trim.frameLength, 94u + 10u);
  EXPECT_EQ(t[94], 10);
}

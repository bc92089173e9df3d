#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/AddressText.h"
#include "controls/packets/PacketFilter.h"
#include "wincap/DecodedPacket.h"

namespace {

// A decoded TCP packet 10.0.0.1:1000 -> 10.0.0.2:80; the payload points into `bytes`.
struct Packet {
  DecodedPacket decoded;
  std::string bytes;
  explicit Packet(std::string payload = {}, std::int32_t size = 100) : bytes(std::move(payload)) {
    decoded.typeCode = 3;
    decoded.size = size;
    decoded.source = InetAddr("10.0.0.1");
    decoded.destination = InetAddr("10.0.0.2");
    decoded.sourcePort = 1000;
    decoded.destinationPort = 80;
    decoded.payload = bytes.empty() ? nullptr : reinterpret_cast<const std::uint8_t*>(bytes.data());
    decoded.payloadLength = static_cast<std::int32_t>(bytes.size());
  }
};

bool Passes(const PacketFilterSet& set, const DecodedPacket& packet) {
  PacketFilter filter;
  EXPECT_TRUE(filter.Load(set));
  return filter.Passes(packet);
}

bool PassesSize(std::optional<std::int32_t> min, std::optional<std::int32_t> max, std::int32_t size) {
  PacketFilterSet set;
  set.minSize = min;
  set.maxSize = max;
  return Passes(set, Packet({}, size).decoded);
}

bool Contains(const std::string& text, const std::string& payload) {
  PacketFilterSet set;
  set.mustContain = text;
  return Passes(set, Packet(payload).decoded);
}

}  // namespace

TEST(PacketFilterMatch, SizeLimits) {
  EXPECT_FALSE(PassesSize(100, std::nullopt, 99));
  EXPECT_TRUE(PassesSize(100, std::nullopt, 100));
  EXPECT_FALSE(PassesSize(std::nullopt, 60, 61));
  EXPECT_TRUE(PassesSize(60, 100, 100));
  // Maximum below minimum: exactly one of the two sizes.
  EXPECT_TRUE(PassesSize(100, 60, 60));
  EXPECT_TRUE(PassesSize(100, 60, 100));
  for (std::int32_t size : {59, 80, 101}) EXPECT_FALSE(PassesSize(100, 60, size)) << size;
  // 0 and below do not filter; a maximum below an unset minimum still counts on its own.
  for (std::int32_t size : {0, 65535}) EXPECT_TRUE(PassesSize(0, 0, size));
  EXPECT_TRUE(PassesSize(-5, -1, 500));
  EXPECT_FALSE(PassesSize(-3, 40, 41));
}

TEST(PacketFilterMatch, ProtocolFlagsAndEitherEnd) {
  // Each flag alone lets through its own type codes ("Other": all but 1, 3, 4); none, nothing.
  const std::vector<std::int32_t> codes = {0, 1, 2, 3, 4, 17};
  const std::pair<bool PacketFilterSet::*, std::vector<bool>> cases[] = {
      {nullptr, {0, 0, 0, 0, 0, 0}},
      {&PacketFilterSet::tcp, {0, 0, 0, 1, 0, 0}},
      {&PacketFilterSet::udp, {0, 0, 0, 0, 1, 0}},
      {&PacketFilterSet::icmp, {0, 1, 0, 0, 0, 0}},
      {&PacketFilterSet::other, {1, 0, 1, 0, 0, 1}}};
  Packet packet;
  for (const auto& [flag, passing] : cases) {
    PacketFilterSet set;
    set.tcp = set.udp = set.icmp = set.other = false;
    if (flag) set.*flag = true;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      packet.decoded.typeCode = codes[i];
      EXPECT_EQ(Passes(set, packet.decoded), passing[i]) << codes[i];
    }
  }

  PacketFilterSet ends;
  ends.eitherAddress = InetAddr("10.0.0.5");
  Packet from, to, neither;
  from.decoded.source = to.decoded.destination = InetAddr("10.0.0.5");
  neither.decoded.destination = InetAddr("5.0.0.10");  // byte order matters
  EXPECT_TRUE(Passes(ends, from.decoded));
  EXPECT_TRUE(Passes(ends, to.decoded));
  EXPECT_FALSE(Passes(ends, neither.decoded));
  PacketFilterSet ports;
  for (std::int32_t port : {80, 1000, 0, -80}) {  // 0 and below are no port
    ports.eitherPort = port;
    EXPECT_TRUE(Passes(ports, Packet().decoded)) << port;
  }
  ports.eitherPort = 443;
  EXPECT_FALSE(Passes(ports, Packet().decoded));
}

TEST(PacketFilterMatch, EachListTestsItsOwnField) {
  // The packet is 10.0.0.1:1000 -> 10.0.0.2:80. Its value last among 50 entries: the must-be
  // list passes, the must-not-be list fails. The opposite end's value instead must not count.
  const std::uint32_t source = InetAddr("10.0.0.1"), destination = InetAddr("10.0.0.2");
  const struct {
    FilterList list;
    std::uint32_t own, opposite;
    bool mustBe;
  } cases[] = {
      {FilterList::SourceIpMustBe, source, destination, true},
      {FilterList::SourceIpMustNotBe, source, destination, false},
      {FilterList::SourcePortMustBe, 1000, 80, true},
      {FilterList::SourcePortMustNotBe, 1000, 80, false},
      {FilterList::DestIpMustBe, destination, source, true},
      {FilterList::DestIpMustNotBe, destination, source, false},
      {FilterList::DestPortMustBe, 80, 1000, true},
      {FilterList::DestPortMustNotBe, 80, 1000, false},
  };
  const Packet packet;
  for (const auto& c : cases) {
    SCOPED_TRACE(PacketFilterSet::ListName(c.list));
    PacketFilterSet set;
    for (std::uint32_t i = 0; i < 49; ++i) set.List(c.list).push_back(0x01010101u + i);
    set.List(c.list).push_back(c.own);
    EXPECT_EQ(Passes(set, packet.decoded), c.mustBe);
    set.List(c.list).back() = c.opposite;
    EXPECT_EQ(Passes(set, packet.decoded), !c.mustBe);
    set.List(c.list).push_back(c.own);  // a 51st entry is never used
    EXPECT_EQ(Passes(set, packet.decoded), !c.mustBe);
  }
}

TEST(PacketFilterMatch, TextsAtEveryPositionOfThePayload) {
  for (const char* payload : {"GETxx", "xGETx", "xxGET", "GET"}) {
    EXPECT_TRUE(Contains("GET", payload)) << payload;
    PacketFilterSet set;
    set.mustNotContain = "GET";
    EXPECT_FALSE(Passes(set, Packet(payload).decoded)) << payload;
  }
  for (const char* payload : {"GE", "get", "xxGEx", "xGxExT"}) EXPECT_FALSE(Contains("GET", payload)) << payload;

  // Without payload must contain fails and must not contain passes.
  PacketFilterSet both;
  both.mustContain = "GET";
  PacketFilter filter;
  ASSERT_TRUE(filter.Load(both));
  EXPECT_FALSE(filter.Passes(Packet().decoded));
  both.mustContain.clear();
  both.mustNotContain = "GET";
  EXPECT_TRUE(Passes(both, Packet().decoded));

  // The stated payload length bounds the search, whatever lies beyond it.
  Packet cut("abcdGET");
  cut.decoded.payloadLength = 6;
  EXPECT_FALSE(filter.Passes(cut.decoded));
  cut.decoded.payloadLength = -4;
  EXPECT_FALSE(filter.Passes(cut.decoded));

  // A text longer than the payload, and one exactly as long.
  EXPECT_FALSE(Contains(std::string(30, 'a'), std::string(29, 'a')));
  EXPECT_TRUE(Contains(std::string(30, 'a'), std::string(30, 'a')));
}

TEST(PacketFilterMatch, TextSearchAgreesWithAPlainSearch) {
  // Payloads over two letters (and sometimes zero bytes) make the search's anchor byte turn up
  // everywhere, so both its quick path and its per-byte scan are taken; a plain search decides
  // what must be found.
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string text(1 + random() % 30, 'a'), payload(random() % 200, 'a');
    for (char& c : text) c = static_cast<char>('a' + random() % 2);
    for (char& c : payload) c = round % 3 ? static_cast<char>('a' + random() % 2) : "ab\0"[random() % 3];
    if (round % 4 == 0 && payload.size() >= text.size()) payload.replace(payload.size() - text.size(), text.size(), text);
    PayloadPattern pattern;
    ASSERT_TRUE(pattern.Set(text));
    ASSERT_EQ(pattern.FoundIn(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()),
              payload.find(text) != std::string::npos)
        << text << " in " << payload;
  }
}

TEST(PacketFilterMatch, AllTestsTogetherOnADecodedFrame) {
  // An Ethernet + IPv4 + TCP frame 192.168.1.7:8080 -> 192.168.1.9:80 as the capture thread
  // decodes it, against a set where every kind of test is in force.
  std::vector<std::uint8_t> frame(14 + 40 + 12, 0);
  std::uint8_t* ip = frame.data() + 14;
  ip[0] = 0x45, ip[3] = 52, ip[9] = 6;
  const std::uint8_t ends[8] = {192, 168, 1, 7, 192, 168, 1, 9};
  std::memcpy(ip + 12, ends, 8);
  ip[20] = 0x1F, ip[21] = 0x90, ip[23] = 80;
  std::memcpy(ip + 40, "HTTP/1.1 200", 12);
  const DecodedPacket packet = DecodeFrame(frame.data(), static_cast<std::uint32_t>(frame.size()), 14);

  PacketFilterSet set;
  set.minSize = set.maxSize = 52;
  set.udp = set.icmp = set.other = false;
  set.eitherAddress = InetAddr("192.168.1.9");
  set.eitherPort = 8080;
  set.List(FilterList::SourceIpMustBe) = {InetAddr("192.168.1.7")};
  set.List(FilterList::DestIpMustNotBe) = {InetAddr("192.168.1.7")};
  set.List(FilterList::DestPortMustBe) = {80};
  set.mustContain = "200";
  set.mustNotContain = "404";
  PacketFilter filter;
  ASSERT_TRUE(filter.Load(set));
  EXPECT_TRUE(filter.Passes(packet));
  set.mustNotContain = "HTTP";
  EXPECT_FALSE(Passes(set, packet));

  // A text too long for the slot is refused and the loaded filters stay; clearing drops them.
  PacketFilterSet tooLong;
  tooLong.mustContain = std::string(31, 'x');
  EXPECT_FALSE(filter.Load(tooLong));
  EXPECT_FALSE(filter.Passes(DecodedPacket{}));
  filter.Clear();
  EXPECT_TRUE(filter.Passes(DecodedPacket{}));
}

TEST(PacketFilterMatch, Ipv6EntriesTestIpv6PacketsAndIpv4EntriesIpv4Ones) {
  // 2001:db8::1:1000 -> 2001:db8::2:80; its 32-bit addresses are 0, which no IPv4 entry may match.
  Packet packet6;
  packet6.decoded.ipv6 = true;
  packet6.decoded.source = packet6.decoded.destination = 0;
  packet6.decoded.source6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  packet6.decoded.destination6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  const auto& source6 = packet6.decoded.source6;
  const auto& destination6 = packet6.decoded.destination6;
  const Packet packet4;
  const struct {
    FilterList list;
    PacketFilterSet::Address6 own, opposite;
    bool mustBe;
  } cases[] = {
      {FilterList::SourceIpMustBe, source6, destination6, true},
      {FilterList::SourceIpMustNotBe, source6, destination6, false},
      {FilterList::DestIpMustBe, destination6, source6, true},
      {FilterList::DestIpMustNotBe, destination6, source6, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(PacketFilterSet::ListName(c.list));
    PacketFilterSet set;
    for (std::uint8_t i = 0; i < 49; ++i) set.List6(c.list).push_back({0xfe, 0x80, i});
    set.List6(c.list).push_back(c.own);
    EXPECT_EQ(Passes(set, packet6.decoded), c.mustBe);
    // A list of IPv6 entries holds no IPv4 address: a must-be list lets no IPv4 packet through.
    EXPECT_EQ(Passes(set, packet4.decoded), !c.mustBe);
    set.List6(c.list).back() = c.opposite;
    EXPECT_EQ(Passes(set, packet6.decoded), !c.mustBe);
    // IPv4 entries, 0.0.0.0 among them, hold no IPv6 address.
    set.List6(c.list).clear();
    set.List(c.list) = {0, InetAddr("10.0.0.1"), InetAddr("10.0.0.2")};
    EXPECT_EQ(Passes(set, packet6.decoded), !c.mustBe);
    EXPECT_EQ(Passes(set, packet4.decoded), c.mustBe);
  }
  PacketFilterSet ports;
  ports.List(FilterList::DestPortMustBe) = {80};
  EXPECT_TRUE(Passes(ports, packet6.decoded));
  ports.List(FilterList::DestPortMustBe) = {443};
  EXPECT_FALSE(Passes(ports, packet6.decoded));

  PacketFilterSet ends;
  ends.eitherAddress6 = destination6;
  EXPECT_TRUE(Passes(ends, packet6.decoded));
  EXPECT_FALSE(Passes(ends, packet4.decoded));
  ends.eitherAddress6 = PacketFilterSet::Address6{0xfe, 0x80};
  EXPECT_FALSE(Passes(ends, packet6.decoded));
  ends.eitherAddress6.reset();
  ends.eitherAddress = 0;
  EXPECT_FALSE(Passes(ends, packet6.decoded));
}

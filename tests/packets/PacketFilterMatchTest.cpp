#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/AddressText.h"
#include "controls/packets/PacketFilter.h"
#include "wincap/DecodedPacket.h"

namespace {

// A decoded TCP packet 10.0.0.1:1000 -> 10.0.0.2:80 of the given size, payload in `bytes`.
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
    Point();
  }
  // The payload pointer follows the bytes when they change.
  void Point() {
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

}  // namespace

TEST(PacketFilterMatch, NothingLoadedOrEmptySetPassesEverything) {
  Packet packet("payload");
  PacketFilter filter;
  EXPECT_TRUE(filter.Passes(packet.decoded));
  ASSERT_TRUE(filter.Load(PacketFilterSet{}));
  EXPECT_TRUE(filter.Passes(packet.decoded));
  packet.decoded.typeCode = 2;
  EXPECT_TRUE(filter.Passes(packet.decoded));
}

TEST(PacketFilterMatch, SizeLimits) {
  // Minimum only, maximum only, both in order: inclusive bounds.
  EXPECT_FALSE(PassesSize(100, std::nullopt, 99));
  EXPECT_TRUE(PassesSize(100, std::nullopt, 100));
  EXPECT_TRUE(PassesSize(std::nullopt, 60, 60));
  EXPECT_FALSE(PassesSize(std::nullopt, 60, 61));
  EXPECT_TRUE(PassesSize(60, 100, 80));
  EXPECT_FALSE(PassesSize(60, 100, 101));
  // Maximum below minimum: exactly one of the two sizes.
  EXPECT_TRUE(PassesSize(100, 60, 60));
  EXPECT_TRUE(PassesSize(100, 60, 100));
  EXPECT_FALSE(PassesSize(100, 60, 80));
  EXPECT_FALSE(PassesSize(100, 60, 59));
  EXPECT_FALSE(PassesSize(100, 60, 101));
  // 0 and below do not filter, nor does a maximum below a minimum that is not set.
  for (std::int32_t size : {0, 1, 65535}) {
    EXPECT_TRUE(PassesSize(0, 0, size));
    EXPECT_TRUE(PassesSize(-5, -1, size));
  }
  EXPECT_TRUE(PassesSize(0, -3, 500));
  EXPECT_FALSE(PassesSize(-3, 40, 41));  // the maximum still counts on its own
}

TEST(PacketFilterMatch, ProtocolFlagsByTypeCode) {
  PacketFilterSet set;
  set.tcp = set.udp = set.icmp = set.other = false;
  PacketFilter none;
  ASSERT_TRUE(none.Load(set));
  Packet packet;
  for (std::int32_t code : {0, 1, 2, 3, 4, 5}) {
    packet.decoded.typeCode = code;
    EXPECT_FALSE(none.Passes(packet.decoded)) << code;
  }
  // One flag at a time lets through exactly its own types; "Other" is every code but 1, 3, 4.
  const struct {
    bool PacketFilterSet::*flag;
    std::vector<std::int32_t> passing;
  } cases[] = {{&PacketFilterSet::tcp, {3}},
               {&PacketFilterSet::udp, {4}},
               {&PacketFilterSet::icmp, {1}},
               {&PacketFilterSet::other, {0, 2, 5, 17}}};
  for (const auto& c : cases) {
    PacketFilterSet one = set;
    one.*(c.flag) = true;
    PacketFilter filter;
    ASSERT_TRUE(filter.Load(one));
    for (std::int32_t code : {0, 1, 2, 3, 4, 5, 17}) {
      packet.decoded.typeCode = code;
      const bool expected = std::find(c.passing.begin(), c.passing.end(), code) != c.passing.end();
      EXPECT_EQ(filter.Passes(packet.decoded), expected) << code;
    }
  }
}

TEST(PacketFilterMatch, EitherEndAddressAndPort) {
  PacketFilterSet set;
  set.eitherAddress = InetAddr("10.0.0.5");
  Packet packet;
  packet.decoded.source = InetAddr("10.0.0.5");
  EXPECT_TRUE(Passes(set, packet.decoded));
  packet.decoded.source = InetAddr("10.0.0.1");
  packet.decoded.destination = InetAddr("10.0.0.5");
  EXPECT_TRUE(Passes(set, packet.decoded));
  packet.decoded.destination = InetAddr("5.0.0.10");  // byte order matters
  EXPECT_FALSE(Passes(set, packet.decoded));

  PacketFilterSet ports;
  ports.eitherPort = 80;
  EXPECT_TRUE(Passes(ports, Packet().decoded));  // destination port 80
  Packet reply;
  std::swap(reply.decoded.sourcePort, reply.decoded.destinationPort);
  EXPECT_TRUE(Passes(ports, reply.decoded));
  ports.eitherPort = 443;
  EXPECT_FALSE(Passes(ports, Packet().decoded));
  ports.eitherPort = 0;  // 0 and below are no port
  EXPECT_TRUE(Passes(ports, Packet().decoded));
  ports.eitherPort = -80;
  EXPECT_TRUE(Passes(ports, Packet().decoded));
}

TEST(PacketFilterMatch, EachListTestsItsOwnField) {
  // 10.0.0.1:1000 -> 10.0.0.2:80. Every list is given the value of a field: the must-be list
  // of that field passes and the must-not-be list fails; the same value in a list of another
  // field must not count.
  const std::uint32_t source = InetAddr("10.0.0.1"), destination = InetAddr("10.0.0.2");
  const struct {
    FilterList list;
    std::uint32_t own;    // the packet's value of this list's field
    std::uint32_t other;  // the value of the opposite end
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
    // The packet's value last among 50, so the whole list is searched.
    for (std::uint32_t i = 0; i < 49; ++i) set.List(c.list).push_back(0x01010101u + i);
    set.List(c.list).push_back(c.own);
    EXPECT_EQ(Passes(set, packet.decoded), c.mustBe);
    set.List(c.list).back() = c.other;
    EXPECT_EQ(Passes(set, packet.decoded), !c.mustBe);
  }
}

TEST(PacketFilterMatch, ListEntriesBeyondFiftyAreNotUsed) {
  PacketFilterSet set;
  for (std::uint32_t i = 0; i < 50; ++i) set.List(FilterList::SourcePortMustBe).push_back(2000 + i);
  set.List(FilterList::SourcePortMustBe).push_back(1000);  // the 51st: the packet's port
  EXPECT_FALSE(Passes(set, Packet().decoded));
  set.List(FilterList::SourcePortMustBe).resize(1);
  EXPECT_FALSE(Passes(set, Packet().decoded));  // one entry: the padding must not widen it
  set.List(FilterList::SourcePortMustBe)[0] = 1000;
  EXPECT_TRUE(Passes(set, Packet().decoded));
}

TEST(PacketFilterMatch, MustContainAtEveryPosition) {
  PacketFilterSet set;
  set.mustContain = "GET";
  PacketFilter filter;
  ASSERT_TRUE(filter.Load(set));
  for (const char* payload : {"GETxx", "xGETx", "xxGET", "GET"}) {
    EXPECT_TRUE(filter.Passes(Packet(payload).decoded)) << payload;
    EXPECT_TRUE(filter.MustContain(Packet(payload).decoded)) << payload;
  }
  for (const char* payload : {"GE", "get", "xxGEx", "G", "xGxExT", "EGT"}) {
    EXPECT_FALSE(filter.Passes(Packet(payload).decoded)) << payload;
  }
  EXPECT_FALSE(filter.Passes(Packet().decoded));  // no payload

  // The same payloads with must not contain: the opposite, and a packet without payload passes.
  PacketFilterSet notSet;
  notSet.mustNotContain = "GET";
  PacketFilter notFilter;
  ASSERT_TRUE(notFilter.Load(notSet));
  EXPECT_FALSE(notFilter.Passes(Packet("xxGET").decoded));
  EXPECT_FALSE(notFilter.Passes(Packet("GET").decoded));
  EXPECT_TRUE(notFilter.Passes(Packet("xxGEx").decoded));
  EXPECT_TRUE(notFilter.Passes(Packet().decoded));
}

TEST(PacketFilterMatch, TextSearchOverBinaryAndRepetitivePayloads) {
  // Zero bytes in the payload, a text whose rare byte is in the middle, near misses before the
  // match, and the match as the very last bytes of a long payload.
  std::string payload(1460, '\0');
  for (std::size_t i = 0; i < payload.size(); i += 7) payload.replace(i, 3, "ab#");
  payload.replace(payload.size() - 6, 6, "ab#ab!");
  PacketFilterSet set;
  set.mustContain = "ab#ab!";
  EXPECT_TRUE(Passes(set, Packet(payload).decoded));
  payload.back() = '?';
  EXPECT_FALSE(Passes(set, Packet(payload).decoded));

  set.mustContain = std::string("\0\0x", 3);  // zero bytes in the text itself
  EXPECT_FALSE(Passes(set, Packet(payload).decoded));
  payload.replace(700, 3, std::string("\0\0x", 3));
  EXPECT_TRUE(Passes(set, Packet(payload).decoded));

  set.mustContain = std::string(30, 'a');  // longer than the payload
  EXPECT_FALSE(Passes(set, Packet(std::string(29, 'a')).decoded));
  EXPECT_TRUE(Passes(set, Packet(std::string(30, 'a')).decoded));
  EXPECT_TRUE(Passes(set, Packet(std::string(31, 'a')).decoded));
}

TEST(PacketFilterMatch, PayloadLengthBoundsTheSearch) {
  // The text lies just past the stated payload length: it must not be found.
  Packet packet("abcdGET");
  packet.decoded.payloadLength = 6;
  PacketFilterSet set;
  set.mustContain = "GET";
  EXPECT_FALSE(Passes(set, packet.decoded));
  packet.decoded.payloadLength = 0;
  EXPECT_FALSE(Passes(set, packet.decoded));
  packet.decoded.payloadLength = -4;
  EXPECT_FALSE(Passes(set, packet.decoded));
}

TEST(PacketFilterMatch, AllTestsTogetherOnADecodedFrame) {
  // An Ethernet + IPv4 + TCP frame as the capture thread decodes it.
  std::vector<std::uint8_t> frame(14 + 40 + 12, 0);
  std::uint8_t* ip = frame.data() + 14;
  ip[0] = 0x45;
  ip[3] = 52;  // total length 40 + 12
  ip[9] = 6;
  const std::uint8_t source[4] = {192, 168, 1, 7}, destination[4] = {192, 168, 1, 9};
  std::memcpy(ip + 12, source, 4);
  std::memcpy(ip + 16, destination, 4);
  ip[20] = 0x1F, ip[21] = 0x90;  // 8080
  ip[22] = 0x00, ip[23] = 0x50;  // 80
  std::memcpy(ip + 40, "HTTP/1.1 200", 12);
  const DecodedPacket packet = DecodeFrame(frame.data(), static_cast<std::uint32_t>(frame.size()), 14);

  PacketFilterSet set;
  set.minSize = 52;
  set.maxSize = 52;
  set.udp = set.icmp = set.other = false;
  set.eitherAddress = InetAddr("192.168.1.9");
  set.eitherPort = 8080;
  set.List(FilterList::SourceIpMustBe) = {InetAddr("192.168.1.7")};
  set.List(FilterList::SourceIpMustNotBe) = {InetAddr("192.168.1.9")};
  set.List(FilterList::SourcePortMustBe) = {8080};
  set.List(FilterList::SourcePortMustNotBe) = {80};
  set.List(FilterList::DestIpMustBe) = {InetAddr("192.168.1.9")};
  set.List(FilterList::DestIpMustNotBe) = {InetAddr("192.168.1.7")};
  set.List(FilterList::DestPortMustBe) = {80};
  set.List(FilterList::DestPortMustNotBe) = {8080};
  set.mustContain = "200";
  set.mustNotContain = "404";
  PacketFilter filter;
  ASSERT_TRUE(filter.Load(set));
  EXPECT_TRUE(filter.Passes(packet));

  // Each change alone makes it fail.
  const std::function<void(PacketFilterSet&)> breaks[] = {
      [](PacketFilterSet& s) { s.minSize = 53, s.maxSize = 60; },
      [](PacketFilterSet& s) { s.tcp = false; },
      [](PacketFilterSet& s) { s.eitherAddress = InetAddr("192.168.1.8"); },
      [](PacketFilterSet& s) { s.eitherPort = 443; },
      [](PacketFilterSet& s) { s.mustContain = "201"; },
      [](PacketFilterSet& s) { s.mustNotContain = "HTTP"; },
      [](PacketFilterSet& s) { s.List(FilterList::DestPortMustBe) = {81}; },
  };
  for (std::size_t i = 0; i < std::size(breaks); ++i) {
    SCOPED_TRACE(i);
    PacketFilterSet broken = set;
    const auto& change = breaks[i];
    change(broken);
    EXPECT_FALSE(Passes(broken, packet));
  }
  // Clearing drops every test.
  filter.Clear();
  EXPECT_FALSE(filter.IsLoaded());
  EXPECT_TRUE(filter.Passes(DecodedPacket{}));
}

TEST(PacketFilterMatch, TooLongTextIsRefusedAndKeepsTheLoadedFilters) {
  PacketFilterSet set;
  set.tcp = false;
  PacketFilter filter;
  ASSERT_TRUE(filter.Load(set));
  PacketFilterSet tooLong;
  tooLong.mustContain = std::string(31, 'x');
  EXPECT_FALSE(filter.Load(tooLong));
  EXPECT_FALSE(filter.Passes(Packet().decoded));  // still the TCP-off set
  tooLong.mustContain.resize(30);
  EXPECT_TRUE(filter.Load(tooLong));
}

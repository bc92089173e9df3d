// The link rule and the size rule on replayed captures, against their independent decodes, and
// on hand-built frames for the cases the captures do not hold.
#include <map>
#include <memory>
#include <tuple>

#include "LinkTestSupport.h"
#include "controls/link/LinkFilter.h"
#include "wincap/DecodedPacket.h"

using namespace link_test;
using capture_test::BuildFrame;
using capture_test::BuildFrame6;
using capture_test::FrameParts;
using capture_test::ReadCapture;

namespace {

std::string TypeText(const Fields& row) {
  const std::string family = row.ipv6 ? "6" : "";
  switch (row.protocol) {
    case 6: return "TCP" + family;
    case 17: return "UDP" + family;
    case 1:
    case 58: return "ICMP" + family;
    default: return "IP" + family;
  }
}

LinkFilter FilterFor(const _MonListMonItemDataIp& link, const std::string& protocol,
                     const std::optional<LinkAddresses6>& link6 = std::nullopt) {
  LinkFilter filter;
  filter.SetLink(link, link6);
  filter.InitMonFlags(protocol);
  return filter;
}

bool Passes(const LinkFilter& filter, const std::vector<std::uint8_t>& frame) {
  return filter.Passes(DecodeFrame(frame.data(), static_cast<std::uint32_t>(frame.size()), 14));
}

}  // namespace

TEST(LinkFilter, EveryConversationOfReplayedCapturesKeepsExactlyItsPackets) {
  // Two of them hold IPv6 packets (one beside IPv4 packets of the same protocol).
  for (const char* name : {"zeek-wikipedia.pcap", "zeek-http-get.pcap", "tcpdump-dns_udp_2.pcap", "zeek-icmp-5-pings.pcap",
                           "zeek-tcp-truncated-header.pcap", "zeek-communityid-ipv6.pcap", "tcpdump-vrrp.pcap"}) {
    const std::string path = capture_test::kPcapFolder + "/" + name;
    const auto frames = ReadCapture(path);
    const auto fields = ReadFields(path);
    ASSERT_EQ(frames.size(), fields.size()) << name;
    // One link per conversation, taken from its first packet.
    std::map<std::tuple<int, std::string, std::string, int, int>, Fields> links;
    for (const Fields& row : fields) {
      if (row.source.empty()) continue;
      bool known = false;
      for (const auto& [key, link] : links) known = known || OnLink(row, link);
      if (!known) links[{row.protocol, row.source, row.destination, row.sourcePort, row.destinationPort}] = row;
    }
    ASSERT_FALSE(links.empty()) << name;
    for (const auto& [key, link] : links) {
      const LinkFilter filter = FilterFor(LinkOf(link), TypeText(link), Link6Of(link));
      int kept = 0, expected = 0;
      for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool on = !fields[i].source.empty() && OnLink(fields[i], link);
        EXPECT_EQ(Passes(filter, frames[i]), on) << name << " frame " << i + 1 << " link from " << link.source;
        kept += Passes(filter, frames[i]) ? 1 : 0;
        expected += on ? 1 : 0;
      }
      EXPECT_EQ(kept, expected);
    }
  }
}

TEST(LinkFilter, AddressesAndPortsMatchInEitherDirectionIndependently) {
  _MonListMonItemDataIp link{};
  link.localAddr = Address("10.0.0.1");
  link.localPort = 1025;
  link.remoteAddr = Address("10.0.0.2");
  link.remotePort = 80;
  LinkFilter filter = FilterFor(link, "TCP");
  EXPECT_EQ(filter.GetMonFlags(), LinkFilter::kAllFlags);

  const auto frame = [](const char* from, int fromPort, const char* to, int toPort, int protocol = 6) {
    return BuildFrame(FrameParts{.protocol = protocol, .source = from, .destination = to, .sourcePort = fromPort,
                                 .destinationPort = toPort});
  };
  EXPECT_TRUE(Passes(filter, frame("10.0.0.1", 1025, "10.0.0.2", 80)));
  EXPECT_TRUE(Passes(filter, frame("10.0.0.2", 80, "10.0.0.1", 1025)));
  // Addresses one way, ports the other.
  EXPECT_TRUE(Passes(filter, frame("10.0.0.1", 80, "10.0.0.2", 1025)));
  EXPECT_FALSE(Passes(filter, frame("10.0.0.1", 1025, "10.0.0.3", 80)));
  EXPECT_FALSE(Passes(filter, frame("10.0.0.1", 1026, "10.0.0.2", 80)));
  EXPECT_FALSE(Passes(filter, frame("10.0.0.1", 1025, "10.0.0.2", 80, 17)));

  // Without the port boxes every packet between the two addresses stays, whatever its ports.
  filter.SetMonFlags(LinkFilter::kFromPort, 0);
  filter.SetMonFlags(LinkFilter::kToPort, 0);
  filter.SetMonFlags(LinkFilter::kToPort, 0);  // clearing twice changes nothing
  EXPECT_EQ(filter.GetMonFlags(), LinkFilter::kType | LinkFilter::kFromAddr | LinkFilter::kToAddr);
  EXPECT_TRUE(Passes(filter, frame("10.0.0.2", 5, "10.0.0.1", 6)));
  EXPECT_FALSE(Passes(filter, frame("10.0.0.2", 5, "10.0.0.4", 6)));
  filter.SetMonFlags(LinkFilter::kType, 0);
  EXPECT_TRUE(Passes(filter, frame("10.0.0.2", 5, "10.0.0.1", 6, 17)));

  // A box ticked for a part the link does not define is no condition.
  _MonListMonItemDataIp addressesOnly = link;
  addressesOnly.localPort = addressesOnly.remotePort = 0;
  LinkFilter noPorts = FilterFor(addressesOnly, "");
  noPorts.SetMonFlags(LinkFilter::kFromPort, 1);
  EXPECT_TRUE(Passes(noPorts, frame("10.0.0.1", 7, "10.0.0.2", 9, 1)));
  // A protocol text of no known type keeps nothing.
  EXPECT_FALSE(Passes(FilterFor(link, "ARP"), frame("10.0.0.1", 1025, "10.0.0.2", 80)));

  // "TCP" is TCP over IPv4: by its ports alone an IPv4 link keeps no IPv6 packet.
  LinkFilter portsOnly = FilterFor(link, "TCP");
  portsOnly.SetMonFlags(LinkFilter::kFromAddr | LinkFilter::kToAddr, 0);
  EXPECT_TRUE(Passes(portsOnly, frame("10.0.0.7", 80, "10.0.0.8", 1025)));
  EXPECT_FALSE(Passes(portsOnly, BuildFrame6({.nextHeader = 6})));
}

TEST(LinkFilter, SizeRuleAndFrameSizeBoundedByTheCapturedLength) {
  LinkFilter filter;
  filter.SetPacketSize(60, 40);  // maximum below minimum: only the two sizes
  for (LONG size : {39, 40, 41, 59, 60, 61}) EXPECT_EQ(filter.SizePasses(size), size == 40 || size == 60) << size;
  filter.SetPacketSize(100, 0);
  for (LONG size : {0, 99, 100, 1500}) EXPECT_EQ(filter.SizePasses(size), size >= 100) << size;
  filter.SetPacketSize(0, 64);
  for (LONG size : {0, 64, 65}) EXPECT_EQ(filter.SizePasses(size), size <= 64) << size;

  // The size comes from the captured bytes only: a capture cut inside the IPv4 header still has
  // it, one cut before it reads 0, and nothing past the capture is read (exact-size copies).
  const std::string cut = capture_test::kPcapFolder + "/zeek-trunc-ip4-trunc.pcap";
  const auto frames = ReadCapture(cut);
  const auto fields = ReadFields(cut);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(LinkFilter::FrameSize(frames[0].data(), static_cast<LONG>(frames[0].size()), 14), fields[0].totalLength);
  const auto whole = BuildFrame(FrameParts{.payload = std::string(100, 'x')});
  for (std::size_t length = 0; length <= 18; ++length) {
    auto bytes = std::make_unique<std::uint8_t[]>(length ? length : 1);
    std::copy(whole.begin(), whole.begin() + static_cast<long>(length), bytes.get());
    EXPECT_EQ(LinkFilter::FrameSize(bytes.get(), static_cast<LONG>(length), 14), length == 18 ? 128 : 0) << length;
  }
  // An IPv6 packet's size is its payload length + 40, as the pane shows it.
  const auto six = BuildFrame6({.payload = std::string(100, 'x')});
  EXPECT_EQ(LinkFilter::FrameSize(six.data(), static_cast<LONG>(six.size()), 14), 148);
}

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <initializer_list>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "wincap/AdapterDescription.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PelorinAdapter.h"
#include "wincap/PelorinWinCapAdapters.h"

namespace {

using Clock = std::chrono::steady_clock;

bool IsRoot() { return geteuid() == 0; }

_PelorinWinCapAdapter Named(const std::string& name) {
  _PelorinWinCapAdapter adapter{};
  name.copy(adapter.name, sizeof adapter.name - 1);
  return adapter;
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A network interface made for one test and removed after it.
class ScratchInterface {
 public:
  // Tries each way of making it in turn ("ip link add NAME ...", or "ip tuntap add dev NAME ...").
  ScratchInterface(const std::string& prefix, std::initializer_list<std::string> ways) {
    m_name = prefix + std::to_string(getpid() % 100000);
    for (const std::string& way : ways)
      if (Shell("ip " + way.substr(0, way.find(' ')) + " add " +
                (way.starts_with("tuntap") ? "dev " : "") + m_name + way.substr(way.find(' '))))
        return;
    m_name.clear();
  }
  ~ScratchInterface() {
    if (!m_name.empty()) Shell("ip link del " + m_name);
  }
  const std::string& Name() const { return m_name; }

 private:
  std::string m_name;
};

bool Contains(const DecodedPacket& d, std::string_view text) {
  if (d.payload == nullptr) return false;
  const std::string_view payload(reinterpret_cast<const char*>(d.payload), d.payloadLength);
  return payload.find(text) != std::string_view::npos;
}

}  // namespace

TEST(Adapters, EnumerationCountsEveryDeviceAndSkipsThoseWithoutAddresses) {
  pcap_if_t* devices = nullptr;
  char error[PCAP_ERRBUF_SIZE];
  ASSERT_EQ(pcap_findalldevs(&devices, error), 0) << error;

  PelorinWinCapAdapters adapters;
  int index = 0, loIndex = -1, skipped = 0;
  _PelorinWinCapAdapter* adapter = adapters.AdaptersGetFirst(1);
  for (pcap_if_t* device = devices; device; device = device->next, ++index) {
    SCOPED_TRACE(device->name);
    ASSERT_NE(adapter, nullptr);
    if (device->addresses == nullptr) {
      EXPECT_TRUE(IsAdapterSkip(adapter));
      ++skipped;
    } else {
      ASSERT_FALSE(IsAdapterSkip(adapter));
      EXPECT_EQ(adapter->index, index);
      EXPECT_STREQ(adapter->name, device->name);
      EXPECT_EQ(adapter->description, AdapterDescription(*device));
    }
    if (std::string(device->name) == "lo") loIndex = index;
    adapter = adapters.AdaptersGetNext(1);
  }
  EXPECT_EQ(adapter, nullptr);
  EXPECT_EQ(adapters.AdaptersGetNext(1), nullptr);  // stays exhausted
  pcap_freealldevs(devices);
  ASSERT_GE(loIndex, 0) << "lo is not listed";
  std::printf("devices %d, skipped %d, lo at %d\n", index, skipped, loIndex);

  // Without the usable-only flag nothing is skipped; AdaptersGet finds by enumeration index.
  for (adapter = adapters.AdaptersGetFirst(0); adapter; adapter = adapters.AdaptersGetNext(0))
    EXPECT_FALSE(IsAdapterSkip(adapter));
  adapter = adapters.AdaptersGet(loIndex);
  ASSERT_NE(adapter, nullptr);
  EXPECT_STREQ(adapter->name, "lo");
  EXPECT_EQ(adapter->index, loIndex);
  EXPECT_EQ(adapters.AdaptersGet(-1), nullptr);
  EXPECT_EQ(adapters.AdaptersGet(index), nullptr);
}

TEST(Adapters, NonEthernetDevicesFailToOpenAndLeaveNoHandle) {
  if (!IsRoot()) GTEST_SKIP() << "opening capture devices needs root";
  const _PelorinWinCapAdapter any = Named("any");  // Linux cooked capture
  PelorinAdapter adapter(&any);
  EXPECT_EQ(adapter.Open(), 0);
  EXPECT_FALSE(adapter.IsOpen());
  EXPECT_STRNE(adapter.ErrorText(), "");

  ScratchInterface tun("pctun", {"tuntap mode tun"});
  if (tun.Name().empty()) {
    std::printf("no tun device could be made; only 'any' was tried\n");
  } else {
    Shell("ip link set " + tun.Name() + " up");
    const _PelorinWinCapAdapter raw = Named(tun.Name());
    PelorinAdapter tunAdapter(&raw);
    EXPECT_EQ(tunAdapter.Open(), 0);
    EXPECT_FALSE(tunAdapter.IsOpen());
  }

  const _PelorinWinCapAdapter missing = Named("no-such-device0");
  PelorinAdapter absent(&missing);
  EXPECT_EQ(absent.Open(), 0);
  EXPECT_FALSE(absent.IsOpen());
}

TEST(Adapters, QuietInterfaceReadReturnsAfterTheReadTimeout) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  // An Ethernet interface that nothing sends on (dummy, or ifb without redirection), without IPv6.
  ScratchInterface quiet("pcq", {"link type dummy", "link type ifb"});
  if (quiet.Name().empty()) GTEST_SKIP() << "no dummy interface could be made";
  Shell("sysctl -w net.ipv6.conf." + quiet.Name() + ".disable_ipv6=1");
  Shell("ip link set " + quiet.Name() + " up");
  const _PelorinWinCapAdapter record = Named(quiet.Name());
  PelorinAdapter adapter(&record);
  ASSERT_EQ(adapter.Open(), 1) << adapter.ErrorText();

  _PelorinAdapterPacket packet{};
  packet.length = 12345;
  const auto begin = Clock::now();
  auto longest = Clock::duration::zero();
  for (int i = 0; i < 10; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(adapter.Read(&packet, 0), 0u);
    longest = std::max(longest, Clock::now() - start);
  }
  const auto total = Clock::now() - begin;
  EXPECT_EQ(packet.length, 12345u);  // left as it was
  using std::chrono::milliseconds;
  // Loose bounds: each call waits about 20 ms, neither spinning nor hanging.
  EXPECT_LT(longest, milliseconds(1000));
  EXPECT_GE(total, milliseconds(100));
  std::printf("10 quiet reads: %lld ms, longest %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<milliseconds>(total).count()),
              static_cast<long long>(std::chrono::duration_cast<milliseconds>(longest).count()));
}

TEST(Adapters, LoopbackCapturesRealUdpTcpAndIcmp) {
  if (!IsRoot()) GTEST_SKIP() << "capture needs root";
  const _PelorinWinCapAdapter lo = Named("lo");
  PelorinAdapter adapter(&lo);
  ASSERT_EQ(adapter.Open(), 1) << adapter.ErrorText();
  ASSERT_EQ(adapter.Open(), 1) << "reopening an open adapter";

  const std::string tag = "pelorin-" + std::to_string(getpid());
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;

  // UDP to a bound socket.
  const int udpIn = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(bind(udpIn, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  sockaddr_in udpAddress{};
  getsockname(udpIn, reinterpret_cast<sockaddr*>(&udpAddress), &length);
  const int udpOut = socket(AF_INET, SOCK_DGRAM, 0);
  const std::string udpText = tag + "-udp";
  ASSERT_EQ(sendto(udpOut, udpText.data(), udpText.size(), 0, reinterpret_cast<sockaddr*>(&udpAddress),
                   sizeof udpAddress),
            static_cast<ssize_t>(udpText.size()));

  // TCP: a connection and a few bytes on it.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  sockaddr_in tcpAddress{};
  length = sizeof tcpAddress;
  getsockname(listener, reinterpret_cast<sockaddr*>(&tcpAddress), &length);
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&tcpAddress), sizeof tcpAddress), 0);
  const int server = accept(listener, nullptr, nullptr);
  const std::string tcpText = tag + "-tcp";
  ASSERT_EQ(send(client, tcpText.data(), tcpText.size(), 0), static_cast<ssize_t>(tcpText.size()));

  // ICMP echo request; the system answers it.
  const int icmp = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  ASSERT_GE(icmp, 0);
  const std::string icmpText = tag + "-icmp";
  std::string echo(8 + icmpText.size(), '\0');
  echo[0] = ICMP_ECHO;
  echo.replace(8, icmpText.size(), icmpText);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < echo.size(); i += 2)
    sum += static_cast<std::uint8_t>(echo[i]) << 8 | static_cast<std::uint8_t>(echo[i + 1]);
  if (echo.size() % 2) sum += static_cast<std::uint8_t>(echo.back()) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  echo[2] = static_cast<char>(~sum >> 8);
  echo[3] = static_cast<char>(~sum);
  sockaddr_in target = local;
  ASSERT_EQ(sendto(icmp, echo.data(), echo.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target),
            static_cast<ssize_t>(echo.size()));

  bool sawUdp = false, sawTcp = false, sawSyn = false, sawEcho = false, sawReply = false;
  const int tcpPort = ntohs(tcpAddress.sin_port), udpPort = ntohs(udpAddress.sin_port);
  _PelorinAdapterPacket packet{};
  DecodedPacket d;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline && !(sawUdp && sawTcp && sawSyn && sawEcho && sawReply)) {
    const DWORD n = adapter.Read(&packet, 0);
    if (n == 0) continue;
    ASSERT_EQ(n, packet.length);
    DecodeFrame(packet.data, packet.length, 14, d);
    if (d.sourceText != "127.0.0.1" || d.destinationText != "127.0.0.1") continue;
    EXPECT_EQ(d.size + 14, static_cast<std::int32_t>(packet.length));  // loopback frames are unpadded
    if (d.typeText == "UDP" && d.destinationPort == udpPort && Contains(d, udpText)) {
      EXPECT_EQ(d.payloadLength, static_cast<std::int32_t>(udpText.size()));
      sawUdp = true;
    }
    if (d.typeText == "TCP" && d.destinationPort == tcpPort) {
      sawSyn = true;
      // The fixed 20-byte TCP header puts the TCP options in front of the data.
      if (Contains(d, tcpText)) sawTcp = true;
    }
    if (d.typeText == "ICMP" && Contains(d, icmpText)) {
      const std::uint8_t type = packet.data[34];
      if (type == ICMP_ECHO) sawEcho = true;
      if (type == ICMP_ECHOREPLY) sawReply = true;
      EXPECT_EQ(d.payloadLength, static_cast<std::int32_t>(icmpText.size()));
      EXPECT_EQ(d.sourcePortText, "");
    }
  }
  EXPECT_TRUE(sawUdp);
  EXPECT_TRUE(sawSyn);
  EXPECT_TRUE(sawTcp);
  EXPECT_TRUE(sawEcho);
  EXPECT_TRUE(sawReply);
  for (int fd : {udpIn, udpOut, listener, client, server, icmp}) close(fd);
  EXPECT_EQ(adapter.Close(), 0);
  EXPECT_FALSE(adapter.IsOpen());
}

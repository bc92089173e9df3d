#include <gtest/gtest.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSockets.h"
#include "platform/IpHelper.h"
#include "platform/linux/SnmpCounters.h"
#include "platform/linux/StatisticsRecords.h"

namespace {

// The counter calls as the statistics monitors reach them.
class IpHelperStatistics : public ::testing::Test {
 protected:
  void SetUp() override {
    m_library = LoadLibraryA("iphlpapi.dll");
    ASSERT_NE(m_library, nullptr);
    getTcp = reinterpret_cast<PGetTcpStatistics>(GetProcAddress(m_library, "GetTcpStatistics"));
    getUdp = reinterpret_cast<PGetUdpStatistics>(GetProcAddress(m_library, "GetUdpStatistics"));
    getIcmp = reinterpret_cast<PGetIcmpStatistics>(GetProcAddress(m_library, "GetIcmpStatistics"));
    getIp = reinterpret_cast<PGetIpStatistics>(GetProcAddress(m_library, "GetIpStatistics"));
    ASSERT_TRUE(getTcp && getUdp && getIcmp && getIp);
  }
  void TearDown() override { FreeLibrary(m_library); }

  HMODULE m_library = nullptr;
  PGetTcpStatistics getTcp = nullptr;
  PGetUdpStatistics getUdp = nullptr;
  PGetIcmpStatistics getIcmp = nullptr;
  PGetIpStatistics getIp = nullptr;
};

// Counters wrap at 32 bits, so growth is measured modulo 2^32.
DWORD Grown(DWORD before, DWORD after) { return after - before; }

long ReadNumber(const char* path) {
  std::ifstream file(path);
  long value = -1;
  file >> value;
  return value;
}

TEST_F(IpHelperStatistics, UdpDatagramsToLoopbackMoveUdpAndIpCounters) {
  Fd receiver = UdpSocket();
  Fd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(receiver && sender);
  const sockaddr_in to = LocalOf(receiver.get());

  MIB_UDPSTATS before{}, after{};
  MIB_IPSTATS ipBefore{}, ipAfter{};
  ASSERT_EQ(getUdp(&before) | getIp(&ipBefore), NO_ERROR);
  constexpr DWORD kDatagrams = 25;
  char datagram[8];
  for (DWORD i = 0; i < kDatagrams; ++i) {
    ASSERT_EQ(::sendto(sender.get(), "ping", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
    // The kernel counts a datagram in when the application takes it.
    ASSERT_EQ(::recv(receiver.get(), datagram, sizeof datagram, MSG_DONTWAIT), 4);
  }
  ASSERT_EQ(getUdp(&after) | getIp(&ipAfter), NO_ERROR);
  EXPECT_GE(Grown(before.dwOutDatagrams, after.dwOutDatagrams), kDatagrams);
  EXPECT_GE(Grown(before.dwInDatagrams, after.dwInDatagrams), kDatagrams);
  EXPECT_GE(after.dwNumAddrs, 2u) << "our two sockets are UDP endpoints";
  EXPECT_GE(Grown(ipBefore.dwOutRequests, ipAfter.dwOutRequests), kDatagrams);
  EXPECT_GE(Grown(ipBefore.dwInReceives, ipAfter.dwInReceives), kDatagrams);
  EXPECT_GE(Grown(ipBefore.dwInDelivers, ipAfter.dwInDelivers), kDatagrams);
}

TEST_F(IpHelperStatistics, LoopbackConnectionMovesTcpCounters) {
  MIB_TCPSTATS before{}, after{};
  ASSERT_EQ(getTcp(&before), NO_ERROR);
  Fd listener = TcpListener();
  std::vector<TcpPair> more;
  for (int i = 0; i < 10; ++i) more.push_back(ConnectTo(listener.get()));
  TcpPair pair = ConnectTo(listener.get());
  ASSERT_TRUE(pair.client && pair.server);
  ASSERT_EQ(::send(pair.client.get(), "abc", 3, 0), 3);
  ASSERT_TRUE(WaitReadable(pair.server.get(), 2000));
  ASSERT_EQ(getTcp(&after), NO_ERROR);

  EXPECT_GE(Grown(before.dwActiveOpens, after.dwActiveOpens), 11u);
  EXPECT_GE(Grown(before.dwPassiveOpens, after.dwPassiveOpens), 11u);
  EXPECT_GE(Grown(before.dwInSegs, after.dwInSegs), 3u);
  EXPECT_GE(Grown(before.dwOutSegs, after.dwOutSegs), 3u);
  EXPECT_GE(after.dwCurrEstab, 22u);
  EXPECT_GE(after.dwNumConns, 23u) << "the listener and both ends of every connection are rows";
  EXPECT_EQ(after.dwMaxConn, 0xFFFFFFFFu) << "Linux sets no fixed limit (-1)";
  EXPECT_GT(after.dwRtoMax, after.dwRtoMin);
}

// An echo request to 127.0.0.1 over a raw socket: the machine answers itself, so the request
// and the reply are each counted going out and coming in.
TEST_F(IpHelperStatistics, EchoToLoopbackMovesIcmpCounters) {
  Fd raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!raw) GTEST_SKIP() << "raw ICMP sockets need CAP_NET_RAW";
  if (ReadNumber("/proc/sys/net/ipv4/icmp_echo_ignore_all") == 1) GTEST_SKIP() << "this machine ignores echo requests";

  MIB_ICMP before{}, after{};
  ASSERT_EQ(getIcmp(&before), NO_ERROR);

  icmphdr request{};
  request.type = ICMP_ECHO;
  request.un.echo.id = htons(static_cast<std::uint16_t>(::getpid()));
  request.un.echo.sequence = htons(1);
  // The checksum over the 8-byte header alone.
  std::uint32_t sum = 0;
  const auto* words = reinterpret_cast<const std::uint16_t*>(&request);
  for (std::size_t i = 0; i < sizeof request / 2; ++i) sum += words[i];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  request.checksum = static_cast<std::uint16_t>(~sum);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::sendto(raw.get(), &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(sizeof request));

  bool replied = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!replied && std::chrono::steady_clock::now() < deadline) {
    if (!WaitReadable(raw.get(), 500)) continue;
    unsigned char packet[1500];
    const ssize_t n = ::recv(raw.get(), packet, sizeof packet, 0);
    const std::size_t ipLength = (packet[0] & 0x0F) * 4u;
    icmphdr answer{};
    if (n < 0 || static_cast<std::size_t>(n) < ipLength + sizeof answer) continue;
    std::memcpy(&answer, packet + ipLength, sizeof answer);
    replied = answer.type == ICMP_ECHOREPLY && answer.un.echo.id == request.un.echo.id;
  }
  ASSERT_TRUE(replied);
  ASSERT_EQ(getIcmp(&after), NO_ERROR);

  for (auto way : {&MIBICMPINFO::icmpInStats, &MIBICMPINFO::icmpOutStats}) {
    const MIBICMPSTATS& from = before.stats.*way;
    const MIBICMPSTATS& to = after.stats.*way;
    EXPECT_GE(Grown(from.dwEchos, to.dwEchos), 1u);
    EXPECT_GE(Grown(from.dwEchoReps, to.dwEchoReps), 1u);
    EXPECT_GE(Grown(from.dwMsgs, to.dwMsgs), 2u);
  }
}

TEST_F(IpHelperStatistics, IpRecordCarriesTheSettingsAndCountsOfThisMachine) {
  EXPECT_EQ(getTcp(nullptr) | getUdp(nullptr) | getIcmp(nullptr) | getIp(nullptr), ERROR_INVALID_PARAMETER);
  MIB_IPSTATS s{};
  ASSERT_EQ(getIp(&s), NO_ERROR);
  EXPECT_EQ(s.dwForwarding, ReadNumber("/proc/sys/net/ipv4/ip_forward") == 1 ? MIB_IP_FORWARDING : MIB_IP_NOT_FORWARDING);
  EXPECT_EQ(static_cast<long>(s.dwDefaultTTL), ReadNumber("/proc/sys/net/ipv4/ip_default_ttl"));
  EXPECT_EQ(static_cast<long>(s.dwReasmTimeout), ReadNumber("/proc/sys/net/ipv4/ipfrag_time"));
  EXPECT_EQ(s.dwRoutingDiscards, 0u);
  // Loopback is an interface with address 127.0.0.1 and the local routes of 127.0.0.0/8.
  EXPECT_GE(s.dwNumIf, 1u);
  EXPECT_GE(s.dwNumAddr, 1u);
  EXPECT_GE(s.dwNumRoutes, 2u);
}

TEST(SnmpCounters, FieldsAreFoundByNameAndDamagedValuesGiveNothing) {
  const SnmpCounters counters = SnmpCounters::Parse(
      "Ip: Forwarding DefaultTTL\n"                     // header without its value line
      "Tcp: MaxConn ActiveOpens Huge PassiveOpens Extra\n"
      "Tcp: -1 15 4294967301 x7\n"                      // a bad value, a missing one
      "garbage line\n"
      "Udp: OutDatagrams InDatagrams Beyond\n"
      "Udp: 33 32 99999999999999999999999\n"            // beyond 64 bits
      "Icmp: InMsgs");                                  // header at the end of the text
  EXPECT_EQ(counters.Get32("Udp", "InDatagrams"), 32u) << "found by name, not position";
  EXPECT_EQ(counters.Get32("Udp", "OutDatagrams"), 33u);
  EXPECT_EQ(counters.Get32("Tcp", "MaxConn"), 0xFFFFFFFFu) << "-1 keeps its bit pattern";
  EXPECT_EQ(counters.Get32("Tcp", "Huge"), 5u) << "64-bit counters wrap to 32 bits";
  EXPECT_EQ(counters.Get32("Tcp", "InSegs"), 0u) << "absent field";
  for (const char* name : {"PassiveOpens", "Extra"}) EXPECT_FALSE(counters.Find("Tcp", name).has_value()) << name;
  EXPECT_FALSE(counters.Find("Ip", "DefaultTTL").has_value());
  EXPECT_FALSE(counters.Find("Udp", "Beyond").has_value());
  EXPECT_FALSE(counters.Find("Icmp", "InMsgs").has_value());
  EXPECT_FALSE(SnmpCounters::Read("/nonexistent/snmp").has_value());
}

TEST(SnmpCounters, NameValuePairLinesAreReadToo) {
  const SnmpCounters counters = SnmpCounters::Parse(
      "sockets: used 12\n"
      "TCP: inuse 7 orphan 0 tw 5000 alloc 9 mem 257\n"
      "UDP: inuse 3 mem\n"   // a name without its value
      "FRAG: inuse x memory 0\n",
      SnmpCounters::Layout::Pairs);
  EXPECT_EQ(counters.Get32("TCP", "inuse"), 7u);
  EXPECT_EQ(counters.Get32("TCP", "tw"), 5000u);
  EXPECT_EQ(counters.Get32("UDP", "inuse"), 3u);
  EXPECT_FALSE(counters.Find("UDP", "mem").has_value());
  EXPECT_FALSE(counters.Find("FRAG", "inuse").has_value());
  EXPECT_EQ(counters.Find("FRAG", "memory"), 0u);
}

// The per-family calls: IPv4 as the plain calls give it, IPv6 with this machine's settings.
TEST_F(IpHelperStatistics, PerFamilyCallsAnswerForEitherFamily) {
  const auto getIpEx = reinterpret_cast<PGetIpStatisticsEx>(GetProcAddress(m_library, "GetIpStatisticsEx"));
  const auto getUdpEx = reinterpret_cast<PGetUdpStatisticsEx>(GetProcAddress(m_library, "GetUdpStatisticsEx"));
  const auto getIcmpEx = reinterpret_cast<PGetIcmpStatisticsEx>(GetProcAddress(m_library, "GetIcmpStatisticsEx"));
  ASSERT_TRUE(getIpEx && getUdpEx && getIcmpEx);
  MIB_IPSTATS ip{};
  MIB_UDPSTATS udp{};
  auto icmp = std::make_unique<MIB_ICMP_EX>();
  EXPECT_EQ(getIpEx(nullptr, AF_INET6) | getUdpEx(nullptr, AF_INET) | getIcmpEx(nullptr, AF_INET6),
            ERROR_INVALID_PARAMETER);
  for (ULONG family : {AF_UNSPEC, AF_PACKET}) {
    EXPECT_EQ(getIpEx(&ip, family), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(getUdpEx(&udp, family), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(getIcmpEx(icmp.get(), family), ERROR_INVALID_PARAMETER);
  }

  MIB_IPSTATS plain{};
  MIB_ICMP plainIcmp{};
  ASSERT_EQ(getIp(&plain) | getIcmp(&plainIcmp) | getIpEx(&ip, AF_INET) | getIcmpEx(icmp.get(), AF_INET), NO_ERROR);
  EXPECT_EQ(ip.dwDefaultTTL, plain.dwDefaultTTL);
  EXPECT_EQ(ip.dwNumIf, plain.dwNumIf);
  EXPECT_GE(icmp->icmpInStats.dwMsgs, plainIcmp.stats.icmpInStats.dwMsgs);
  EXPECT_GE(icmp->icmpOutStats.rgdwTypeCount[ICMP_ECHO], plainIcmp.stats.icmpOutStats.dwEchos);

  if (!std::filesystem::exists("/proc/net/snmp6")) {
    EXPECT_EQ(getIpEx(&ip, AF_INET6), ERROR_NOT_SUPPORTED);
    GTEST_SKIP() << "no IPv6 on this machine";
  }
  ASSERT_EQ(getIpEx(&ip, AF_INET6) | getUdpEx(&udp, AF_INET6) | getIcmpEx(icmp.get(), AF_INET6), NO_ERROR);
  EXPECT_EQ(ip.dwForwarding,
            ReadNumber("/proc/sys/net/ipv6/conf/all/forwarding") == 1 ? MIB_IP_FORWARDING : MIB_IP_NOT_FORWARDING);
  EXPECT_EQ(static_cast<long>(ip.dwDefaultTTL), ReadNumber("/proc/sys/net/ipv6/conf/all/hop_limit"));
  EXPECT_EQ(static_cast<long>(ip.dwReasmTimeout), ReadNumber("/proc/sys/net/ipv6/ip6frag_time"));
  EXPECT_GE(ip.dwNumIf, 1u) << "loopback has IPv6";
}

// A /proc/net/snmp6 as the kernel prints it, with a counter of a newer kernel, damaged and
// missing values, and message types that cannot be.
TEST(SnmpCounters, Ipv6CountersAreReadByNameIntoTheirRecords) {
  const SnmpCounters snmp6 = SnmpCounters::Parse(
      "Ip6InReceives                   \t1234\n"
      "Ip6InHdrErrors                  \t5\n"
      "Ip6InQuantumErrors              \t77\n"
      "Ip6OutForwDatagrams             \t6\n"
      "Ip6InDelivers                   \t4294967297\n"
      "Ip6OutRequests                  \tx9\n"
      "Ip6FragCreates 8 9\n"
      "Icmp6InMsgs                     \t9\n"
      "Icmp6InErrors                   \t2\n"
      "Icmp6OutErrors                  \t3\n"
      "Icmp6InEchos                    \t4\n"
      "Icmp6InType128                  \t4\n"
      "Icmp6InType129                  \t5\n"
      "Icmp6OutType128                 \t6\n"
      "Icmp6OutType256                 \t1\n"
      "Icmp6OutType12x                 \t1\n"
      "\n"
      "Udp6InDatagrams                 \t11\n"
      "Udp6InErrors\n"
      "Udp6OutDatagrams                \t13",
      SnmpCounters::Layout::Lines);
  EXPECT_EQ(snmp6.Find("", "Ip6InQuantumErrors"), 77u) << "a counter the records do not know is kept";
  const MIB_IPSTATS ip = Ip6StatisticsOf(snmp6);
  EXPECT_EQ(ip.dwInReceives, 1234u);
  EXPECT_EQ(ip.dwInHdrErrors, 5u);
  EXPECT_EQ(ip.dwForwDatagrams, 6u);
  EXPECT_EQ(ip.dwInDelivers, 1u) << "64-bit counters wrap to 32 bits";
  EXPECT_EQ(ip.dwOutRequests, 0u) << "damaged value";
  EXPECT_EQ(ip.dwFragCreates, 0u) << "a line of more than a name and its value";
  EXPECT_EQ(ip.dwReasmOks, 0u) << "missing counter";
  EXPECT_EQ(ip.dwDefaultTTL | ip.dwForwarding | ip.dwNumIf, 0u) << "settings and counts are not in the file";

  const MIB_UDPSTATS udp = Udp6StatisticsOf(snmp6);
  EXPECT_EQ(udp.dwInDatagrams, 11u);
  EXPECT_EQ(udp.dwOutDatagrams, 13u) << "the last line needs no line end";
  EXPECT_EQ(udp.dwInErrors | udp.dwNoPorts | udp.dwNumAddrs, 0u);

  const auto icmp = std::make_unique<MIB_ICMP_EX>(Icmp6StatisticsOf(snmp6));
  EXPECT_EQ(icmp->icmpInStats.dwMsgs, 9u);
  EXPECT_EQ(icmp->icmpInStats.dwErrors, 2u);
  EXPECT_EQ(icmp->icmpOutStats.dwErrors, 3u);
  EXPECT_EQ(icmp->icmpInStats.rgdwTypeCount[128], 4u);
  EXPECT_EQ(icmp->icmpInStats.rgdwTypeCount[129], 5u);
  DWORD outTypes = 0;
  for (DWORD count : icmp->icmpOutStats.rgdwTypeCount) outTypes += count;
  EXPECT_EQ(outTypes, 6u) << "only the echo requests: types 256 and 12x are no types";

  // IPv4 by message type from the "IcmpMsg" lines of /proc/net/snmp.
  const auto icmp4 = std::make_unique<MIB_ICMP_EX>(IcmpStatisticsExOf(SnmpCounters::Parse(
      "Icmp: InMsgs InErrors OutMsgs\nIcmp: 7 1 5\nIcmpMsg: InType0 InType8 OutType0\nIcmpMsg: 2 3 4\n")));
  EXPECT_EQ(icmp4->icmpInStats.dwMsgs, 7u);
  EXPECT_EQ(icmp4->icmpInStats.dwErrors, 1u);
  EXPECT_EQ(icmp4->icmpOutStats.dwMsgs, 5u);
  EXPECT_EQ(icmp4->icmpInStats.rgdwTypeCount[ICMP_ECHOREPLY], 2u);
  EXPECT_EQ(icmp4->icmpInStats.rgdwTypeCount[ICMP_ECHO], 3u);
  EXPECT_EQ(icmp4->icmpOutStats.rgdwTypeCount[ICMP_ECHOREPLY], 4u);
}

}  // namespace

// The panes against the machine's real counters: traffic the test makes on 127.0.0.1 (and on ::1
// in a network namespace of its own) shows in the cells of the next pass.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "StatsTestSupport.h"
#include "common/ResultCodes.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/IpHelper.h"

namespace {

const Rect kRect{0, 0, 700, 200};

class Socket {
 public:
  explicit Socket(int fd) : m_fd(fd) {}
  ~Socket() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return m_fd; }

 private:
  int m_fd;
};

sockaddr_in Loopback(std::uint16_t port = 0) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

bool Readable(int fd, int milliseconds) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, milliseconds) == 1;
}

std::uint16_t Checksum(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (length % 2) sum += static_cast<std::uint32_t>(bytes[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(static_cast<std::uint16_t>(~sum));
}

// One echo request to 127.0.0.1 over a raw socket; true when its reply came back.
bool PingLoopback(std::uint16_t sequence) {
  Socket raw(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (raw.get() < 0) return false;
  std::uint8_t packet[16] = {};
  auto* header = reinterpret_cast<icmphdr*>(packet);
  header->type = ICMP_ECHO;
  header->un.echo.id = htons(static_cast<std::uint16_t>(::getpid()));
  header->un.echo.sequence = htons(sequence);
  std::memcpy(packet + sizeof(icmphdr), "pelorin", 8);
  header->checksum = Checksum(packet, sizeof packet);
  const sockaddr_in to = Loopback();
  if (::sendto(raw.get(), packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
      static_cast<ssize_t>(sizeof packet))
    return false;
  // The raw socket sees our own request too; wait for the reply.
  std::uint8_t answer[256];
  while (Readable(raw.get(), 2000)) {
    const ssize_t got = ::recv(raw.get(), answer, sizeof answer, 0);
    const auto* ip = reinterpret_cast<const iphdr*>(answer);
    if (got < static_cast<ssize_t>(sizeof(iphdr))) continue;
    const std::size_t headerLength = ip->ihl * 4u;
    if (got < static_cast<ssize_t>(headerLength + sizeof(icmphdr))) continue;
    const auto* icmp = reinterpret_cast<const icmphdr*>(answer + headerLength);
    if (icmp->type == ICMP_ECHOREPLY && icmp->un.echo.sequence == htons(sequence)) return true;
  }
  return false;
}

// A running pane scanning every 20 ms, its rows present.
template <typename Pane>
void StartFast(Pane& pane, UINT id, int rows) {
  ASSERT_EQ(pane.MonListCreate(nullptr, id, kRect), S_OK);
  pane.GetThread()->SetScan(20);
  pane.ListStart();
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane.GetItemCount() == rows; }, 5000));
  ASSERT_TRUE(WaitForPasses(pane.GetThread(), 1));
}

// Counters grow (modulo 2^32) by at least this much.
::testing::AssertionResult GrewBy(std::uint32_t before, std::uint32_t after, std::uint32_t atLeast) {
  const std::uint32_t grown = after - before;
  if (grown >= atLeast && grown < 0x80000000u) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << before << " -> " << after << ", wanted at least +" << atLeast;
}

constexpr int kSkipped = 77;

sockaddr_in6 Loopback6(std::uint16_t port = 0) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  a.sin6_port = htons(port);
  return a;
}

// One ICMPv6 echo request to ::1 (the kernel fills in the checksum); true when its reply came.
bool PingLoopback6(std::uint16_t sequence) {
  Socket raw(::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6));
  if (raw.get() < 0) return false;
  icmp6_hdr request{};
  request.icmp6_type = ICMP6_ECHO_REQUEST;
  request.icmp6_id = htons(static_cast<std::uint16_t>(::getpid()));
  request.icmp6_seq = htons(sequence);
  const sockaddr_in6 to = Loopback6();
  if (::sendto(raw.get(), &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
      static_cast<ssize_t>(sizeof request))
    return false;
  icmp6_hdr answer{};
  while (Readable(raw.get(), 2000)) {
    if (::recv(raw.get(), &answer, sizeof answer, 0) < static_cast<ssize_t>(sizeof answer)) continue;
    if (answer.icmp6_type == ICMP6_ECHO_REPLY && answer.icmp6_seq == request.icmp6_seq) return true;
  }
  return false;
}

bool BringLoopbackUp() {
  Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(s.get(), SIOCGIFFLAGS, &request) != 0) return false;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  return ::ioctl(s.get(), SIOCSIFFLAGS, &request) == 0;
}

// Runs the body in a child process inside a new network namespace with its loopback up, where
// nothing but the test makes traffic; the child's failures are the test's. Needs root and IPv6.
void InOwnNetwork(const std::function<void()>& body) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWNET) != 0 || !BringLoopbackUp() || !HasIpv6()) ::_exit(kSkipped);
    body();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << "no network namespace with IPv6 here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed (see above)";
}

std::uint32_t Setting(const char* path) {
  std::ifstream file(path);
  std::uint32_t value = 0;
  file >> value;
  return value;
}

}  // namespace

TEST_F(StatsPaneTest, UdpDatagramsToLoopbackShowInTheUdpRow) {
  MonListStat stat(&m_app, "");
  StartFast(stat, 1025, ProtocolRows());
  ASSERT_EQ(Labels(stat), ProtocolLabels());
  const std::uint32_t sentBefore = Counter(stat, 1, 4);
  const std::uint32_t receivedBefore = Counter(stat, 1, 3);

  Socket receiver(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  Socket sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in to = Loopback();
  ASSERT_EQ(::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
  socklen_t length = sizeof to;
  ASSERT_EQ(::getsockname(receiver.get(), reinterpret_cast<sockaddr*>(&to), &length), 0);
  constexpr std::uint32_t kDatagrams = 40;
  char datagram[8];
  for (std::uint32_t i = 0; i < kDatagrams; ++i) {
    ASSERT_EQ(::sendto(sender.get(), "stat", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
    ASSERT_TRUE(Readable(receiver.get(), 1000));
    ASSERT_EQ(::recv(receiver.get(), datagram, sizeof datagram, 0), 4);  // counted in when taken
  }
  ASSERT_TRUE(WaitForPasses(stat.GetThread(), 1));
  EXPECT_TRUE(GrewBy(sentBefore, Counter(stat, 1, 4), kDatagrams));
  EXPECT_TRUE(GrewBy(receivedBefore, Counter(stat, 1, 3), kDatagrams));
  EXPECT_GE(Counter(stat, 1, 2), 1u) << "the receiver is a bound UDP endpoint";
  // The UDP row has nothing in the TCP-only columns; the TCP row has all of them.
  for (int sub : {1, 5, 7, 8, 9, 10}) EXPECT_EQ(stat.GetItemText(1, sub), "") << sub;
  for (int sub = 1; sub <= 10; ++sub) EXPECT_FALSE(stat.GetItemText(0, sub).empty()) << sub;
}

TEST_F(StatsPaneTest, TcpConnectionsToLoopbackShowInTheTcpRow) {
  MonListStat stat(&m_app, "");
  StartFast(stat, 1025, ProtocolRows());
  const std::uint32_t activeBefore = Counter(stat, 0, 8);
  const std::uint32_t passiveBefore = Counter(stat, 0, 9);
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in at = Loopback();
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener.get(), 16), 0);
  socklen_t length = sizeof at;
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&at), &length), 0);
  constexpr std::uint32_t kConnections = 5;
  std::vector<int> fds;
  for (std::uint32_t i = 0; i < kConnections; ++i) {
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    fds.push_back(client);
    fds.push_back(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  }
  ASSERT_TRUE(WaitForPasses(stat.GetThread(), 1));
  EXPECT_TRUE(GrewBy(activeBefore, Counter(stat, 0, 8), kConnections));
  EXPECT_TRUE(GrewBy(passiveBefore, Counter(stat, 0, 9), kConnections));
  EXPECT_GE(Counter(stat, 0, 1), 2 * kConnections) << "both ends of each connection are established";
  for (int fd : fds) ::close(fd);
}

TEST_F(StatsPaneTest, AnEchoToLoopbackMovesTheIcmpRow) {
  if (::geteuid() != 0) GTEST_SKIP() << "raw ICMP sockets need root";
  MonListStat stat(&m_app, "");
  StartFast(stat, 1025, ProtocolRows());
  const std::uint32_t inEchos = Counter(stat, 2, 2);
  const std::uint32_t inReplies = Counter(stat, 2, 3);
  const std::uint32_t outEchos = Counter(stat, 2, 4);
  constexpr std::uint32_t kPings = 3;
  for (std::uint16_t i = 1; i <= kPings; ++i) ASSERT_TRUE(PingLoopback(i)) << "no echo reply from 127.0.0.1";
  ASSERT_TRUE(WaitForPasses(stat.GetThread(), 1));
  // On loopback the machine is both ends: each request goes out and comes in, as does its reply.
  EXPECT_TRUE(GrewBy(outEchos, Counter(stat, 2, 4), kPings));
  EXPECT_TRUE(GrewBy(inEchos, Counter(stat, 2, 2), kPings));
  EXPECT_TRUE(GrewBy(inReplies, Counter(stat, 2, 3), kPings));
}

TEST_F(StatsPaneTest, TheIpRowShowsTheCountersInRecordOrder) {
  MonListStatIp ip(&m_app, "");
  StartFast(ip, 1026, IpRows());
  ASSERT_EQ(Labels(ip), IpLabels());
  const PGetIpStatistics getIp = &GetIpStatistics;
  MIB_IPSTATS before{}, after{};
  ASSERT_EQ(getIp(&before), NO_ERROR);
  ASSERT_TRUE(WaitForPasses(ip.GetThread(), 1));
  // Hold the worker so that its last pass lies between the two readings.
  ip.GetThread()->SetStop(1);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return ip.GetThread()->SuspendCount() == 1; }, 5000));
  ASSERT_EQ(getIp(&after), NO_ERROR);

  const DWORD* low = &before.dwForwarding;
  const DWORD* high = &after.dwForwarding;
  for (int n = 1; n <= 23; ++n) {
    const std::uint32_t shown = Counter(ip, 0, n);
    const std::uint32_t a = low[n - 1];
    const std::uint32_t b = high[n - 1];
    EXPECT_TRUE(shown - a <= b - a) << "sub-item " << n << ": " << shown << " not within " << a << ".." << b;
  }
  EXPECT_EQ(ip.GetItemText(0, 24), "");
  // Counters that cannot be 0 on a working machine, at the places the record gives them.
  EXPECT_TRUE(Counter(ip, 0, 1) == MIB_IP_FORWARDING || Counter(ip, 0, 1) == MIB_IP_NOT_FORWARDING);
  EXPECT_GE(Counter(ip, 0, 2), 1u);   // default time to live
  EXPECT_GE(Counter(ip, 0, 21), 1u);  // interfaces: loopback at least
  EXPECT_GE(Counter(ip, 0, 22), 1u);  // addresses: 127.0.0.1 at least
}

TEST_F(StatsPaneTest, EchoesAndDatagramsOverIpv6LoopbackMoveTheIpv6RowsAlone) {
  InOwnNetwork([&] {
    MonListStat stat(&m_app, "");
    StartFast(stat, 1025, 5);
    MonListStatIp ip(&m_app, "");
    StartFast(ip, 1026, 2);
    ASSERT_EQ(Labels(stat), (std::vector<std::string>{"TCP", "UDP", "ICMP", "UDPv6", "ICMPv6"}));
    ASSERT_EQ(Labels(ip), (std::vector<std::string>{"IP", "IPv6"}));
    enum { kUdp = 1, kUdp6 = 3, kIcmp6 = 4, kIp6 = 1 };
    const std::uint32_t udpSent = Counter(stat, kUdp, 4);
    const std::uint32_t udp6Sent = Counter(stat, kUdp6, 4);
    const std::uint32_t udp6Received = Counter(stat, kUdp6, 3);
    const std::uint32_t echosIn = Counter(stat, kIcmp6, 2);
    const std::uint32_t repliesIn = Counter(stat, kIcmp6, 3);
    const std::uint32_t echosOut = Counter(stat, kIcmp6, 4);
    const std::uint32_t received = Counter(ip, kIp6, 3);
    const std::uint32_t delivered = Counter(ip, kIp6, 9);
    const std::uint32_t requested = Counter(ip, kIp6, 10);

    constexpr std::uint32_t kPings = 4;
    for (std::uint16_t i = 1; i <= kPings; ++i) ASSERT_TRUE(PingLoopback6(i)) << "no echo reply from ::1";
    Socket receiver(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    Socket sender(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 to = Loopback6();
    ASSERT_EQ(::bind(receiver.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    socklen_t length = sizeof to;
    ASSERT_EQ(::getsockname(receiver.get(), reinterpret_cast<sockaddr*>(&to), &length), 0);
    constexpr std::uint32_t kDatagrams = 30;
    char datagram[8];
    for (std::uint32_t i = 0; i < kDatagrams; ++i) {
      ASSERT_EQ(::sendto(sender.get(), "six", 3, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 3);
      ASSERT_TRUE(Readable(receiver.get(), 1000));
      ASSERT_EQ(::recv(receiver.get(), datagram, sizeof datagram, 0), 3);
    }
    ASSERT_TRUE(WaitForPasses(stat.GetThread(), 1));
    ASSERT_TRUE(WaitForPasses(ip.GetThread(), 1));

    // On loopback each echo request and its reply go out and come in.
    EXPECT_TRUE(GrewBy(echosIn, Counter(stat, kIcmp6, 2), kPings));
    EXPECT_TRUE(GrewBy(repliesIn, Counter(stat, kIcmp6, 3), kPings));
    EXPECT_TRUE(GrewBy(echosOut, Counter(stat, kIcmp6, 4), kPings));
    EXPECT_TRUE(GrewBy(udp6Sent, Counter(stat, kUdp6, 4), kDatagrams));
    EXPECT_TRUE(GrewBy(udp6Received, Counter(stat, kUdp6, 3), kDatagrams));
    EXPECT_GE(Counter(stat, kUdp6, 2), 1u) << "the receiver is a bound IPv6 UDP endpoint";
    EXPECT_EQ(Counter(stat, kUdp, 4), udpSent) << "no IPv4 datagram left this namespace";
    constexpr std::uint32_t kPackets = 2 * kPings + kDatagrams;
    EXPECT_TRUE(GrewBy(received, Counter(ip, kIp6, 3), kPackets));
    EXPECT_TRUE(GrewBy(delivered, Counter(ip, kIp6, 9), kPackets));
    EXPECT_TRUE(GrewBy(requested, Counter(ip, kIp6, 10), kPackets));
    // The settings and counts of this namespace: not forwarding, its hop limit, loopback with ::1.
    EXPECT_EQ(Counter(ip, kIp6, 1), Setting("/proc/sys/net/ipv6/conf/all/forwarding") ? 1u : 2u);
    EXPECT_EQ(Counter(ip, kIp6, 2), Setting("/proc/sys/net/ipv6/conf/all/hop_limit"));
    EXPECT_EQ(Counter(ip, kIp6, 14), Setting("/proc/sys/net/ipv6/ip6frag_time"));
    EXPECT_EQ(Counter(ip, kIp6, 21), 1u) << "loopback is the only interface";
    EXPECT_EQ(Counter(ip, kIp6, 22), 1u) << "::1 is the only address";
    EXPECT_GE(Counter(ip, kIp6, 23), 1u);
  });
}

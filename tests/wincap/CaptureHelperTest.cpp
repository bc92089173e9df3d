// Live capture through PelorinCaptureHelper, as the window does it without capabilities: the test
// takes CAP_NET_RAW out of its own thread's effective set (the helper, started by root, still gets
// it), so the window's own packet socket is refused and the helper's socket is read instead. The
// frames must be those the capture library delivers on the same interface at the same time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/CaptureHelperClient.h"
#include "tests/RawCapabilityScope.h"
#include "wincap/PelorinAdapter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool OwnPacketSocketRefused() {
  const int s = socket(AF_PACKET, SOCK_RAW, 0);
  if (s >= 0) close(s);
  return s < 0 && errno == EPERM;
}

_PelorinWinCapAdapter Named(const std::string& name) {
  _PelorinWinCapAdapter adapter{};
  name.copy(adapter.name, sizeof adapter.name - 1);
  return adapter;
}

// The frames holding marker, with their time stamps (µs), among those next() gives within a
// second, until count of them.
struct Marked {
  std::vector<Bytes> frames;
  std::vector<std::int64_t> stamps;
};

template <typename Next>
Marked ReadMarked(Next next, const std::string& marker, std::size_t count) {
  Marked marked;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (marked.frames.size() < count && std::chrono::steady_clock::now() < end) {
    std::int64_t stamp = 0;
    const Bytes frame = next(&stamp);
    if (std::search(frame.begin(), frame.end(), marker.begin(), marker.end()) == frame.end()) continue;
    marked.frames.push_back(frame);
    marked.stamps.push_back(stamp);
  }
  return marked;
}

Marked ReadMarked(PelorinAdapter& adapter, const std::string& marker, std::size_t count) {
  return ReadMarked([&](std::int64_t* stamp) {
    _PelorinAdapterPacket packet{};
    const DWORD length = adapter.Read(&packet, 0);
    *stamp = std::int64_t{packet.seconds} * 1000000 + packet.microseconds;
    return length == 0 ? Bytes() : Bytes(packet.data, packet.data + length);
  }, marker, count);
}

Marked ReadMarked(pcap_t* reference, const std::string& marker, std::size_t count) {
  return ReadMarked([&](std::int64_t* stamp) {
    pcap_pkthdr* header;
    const u_char* data;
    if (pcap_next_ex(reference, &header, &data) != 1) return Bytes();
    *stamp = std::int64_t{header->ts.tv_sec} * 1000000 + header->ts.tv_usec;
    return Bytes(data, data + header->caplen);
  }, marker, count);
}

// Both stamp each frame as it arrives, each socket for itself: within a millisecond.
void ExpectSameFrames(const Marked& ours, const Marked& theirs) {
  EXPECT_EQ(ours.frames, theirs.frames);
  for (std::size_t i = 0; i < ours.stamps.size() && i < theirs.stamps.size(); ++i)
    EXPECT_NEAR(static_cast<double>(ours.stamps[i]), static_cast<double>(theirs.stamps[i]), 1000.0) << i;
}

pcap_t* OpenReference(const std::string& name) {
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* handle = pcap_open_live(name.c_str(), 65536, 1, 20, error);
  if (handle) pcap_setnonblock(handle, 1, error);
  return handle;
}

// A network namespace of this test's own with a veth pair in it, entered by the thread that
// makes it; the thread goes back to the machine's namespace at the end.
class ScratchNamespace {
 public:
  ScratchNamespace() : m_name("pchelp" + std::to_string(getpid())) {
    m_home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (!Shell("ip netns add " + m_name)) return;
    const int ns = open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
    m_entered = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
    if (ns >= 0) close(ns);
    m_entered = m_entered && Shell("ip link add pa type veth peer name pb") && Shell("ip link set pa up") &&
                Shell("ip link set pb up") && Shell("ip link set lo up");
  }
  ~ScratchNamespace() {
    if (m_home >= 0) {
      setns(m_home, CLONE_NEWNET);
      close(m_home);
    }
    Shell("ip netns del " + m_name);
  }
  bool Entered() const { return m_entered; }

 private:
  std::string m_name;
  int m_home = -1;
  bool m_entered = false;
};

// How many holders keep the interface promiscuous ("promiscuity N" of ip -d link).
int Promiscuity(const std::string& name) {
  FILE* pipe = popen(("ip -d link show " + name).c_str(), "r");
  std::string text;
  char buffer[512];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) text += buffer;
  if (pipe) pclose(pipe);
  const std::size_t at = text.find("promiscuity ");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 12);
}

Bytes EthernetFrame(bool tagged, std::size_t payloadSize, const std::string& marker) {
  Bytes frame = {0x02, 0, 0, 0, 0, 0x0b, 0x02, 0, 0, 0, 0, 0x0a};  // destination, source
  if (tagged) frame.insert(frame.end(), {0x81, 0x00, 0x20, 0x05});  // priority 1, VLAN 5
  frame.insert(frame.end(), {0x88, 0xb5});                         // local experimental type
  frame.insert(frame.end(), marker.begin(), marker.end());
  frame.resize(frame.size() + payloadSize, 0x5a);
  return frame;
}

}  // namespace

TEST(CaptureHelper, WindowWithoutCapabilityCapturesLoopbackThroughTheHelperOncePerPacket) {
  if (geteuid() != 0) GTEST_SKIP() << "the helper gets CAP_NET_RAW only when started by root here";
  const std::string marker = "helper-lo-" + std::to_string(getpid());
  pcap_t* reference = OpenReference("lo");
  ASSERT_NE(reference, nullptr);
  {
    RawCapabilityScope unprivileged;
    ASSERT_TRUE(unprivileged.Lowered());
    ASSERT_TRUE(OwnPacketSocketRefused());
    const _PelorinWinCapAdapter lo = Named("lo");
    PelorinAdapter adapter(&lo);
    ASSERT_EQ(adapter.Open(), 1) << adapter.ErrorText();

    // To a socket that takes them, so no port-unreachable answer quotes the marker.
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof to;
    ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &size);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    for (int i = 0; i < 5; ++i) {
      const std::string datagram = marker + ":" + std::to_string(i);
      sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    close(sender);
    close(receiver);
    const Marked ours = ReadMarked(adapter, marker, 6);
    const Marked theirs = ReadMarked(reference, marker, 6);
    pcap_close(reference);
    // Each datagram once (the loopback's outgoing copy is passed over), byte for byte as the
    // capture library gives it: Ethernet, IPv4 and UDP headers before the datagram.
    ASSERT_EQ(ours.frames.size(), 5u);
    ExpectSameFrames(ours, theirs);
    EXPECT_EQ(ours.frames[0].size(), 14 + 20 + 8 + marker.size() + 2);
    std::uint32_t received = 0, dropped = 99;
    ASSERT_TRUE(adapter.GetStats(&received, &dropped));
    EXPECT_GE(received, 5u);
    EXPECT_EQ(dropped, 0u);
  }
}

TEST(CaptureHelper, VethFramesKeepTheirVlanTagAndPromiscuousModeNeedsNoAdministration) {
  if (geteuid() != 0) GTEST_SKIP() << "namespaces and the helper's capability need root";
  std::thread([] {
    ScratchNamespace scratch;
    ASSERT_TRUE(scratch.Entered());
    const std::string marker = "helper-veth-" + std::to_string(getpid());
    const std::vector<Bytes> sent = {EthernetFrame(false, 46, marker), EthernetFrame(true, 100, marker),
                                     EthernetFrame(false, 1500 - marker.size() - 2, marker)};
    pcap_t* reference = OpenReference("pb");
    ASSERT_NE(reference, nullptr);
    const int injector = socket(AF_PACKET, SOCK_RAW, 0);
    ASSERT_GE(injector, 0);
    sockaddr_ll out{};
    out.sll_family = AF_PACKET;
    out.sll_ifindex = static_cast<int>(if_nametoindex("pa"));
    out.sll_halen = 6;

    const int promiscuity = Promiscuity("pb");  // the capture library's handle counts one
    {
      RawCapabilityScope unprivileged;
      ASSERT_TRUE(OwnPacketSocketRefused());
      const _PelorinWinCapAdapter pb = Named("pb");
      PelorinAdapter adapter(&pb);
      ASSERT_EQ(adapter.Open(), 1) << adapter.ErrorText();
      // The helper holds CAP_NET_RAW only; the socket it passed turns promiscuous mode on.
      EXPECT_EQ(Promiscuity("pb"), promiscuity + 1);
      for (const Bytes& frame : sent)
        ASSERT_EQ(sendto(injector, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&out), sizeof out),
                  static_cast<ssize_t>(frame.size()));
      const Marked ours = ReadMarked(adapter, marker, sent.size());
      EXPECT_EQ(ours.frames, sent);  // the tag the kernel took out is back in its place
      ExpectSameFrames(ours, ReadMarked(reference, marker, sent.size()));
    }
    EXPECT_EQ(Promiscuity("pb"), promiscuity);
    close(injector);
    pcap_close(reference);
  }).join();
}

TEST(CaptureHelper, RefusedRequestsSayWhy) {
  std::string error;
  for (const std::string bad : {"", "..", "a/b", "lo:1", "name with space", "sixteen-letters0"}) {
    EXPECT_EQ(CaptureHelperClient::OpenPacketSocket(bad, &error), -1) << bad;
    EXPECT_NE(error.find("not an interface name"), std::string::npos) << bad << ": " << error;
  }
  EXPECT_EQ(CaptureHelperClient::OpenPacketSocket("nosuchif0", &error), -1);
  EXPECT_NE(error.find("no such interface"), std::string::npos) << error;
  EXPECT_EQ(CaptureHelperClient::OpenPacketSocket(std::string(100, 'x'), &error), -1);

  const std::string helper = CaptureHelperClient::ProgramPath();
  CaptureHelperClient::SetProgramPath("/nonexistent/PelorinCaptureHelper");
  EXPECT_EQ(CaptureHelperClient::OpenIcmpSocket(&error), -1);
  EXPECT_NE(error.find("could not be started"), std::string::npos) << error;
  CaptureHelperClient::SetProgramPath("");
  EXPECT_EQ(CaptureHelperClient::ProgramPath(), helper);
  // Started by hand, without the window's socket, it does nothing.
  EXPECT_EQ(WEXITSTATUS(std::system((helper + " </dev/null 2>/dev/null").c_str())), 2);
}

#pragma once
// A routed network made of namespaces of its own, for the route tests and the trace timing:
//
//   client 10.1.0.1 - 10.1.0.2 r1 10.2.0.1 - 10.2.0.2 r2 10.3.0.1 - 10.3.0.2 r3 10.4.0.1 - 10.4.0.2 target
//
// and the same over IPv6, link i + 1 being fd00:<i+1>::/64 (fd00:1::1 the client, fd00:4::2 the
// target). r2 is silent (an nft rule in its namespace drops the time-exceeded answers it sends), what the
// target sends back is delayed by 50 ms, and the target forwards 10.9.0.0/24 into a black hole,
// so a trace there ends after silent hops. The last link passes through a relay node "d" of its
// own (no address, no IP hop): with the kernel's netem the target's link is delayed by
// `tc qdisc ... netem delay 50ms`; a kernel without netem gets the delay from the relay, which
// holds each frame from the target for the delay. Names carry the process id (others test on this
// machine too); the namespaces, and the links with them, go when the object does. Needs root.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class NetnsScope;
class DelayRelay;

class RoutedTopology {
 public:
  static constexpr int kNodes = 5;  // client, r1, r2, r3, target (the relay node is no IP node)
  static constexpr const char* kClient = "10.1.0.1";
  static constexpr const char* kTarget = "10.4.0.2";
  static constexpr const char* kBlackHole = "10.9.0.1";
  static constexpr const char* kTarget6 = "fd00:4::2";
  static std::string HopAddress6(int hop) { return "fd00:" + std::to_string(hop) + "::2"; }
  // The address each hop answers from, as seen from the client.
  static std::string HopAddress(int hop) { return "10." + std::to_string(hop) + ".0.2"; }
  static constexpr int kSilentHop = 2;
  static constexpr int kDelayMs = 50;

  // silentRouter false leaves r2 answering like the others (for timings of a clean route).
  explicit RoutedTopology(bool silentRouter = true);
  ~RoutedTopology();
  RoutedTopology(const RoutedTopology&) = delete;
  RoutedTopology& operator=(const RoutedTopology&) = delete;

  bool Ok() const { return m_ok; }
  // Which delays the target's link: "netem" or "relay".
  const char* DelayBy() const { return m_netem ? "netem" : "relay"; }
  const std::string& Client() const { return m_names[0]; }
  // A command line that runs in the client namespace.
  std::string InClient(const std::string& command) const { return "ip netns exec " + Client() + " " + command; }

  static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

 private:
  bool Build(const std::string& pid) {
    // One command per step, each run in its namespace by ip netns exec: never a shell list, whose
    // later commands would run in the machine's own namespace.
    std::vector<std::string> steps;
    const auto in = [&](int node, const std::string& command) {
      steps.push_back("ip netns exec " + (node < 0 ? m_relay : m_names[node]) + " " + command);
    };
    for (const std::string& name : m_names) steps.push_back("ip netns add " + name);
    steps.push_back("ip netns add " + m_relay);
    // No duplicate address detection: the links' addresses, link-local ones too, work at once.
    in(-1, "sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0");
    for (int i = 0; i < kNodes; ++i) {
      in(i, "ip link set lo up");
      in(i, "sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 net.ipv6.conf.all.forwarding=1 "
            "net.ipv6.icmp.ratelimit=0 net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0");
    }
    // Link i joins node i (10.<i+1>.0.1) and node i + 1 (10.<i+1>.0.2); the last one runs
    // through the relay node: r3 - relay - target.
    for (int i = 0; i + 1 < kNodes; ++i) {
      const std::string a = LinkName(pid, 'a', i), b = LinkName(pid, 'b', i), net = "10." + std::to_string(i + 1) + ".0.";
      const bool relayed = i + 2 == kNodes;
      in(i, "ip link add " + a + " type veth peer name " + b + " netns " + (relayed ? m_relay : m_names[i + 1]));
      in(i, "ip addr add " + net + "1/24 dev " + a);
      in(i, "ip addr add fd00:" + std::to_string(i + 1) + "::1/64 dev " + a + " nodad");
      in(i, "ip link set " + a + " up");
      in(relayed ? -1 : i + 1, "ip link set " + b + " up");
      if (relayed) {
        const std::string d = LinkName(pid, 'd', i);
        m_targetLink = LinkName(pid, 'c', i);
        in(-1, "ip link add " + d + " type veth peer name " + m_targetLink + " netns " + m_names[i + 1]);
        in(-1, "ip link set " + d + " up");
      }
      const std::string end = relayed ? m_targetLink : b;
      in(i + 1, "ip addr add " + net + "2/24 dev " + end);
      in(i + 1, "ip addr add fd00:" + std::to_string(i + 1) + "::2/64 dev " + end + " nodad");
      in(i + 1, "ip link set " + end + " up");
    }
    // Each node reaches the subnets beyond its neighbours through them; nothing else is routed,
    // so no packet can leave the namespaces.
    for (int i = 0; i < kNodes; ++i) {
      for (int subnet = 1; subnet <= 4; ++subnet) {
        const std::string n = std::to_string(subnet), up = std::to_string(i + 1), down = std::to_string(i);
        if (subnet > i + 1) {
          in(i, "ip route add 10." + n + ".0.0/24 via 10." + up + ".0.2");
          in(i, "ip -6 route add fd00:" + n + "::/64 via fd00:" + up + "::2");
        }
        if (subnet < i) {
          in(i, "ip route add 10." + n + ".0.0/24 via 10." + down + ".0.1");
          in(i, "ip -6 route add fd00:" + n + "::/64 via fd00:" + down + "::1");
        }
      }
      in(i, i + 1 < kNodes ? "ip route add 10.9.0.0/24 via 10." + std::to_string(i + 1) + ".0.2" : "ip route add blackhole 10.9.0.0/24");
    }
    if (m_silentRouter)
      in(kSilentHop, "nft 'add table inet silent; add chain inet silent out { type filter hook output priority 0; }; "
                     "add rule inet silent out icmp type time-exceeded drop; "
                     "add rule inet silent out icmpv6 type time-exceeded drop'");
    for (const std::string& step : steps)
      if (!Run(step)) return false;
    m_netem = Run("ip netns exec " + m_names[kNodes - 1] + " tc qdisc add dev " + m_targetLink + " root netem delay " +
                  std::to_string(kDelayMs) + "ms 2>/dev/null");
    return true;
  }
  static std::string LinkName(const std::string& pid, char side, int link) {
    return "v" + pid + side + std::to_string(link);
  }

  std::vector<std::string> m_names;
  std::string m_relay;
  std::string m_targetLink;
  bool m_silentRouter = true;
  bool m_netem = false;
  std::unique_ptr<DelayRelay> m_relayThread;
  bool m_ok = false;
};

// Moves the calling thread into a named network namespace for the object's life. Threads it
// starts meanwhile are born there and stay there, as do the sockets it opens.
class NetnsScope {
 public:
  explicit NetnsScope(const std::string& name) {
    m_saved = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    m_ok = m_saved >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
  }
  ~NetnsScope() {
    if (m_ok) setns(m_saved, CLONE_NEWNET);
    if (m_saved >= 0) close(m_saved);
  }
  NetnsScope(const NetnsScope&) = delete;
  NetnsScope& operator=(const NetnsScope&) = delete;
  bool Ok() const { return m_ok; }

 private:
  int m_saved = -1;
  bool m_ok = false;
};

// Passes every frame between two interfaces of a namespace, the frames from the second held for
// a delay first. Runs on a thread of its own in that namespace until the object goes.
class DelayRelay {
 public:
  DelayRelay(const std::string& ns, const std::string& first, const std::string& second, int secondDelayMs)
      : m_thread([=, this] { Run(ns, first, second, secondDelayMs); }) {}
  ~DelayRelay() {
    m_stop.store(true);
    m_thread.join();
  }
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

 private:
  struct Frame {
    std::chrono::steady_clock::time_point due;
    std::vector<unsigned char> bytes;
  };
  static int Open(const std::string& name) {
    const int s = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ALL);
    at.sll_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      close(s);
      return -1;
    }
    return s;
  }
  void Run(const std::string& ns, const std::string& first, const std::string& second, int secondDelayMs);

  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

inline void DelayRelay::Run(const std::string& ns, const std::string& first, const std::string& second,
                            int secondDelayMs) {
  NetnsScope scope(ns);
  // The hold is only as exact as this thread's wake-ups: while a trace, mtr and traceroute run
  // their threads at once, an ordinary thread can wait several milliseconds for a processor.
  sched_param realtime{};
  realtime.sched_priority = 10;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
  const int sockets[2] = {Open(first), Open(second)};
  std::deque<Frame> held[2];  // frames due to leave by sockets[i]
  const std::chrono::milliseconds delay[2] = {std::chrono::milliseconds(0), std::chrono::milliseconds(secondDelayMs)};
  std::vector<unsigned char> buffer(65536);
  while (!m_stop.load() && sockets[0] >= 0 && sockets[1] >= 0) {
    pollfd waits[2] = {{sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}};
    poll(waits, 2, 1);
    const auto now = std::chrono::steady_clock::now();
    for (int from = 0; from < 2; ++from) {
      if (!(waits[from].revents & POLLIN)) continue;
      sockaddr_ll source{};
      socklen_t size = sizeof source;
      const ssize_t got = recvfrom(sockets[from], buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&source), &size);
      if (got <= 0 || source.sll_pkttype == PACKET_OUTGOING) continue;  // our own sends come back too
      held[1 - from].push_back(Frame{now + delay[from], std::vector<unsigned char>(buffer.begin(), buffer.begin() + got)});
    }
    for (int to = 0; to < 2; ++to) {
      while (!held[to].empty() && held[to].front().due <= std::chrono::steady_clock::now()) {
        send(sockets[to], held[to].front().bytes.data(), held[to].front().bytes.size(), 0);
        held[to].pop_front();
      }
    }
  }
  for (int s : sockets)
    if (s >= 0) close(s);
}

inline RoutedTopology::RoutedTopology(bool silentRouter) : m_silentRouter(silentRouter) {
  const std::string pid = std::to_string(getpid());
  const char* roles[kNodes] = {"c", "r1", "r2", "r3", "t"};
  for (int i = 0; i < kNodes; ++i) m_names.push_back("pt" + pid + roles[i]);
  m_relay = "pt" + pid + "d";
  m_ok = Build(pid);
  if (!m_ok) return;
  m_relayThread = std::make_unique<DelayRelay>(m_relay, LinkName(pid, 'b', kNodes - 2), LinkName(pid, 'd', kNodes - 2),
                                               m_netem ? 0 : kDelayMs);
  // The client learns the target's link address now, so no trace pays for it.
  m_ok = Run(InClient("ping -q -c 1 -W 2 ") + kTarget + " >/dev/null");
  // The first IPv6 echo may be lost while the routers learn their neighbours: a few tries.
  bool v6 = false;
  for (int attempt = 0; attempt < 3 && m_ok && !v6; ++attempt)
    v6 = Run(InClient("ping -6 -q -c 1 -W 1 ") + kTarget6 + " >/dev/null");
  m_ok = m_ok && v6;
}

inline RoutedTopology::~RoutedTopology() {
  m_relayThread.reset();
  for (const std::string& name : m_names) Run("ip netns delete " + name + " 2>/dev/null");
  Run("ip netns delete " + m_relay + " 2>/dev/null");
}

// The engine's table in the kernel: how long 256 rules take to apply, and the UDP packet rate
// through a veth pair with those 256 rules loaded and with none, in the same run.
//
// A small timed program, run as root: it works in a network namespace of its own (never the
// machine's ruleset), with the peer namespace and veth pair of the firewall tests. The rules
// name addresses other than the peer's, so every packet is looked at and passes, as most
// traffic does. Usage: FirewallRulesBench [seconds per rate round, default 1] [rounds, default 5]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "../tests/firewall/PeerNamespace.h"
#include "../tests/firewall/PrivateNetwork.h"
#include "RamparoNftTable.h"
#include "RamparoRuleSet.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<_FirewallRule> Rules(int count) {
  std::vector<_FirewallRule> rules(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    _FirewallRule& rule = rules[static_cast<std::size_t>(i)];
    rule.active = 1;
    rule.kind = 1;
    // 10.200.x.y, and every fourth rule a range of 8 addresses.
    const std::uint32_t start = (10u << 24) | (200u << 16) | static_cast<std::uint32_t>(i * 16);
    rule.entries[kRuleRangeStart] = {htonl(start), 0xFFFFFFFFu, 0, 0};
    if (i % 4 == 0) rule.entries[kRuleRangeEnd] = {htonl(start + 7), 0xFFFFFFFFu, 0, 0};
  }
  return rules;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Datagrams received a second, and datagrams sent per second of the sender's processor time.
// The filter hooks run in the sending thread, so the second figure is the cost of a datagram's
// way out: it hardly moves with the machine's load, nor with how fast the receiving thread
// keeps up (a slow receiver drops datagrams at its socket, which the first figure counts).
struct Rate {
  double wall;
  double cpu;
};

// Datagrams of 64 bytes sent as fast as one thread can for the given time; those received.
Rate UdpRate(const PeerNamespace& peer, double seconds) {
  const int receiver = peer.InPeerThread([] {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(5999);
    self.sin_addr.s_addr = ::inet_addr(PeerNamespace::kPeer);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&self), sizeof self);
    timeval wait{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return fd;
  });
  std::atomic<bool> done{false};
  std::atomic<long> received{0};
  std::thread counter([&] {
    char buffer[2048];
    while (!done.load())
      if (::recv(receiver, buffer, sizeof buffer, 0) > 0) received.fetch_add(1, std::memory_order_relaxed);
  });
  const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(5999);
  to.sin_addr.s_addr = ::inet_addr(PeerNamespace::kPeer);
  char payload[64] = {};
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  const long before = received.load();
  const auto start = Clock::now();
  const double cpuStart = ThreadCpuSeconds();
  long sent = 0;
  while (Clock::now() < end)
    for (int i = 0; i < 64; ++i)
      if (::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0) ++sent;
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = ThreadCpuSeconds() - cpuStart;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // what is still under way
  done = true;
  counter.join();
  ::close(sender);
  ::close(receiver);
  return {static_cast<double>(received.load() - before) / elapsed, static_cast<double>(sent) / cpu};
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  if (!InPrivateNetwork()) {
    std::fprintf(stderr, "FirewallRulesBench: run as root (it needs a network namespace of its own)\n");
    return 1;
  }
  PeerNamespace peer;
  RamparoNftTable table;
  if (!peer.Ok()) {
    std::fprintf(stderr, "FirewallRulesBench: cannot make the veth pair\n");
    return 1;
  }
  RamparoEngineSettings settings;
  settings.blockAll = 1;
  settings.blockDirections = 3;
  settings.logBlocks = 1;
  const std::vector<_FirewallRule> rules = Rules(256);

  std::vector<double> build;
  std::vector<double> apply;
  for (int round = 0; round < 20; ++round) {
    const auto start = Clock::now();
    const std::string batch = RamparoRuleSet::Build(rules, settings, nullptr);
    const auto built = Clock::now();
    std::string error;
    if (!table.Run(batch, &error)) {
      std::fprintf(stderr, "FirewallRulesBench: the kernel refused the table: %s\n", error.c_str());
      return 1;
    }
    build.push_back(std::chrono::duration<double, std::milli>(built - start).count());
    apply.push_back(std::chrono::duration<double, std::milli>(Clock::now() - built).count());
  }
  std::printf("256 rules (192 addresses, 64 ranges; both directions, logged): build %.2f ms, apply %.2f ms, "
              "total %.2f ms (median of 20; goal < 50 ms)\n",
              Median(build), Median(apply), Median(build) + Median(apply));

  // Rounds alternate, so every rate sees the same machine load. The table without rules tells
  // the cost of the hooks themselves from that of the rules.
  std::vector<Rate> none;
  std::vector<Rate> hooks;
  std::vector<Rate> loaded;
  const std::string empty = RamparoRuleSet::Build({}, settings, nullptr);
  const std::string full = RamparoRuleSet::Build(rules, settings, nullptr);
  for (int round = 0; round < rounds; ++round) {
    table.Run(RamparoRuleSet::Remove());
    none.push_back(UdpRate(peer, seconds));
    table.Run(empty);
    hooks.push_back(UdpRate(peer, seconds));
    table.Run(full);
    loaded.push_back(UdpRate(peer, seconds));
  }
  table.Run(RamparoRuleSet::Remove());
  auto median = [](const std::vector<Rate>& rates, double Rate::*field) {
    std::vector<double> values;
    for (const Rate& rate : rates) values.push_back(rate.*field);
    return Median(values);
  };
  for (const auto& [what, field] : {std::pair{"a second", &Rate::wall}, std::pair{"sent per CPU second", &Rate::cpu}})
    std::printf(
        "UDP 64-byte datagrams through the veth pair, %s (median of %d rounds of %.1f s): no table %.0f, table "
        "without rules %.0f, 256 rules %.0f; ratio 256 rules / none %.3f (goal >= 0.9)\n",
        what, rounds, seconds, median(none, field), median(hooks, field), median(loaded, field),
        median(loaded, field) / median(none, field));
  return 0;
}

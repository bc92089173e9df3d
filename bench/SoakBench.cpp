// Soak run: the four panes (packets capturing lo with logging on, connections, protocol and IP
// statistics) run together for a long time while a sender of this program's own sends UDP on lo
// at a steady rate and TCP connections open and close. Every minute it prints the resident memory
// of the process and what the panes have done; at the end the kernel's drop count for the packet
// pane's capture and how long the shutdown of all four took. Needs root (capture on lo).
// The connections pane keeps a row for every connection that has gone unless it shows current
// connections only (--current-only), so without that its rows, and the memory, grow with the
// connections made.
//
//   build-rel/bin/SoakBench [--minutes=30] [--rate=5000] [--current-only]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

std::uint16_t PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// UDP datagrams of 64 payload bytes to a socket of our own (drained, so lo answers with no ICMP),
// paced to rate per second.
void SendUdp(const std::atomic<bool>& stop, int rate, std::atomic<std::uint64_t>& sent) {
  const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in to = Loopback(0);
  ::bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to);
  to = Loopback(PortOf(receiver));
  const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  char payload[64] = "soak";
  char drain[2048];
  const auto start = Clock::now();
  std::uint64_t count = 0;
  while (!stop.load()) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const auto due = static_cast<std::uint64_t>(elapsed) * static_cast<std::uint64_t>(rate) / 1000000;
    if (count >= due) {
      while (::recv(receiver, drain, sizeof drain, 0) > 0) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      continue;
    }
    ::sendto(sender, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    sent.store(++count, std::memory_order_relaxed);
  }
  ::close(sender);
  ::close(receiver);
}

// TCP connections on lo coming and going: one opened every 100 ms, at most 30 open at once.
void ChurnConnections(const std::atomic<bool>& stop, std::atomic<std::uint64_t>& made) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 64);
  address = Loopback(PortOf(listener));
  std::deque<std::pair<int, int>> open;
  while (!stop.load()) {
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      open.emplace_back(client, ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
      made.fetch_add(1);
    } else {
      ::close(client);
    }
    while (open.size() > 30) {
      ::close(open.front().first);
      ::close(open.front().second);
      open.pop_front();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (auto [a, b] : open) {
    ::close(a);
    ::close(b);
  }
  ::close(listener);
}

}  // namespace

int main(int argc, char** argv) {
  int minutes = 30, rate = 5000;
  bool currentOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--current-only") == 0) currentOnly = true;
    if (std::strncmp(argv[i], "--minutes=", 10) == 0) minutes = std::atoi(argv[i] + 10);
    if (std::strncmp(argv[i], "--rate=", 7) == 0) rate = std::atoi(argv[i] + 7);
  }
  if (::geteuid() != 0) {
    std::fprintf(stderr, "SoakBench captures on lo and needs root\n");
    return 2;
  }
  char pattern[] = "/tmp/pelorin-soak-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("PELORIN_REGISTRY", (folder + "/registry.reg").c_str(), 1);
  std::filesystem::current_path(folder);
  UiPump::Instance().AttachToCurrentThread();
  AppProfile app;
  app.WriteProfileString("", "IpMonLogCurrent", folder + "/PelorinProLogPkt.rec");
  app.WriteProfileString("", "IpConnectLogCurrent", folder + "/PelorinProLogConnect.rec");
  app.WriteProfileInt("", "AdapterCurr", 0);
  app.WriteProfileString("", "AdapterCurrName", "lo");
  app.WriteProfileString("", "AdapterCurrDesc", "loopback");
  app.WriteProfileInt("", "ScanStats", 1);

  auto packets = std::make_unique<MonListIpMon>(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
  auto connections = std::make_unique<MonListMon>(&app, "Connections", "PelorinPro");
  auto protocols = std::make_unique<MonListStat>(&app, "PelorinPro");
  auto ip = std::make_unique<MonListStatIp>(&app, "PelorinPro");
  if (packets->MonListCreate(nullptr, 1024, Rect{0, 0, 800, 300}) != 0 ||
      connections->MonListCreate(nullptr, 1025, Rect{0, 0, 800, 300}) != 0 ||
      protocols->MonListCreate(nullptr, 1026, Rect{0, 0, 800, 300}) != 0 ||
      ip->MonListCreate(nullptr, 1027, Rect{0, 0, 800, 300}) != 0) {
    std::fprintf(stderr, "a pane could not be created\n");
    return 1;
  }
  connections->Scanner()->SetScan(1000);
  connections->SetShowCurrentOnly(currentOnly ? 1 : 0);
  packets->ListStart();
  connections->ListStart();
  protocols->ListStart();
  ip->ListStart();
  MonListIpMonCWinThread* capture = packets->GetCaptureThread();
  if (!capture->GetIdleMessage()) {
    std::fprintf(stderr, "capture on lo did not start\n");
    return 1;
  }

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> sent{0}, made{0};
  std::thread udp(SendUdp, std::cref(stop), rate, std::ref(sent));
  std::thread tcp(ChurnConnections, std::cref(stop), std::ref(made));

  std::printf("soak: %d min, %d packets/s on lo, four panes; load %s\n", minutes, rate, LoadAverage().c_str());
  std::printf("minute  rss_kb  packets_sent  frames_read  packet_rows  connections  connection_rows  passes  load\n");
  const auto start = Clock::now();
  std::vector<long> resident;
  for (int minute = 1; minute <= minutes; ++minute) {
    UiPump::Instance().PumpUntil([&] { return Clock::now() - start >= std::chrono::minutes(minute); }, 61000);
    resident.push_back(ResidentKb());
    std::printf("%6d  %6ld  %12llu  %11llu  %11d  %11llu  %15d  %6llu  %s\n", minute, resident.back(),
                static_cast<unsigned long long>(sent.load()), static_cast<unsigned long long>(capture->GetFramesRead()),
                packets->GetItemCount(), static_cast<unsigned long long>(made.load()), connections->GetItemCount(),
                static_cast<unsigned long long>(connections->Scanner()->GetPassCount()), LoadAverage().c_str());
    std::fflush(stdout);
  }
  stop.store(true);
  udp.join();
  tcp.join();

  const auto closing = Clock::now();
  packets->ListStop();
  std::uint32_t received = 0, dropped = 0;
  capture->GetCaptureStats(&received, &dropped);
  packets->ProcessClose();
  connections->ProcessClose();
  protocols->ProcessClose();
  ip->ProcessClose();
  packets.reset();
  connections.reset();
  protocols.reset();
  ip.reset();
  const double shutdownMs = std::chrono::duration<double, std::milli>(Clock::now() - closing).count();
  UiPump::Instance().PumpPending();

  std::printf("kernel: received %u, dropped %u\n", received, dropped);
  if (resident.size() >= 2) {
    const double perTenMinutes = static_cast<double>(resident.back() - resident.front()) /
                                 static_cast<double>(resident.size() - 1) * 10.0;
    std::printf("rss after minute 1: %ld kB, at the end: %ld kB, growth %.0f kB per 10 min (goal < 1024)\n",
                resident.front(), resident.back(), perTenMinutes);
  }
  std::printf("shutdown of the four panes: %.0f ms\n", shutdownMs);
  std::error_code ignored;
  std::filesystem::current_path("/", ignored);
  std::filesystem::remove_all(folder, ignored);
  return dropped == 0 ? 0 : 1;
}

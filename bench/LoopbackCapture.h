#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "platform/AppProfile.h"

// Live capture of lo by the packet pane, logging to folder/PelorinProLogPkt.rec with the largest
// page, so that the pane's rows are cleared as seldom as they can be.
inline void UseLoopbackCapture(AppProfile& app, const std::string& folder) {
  app.WriteProfileString("", "IpMonLogCurrent", folder + "/PelorinProLogPkt.rec");
  app.WriteProfileInt("", "LogPageSize", 10000);
  app.WriteProfileInt("", "LogIpMon", 1);
  app.WriteProfileInt("", "AdapterCurr", 0);
  app.WriteProfileString("", "AdapterCurrName", "lo");
  app.WriteProfileString("", "AdapterCurrDesc", "loopback");
}

// Sends 64-byte UDP datagrams to 127.0.0.1:port at rate a second, paced by the millisecond,
// until stop is set; returns how many were sent.
inline long SendUdpSteadily(int port, long rate, std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  char payload[64];
  std::memset(payload, 'p', sizeof payload);
  long sent = 0;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  const auto start = Clock::now();
  while (!stop.load()) {
    next.tv_nsec += 1000000;  // 1 ms ticks
    if (next.tv_nsec >= 1000000000) {
      next.tv_nsec -= 1000000000;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    // Catch up to where the rate says we should be, so a late tick does not lower the rate.
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const long due = static_cast<long>(elapsed * static_cast<double>(rate));
    for (; sent < due; ++sent) sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  close(fd);
  return sent;
}

// A bound UDP socket on 127.0.0.1 that a thread keeps reading, so that datagrams sent to it draw
// no port-unreachable replies into the traffic.
class UdpSink {
 public:
  UdpSink() {
    m_fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_drain = std::thread([this] {
      char buffer[256];
      while (m_draining.load())
        if (recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) usleep(200);
    });
  }
  ~UdpSink() {
    m_draining.store(false);
    m_drain.join();
    close(m_fd);
  }
  UdpSink(const UdpSink&) = delete;
  UdpSink& operator=(const UdpSink&) = delete;
  int Port() const { return m_port; }

 private:
  int m_fd = -1;
  int m_port = 0;
  std::atomic<bool> m_draining{true};
  std::thread m_drain;
};

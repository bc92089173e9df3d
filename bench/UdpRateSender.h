#pragma once
// Sends UDP datagrams at a steady rate through a connected socket, in batches of sendmmsg: the
// sender of the live capture benches.
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

// payload-byte datagrams at rate a second (0: without pause) for the given seconds through the
// connected socket fd; the number sent.
inline long SendUdpAtRate(int fd, long rate, int payload, int seconds) {
  using Clock = std::chrono::steady_clock;
  std::vector<char> bytes(static_cast<std::size_t>(payload), 'p');
  constexpr int kBatch = 64;
  iovec part{bytes.data(), bytes.size()};
  mmsghdr messages[kBatch]{};
  for (mmsghdr& m : messages) {
    m.msg_hdr.msg_iov = &part;
    m.msg_hdr.msg_iovlen = 1;
  }
  long sent = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::seconds(seconds);
  timespec tick{};
  clock_gettime(CLOCK_MONOTONIC, &tick);
  for (;;) {
    const auto now = Clock::now();
    if (now >= end) break;
    long due = kBatch;
    if (rate > 0) {
      // Catch up to where the rate says we should be, so a late tick does not lower the rate.
      due = static_cast<long>(std::chrono::duration<double>(now - start).count() * static_cast<double>(rate)) - sent;
    }
    while (due > 0) {
      const int n = sendmmsg(fd, messages, static_cast<unsigned>(std::min<long>(due, kBatch)), 0);
      if (n <= 0) break;  // a full queue: the next round tries again
      sent += n;
      due -= n;
    }
    if (rate > 0) {
      tick.tv_nsec += 1000000;  // 1 ms ticks
      if (tick.tv_nsec >= 1000000000) {
        tick.tv_nsec -= 1000000000;
        ++tick.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
    }
  }
  return sent;
}

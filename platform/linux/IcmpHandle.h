#pragma once
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/EventSignal.h"
#include "platform/Handle.h"
#include "platform/IcmpApi.h"

// What an ICMP handle of either family holds: one socket with an identifier of its own, the
// handle's sequence numbers, its cancel signal, and a lock that lets one request at a time use it.
class IcmpHandle : public HandleObject {
 public:
  static constexpr DWORD kKind = 0x49434D50;  // "ICMP"

  IcmpHandle(int socket, int family, std::uint16_t identifier, bool ping)
      : HandleObject(kKind), m_socket(socket), m_family(family), m_identifier(identifier), m_ping(ping) {}
  ~IcmpHandle() override;

  int Socket() const { return m_socket; }
  int Family() const { return m_family; }
  bool IsPing() const { return m_ping; }
  std::uint16_t Identifier() const { return m_identifier; }
  std::uint16_t NextSequence() { return static_cast<std::uint16_t>(m_sequence.fetch_add(1) + 1); }
  EventSignal& Cancel() { return m_cancel; }
  std::mutex& RequestLock() { return m_requestLock; }

  // Waits until deadline for take(errors) to find the answer: it is called whenever the socket
  // has a packet (errors set when a ping socket has one on its error queue) and returns true once
  // it has taken ours. 1 then; else 0 with IP_REQ_TIMED_OUT, ERROR_CANCELLED or IP_GENERAL_FAILURE.
  template <typename Take>
  DWORD AwaitAnswer(std::chrono::steady_clock::time_point deadline, Take take);

 private:
  int m_socket;
  int m_family;  // AF_INET or AF_INET6
  std::uint16_t m_identifier;
  bool m_ping;  // a ping socket: answers without their IP header, errors on the error queue
  std::atomic<std::uint32_t> m_sequence{0};
  EventSignal m_cancel;
  std::mutex m_requestLock;
};

// The last error for a failed send, 0 returned.
DWORD IcmpFail(DWORD error);
// The status of a send that failed with errno.
DWORD IcmpSendError(int error);
// A ping socket of the family, where net.ipv4.ping_group_range holds one of the user's groups (it
// rules both families), with the identifier the kernel chose for it; -1 when there is none.
int IcmpOpenPingSocket(int family, std::uint16_t* identifier);
// A new identifier for a raw socket's handle.
std::uint16_t IcmpNextIdentifier();
// The ICMP checksum of data (the kernel computes that of ICMPv6).
std::uint16_t IcmpChecksum(const std::uint8_t* data, std::size_t size);
// The realtime clock in ns: the clock of the kernel's arrival stamps.
std::int64_t IcmpRealtimeNs();

template <typename Take>
DWORD IcmpHandle::AwaitAnswer(std::chrono::steady_clock::time_point deadline, Take take) {
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return IcmpFail(IP_REQ_TIMED_OUT);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    pollfd waits[2] = {{m_socket, POLLIN, 0}, {m_cancel.Descriptor(), POLLIN, 0}};
    const int ready = poll(waits, waits[1].fd >= 0 ? 2 : 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return IcmpFail(IP_GENERAL_FAILURE);
    if (ready <= 0) continue;
    if (waits[1].revents & POLLIN) return IcmpFail(ERROR_CANCELLED);
    // A ping socket tells of an error answer by POLLERR.
    const bool errors = m_ping && (waits[0].revents & POLLERR) != 0;
    if (!errors && !(waits[0].revents & POLLIN)) continue;
    if (take(errors)) return 1;
  }
}

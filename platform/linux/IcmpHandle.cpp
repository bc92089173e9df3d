#include "platform/linux/IcmpHandle.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <time.h>
#include <unistd.h>

#include "platform/LastError.h"

namespace {

std::atomic<std::uint32_t> g_nextIdentifier{0};

}  // namespace

IcmpHandle::~IcmpHandle() { close(m_socket); }

DWORD IcmpFail(DWORD error) {
  SetLastError(error);
  return 0;
}

DWORD IcmpSendError(int error) {
  switch (error) {
    case EMSGSIZE:
      return IP_PACKET_TOO_BIG;
    case ENETUNREACH:
      return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
      return IP_DEST_HOST_UNREACHABLE;
    case ENOBUFS:
    case ENOMEM:
      return IP_NO_RESOURCES;
    default:
      return IP_GENERAL_FAILURE;
  }
}

// Distinct identifiers for the handles of this process, starting from the process id so that
// two programs tracing at once rarely share one (and the sequence tells them apart when they do).
std::uint16_t IcmpNextIdentifier() {
  static const std::uint32_t base = static_cast<std::uint32_t>(getpid()) * 2654435761u;
  return static_cast<std::uint16_t>((base >> 16) + g_nextIdentifier.fetch_add(1));
}

std::uint16_t IcmpChecksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

int IcmpOpenPingSocket(int family, std::uint16_t* identifier) {
  const int s = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
  if (s < 0) return -1;
  sockaddr_storage bound{};
  bound.ss_family = static_cast<sa_family_t>(family);
  socklen_t size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (bind(s, reinterpret_cast<sockaddr*>(&bound), size) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    close(s);
    return -1;
  }
  // The port field lies at the same place in both families' addresses.
  *identifier = ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
  return s;
}

std::int64_t IcmpRealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

#include "platform/linux/SockDiag.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The kernel sends dump parts of at most 32 KiB; one receive takes a whole part.
constexpr std::size_t kReceiveBuffer = 65536;  // bytes

class NetlinkSocket {
 public:
  NetlinkSocket() : m_fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
  ~NetlinkSocket() {
    if (m_fd >= 0) ::close(m_fd);
  }
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;
  int Fd() const { return m_fd; }

 private:
  int m_fd;
};

struct Request {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

int Send(int fd, Request& request) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  for (;;) {
    const ssize_t n = ::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
                               sizeof kernel);
    if (n == static_cast<ssize_t>(sizeof request)) return 0;
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? errno : EIO;
  }
}

ssize_t Receive(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

// The error a NLMSG_ERROR message carries (0 = an acknowledgement), bounded by its length.
int ErrorOf(const nlmsghdr* message) {
  if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return EIO;
  const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
  return -error->error;
}

}  // namespace

int DumpInetSockets(int family, int protocol, std::uint32_t stateMask,
                    const std::function<void(const InetSocket&)>& each) {
  NetlinkSocket socket;
  if (socket.Fd() < 0) return errno;

  Request request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.body.sdiag_family = static_cast<std::uint8_t>(family);
  request.body.sdiag_protocol = static_cast<std::uint8_t>(protocol);
  request.body.idiag_states = stateMask;
  if (const int error = Send(socket.Fd(), request)) return error;

  alignas(nlmsghdr) static thread_local char buffer[kReceiveBuffer];
  for (;;) {
    const ssize_t received = Receive(socket.Fd(), buffer, sizeof buffer);
    if (received < 0) return errno;
    if (received == 0) return EIO;
    std::size_t left = static_cast<std::size_t>(received);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_DONE) return 0;
      if (message->nlmsg_type == NLMSG_ERROR) {
        const int error = ErrorOf(message);
        return error != 0 ? error : EIO;
      }
      if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return EIO;
      const auto* diag = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
      if (diag->idiag_family != family) continue;
      InetSocket entry;
      entry.state = diag->idiag_state;
      if (family == AF_INET6) {
        std::memcpy(entry.localAddr6, diag->id.idiag_src, sizeof entry.localAddr6);
        std::memcpy(entry.remoteAddr6, diag->id.idiag_dst, sizeof entry.remoteAddr6);
        entry.interface = diag->id.idiag_if;
      } else {
        entry.localAddr = diag->id.idiag_src[0];
        entry.remoteAddr = diag->id.idiag_dst[0];
      }
      entry.localPort = diag->id.idiag_sport;
      entry.remotePort = diag->id.idiag_dport;
      entry.inode = diag->idiag_inode;
      each(entry);
    }
  }
}

namespace {

// Tears down the TCP socket of the family whose addresses (network order, 16 bytes for IPv6,
// 4 for IPv4) and ports are given.
int DestroyTcp(std::uint8_t family, const void* localAddr, std::uint16_t localPort, const void* remoteAddr,
               std::uint16_t remotePort) {
  NetlinkSocket socket;
  if (socket.Fd() < 0) return errno;

  Request request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DESTROY;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
  request.header.nlmsg_seq = 1;
  request.body.sdiag_family = family;
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = ~0u;
  const std::size_t length = family == AF_INET6 ? 16 : 4;
  std::memcpy(request.body.id.idiag_src, localAddr, length);
  std::memcpy(request.body.id.idiag_dst, remoteAddr, length);
  request.body.id.idiag_sport = localPort;
  request.body.id.idiag_dport = remotePort;
  // No cookie: the socket is found by its addresses and ports alone.
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  if (const int error = Send(socket.Fd(), request)) return error;

  alignas(nlmsghdr) char buffer[4096];
  for (;;) {
    const ssize_t received = Receive(socket.Fd(), buffer, sizeof buffer);
    if (received < 0) return errno;
    if (received == 0) return EIO;
    std::size_t left = static_cast<std::size_t>(received);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_ERROR) return ErrorOf(message);
    }
  }
}

}  // namespace

int DestroyTcpSocket(std::uint32_t localAddr, std::uint16_t localPort, std::uint32_t remoteAddr,
                     std::uint16_t remotePort) {
  return DestroyTcp(AF_INET, &localAddr, localPort, &remoteAddr, remotePort);
}

int DestroyTcpSocket6(const std::uint8_t* localAddr, std::uint16_t localPort, const std::uint8_t* remoteAddr,
                      std::uint16_t remotePort) {
  return DestroyTcp(AF_INET6, localAddr, localPort, remoteAddr, remotePort);
}

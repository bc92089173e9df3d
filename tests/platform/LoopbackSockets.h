#pragma once
// Real sockets on 127.0.0.1 for the table and counter tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd = -1;
};

inline sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// The address and port (network byte order) a socket is bound to.
inline sockaddr_in LocalOf(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  return a;
}

inline Fd TcpListener() {
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a = Loopback(0);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd.get(), 64) != 0)
    return Fd();
  return fd;
}

struct TcpPair {
  Fd client;
  Fd server;
};

// A connected client and its accepted server side.
inline TcpPair ConnectTo(int listener) {
  TcpPair pair;
  pair.client = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a = LocalOf(listener);
  if (::connect(pair.client.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return TcpPair{};
  pair.server = Fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  return pair;
}

inline Fd UdpSocket() {
  Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in a = Loopback(0);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  return fd;
}

// True when the socket becomes readable within the time.
inline bool WaitReadable(int fd, int milliseconds) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, milliseconds) == 1;
}

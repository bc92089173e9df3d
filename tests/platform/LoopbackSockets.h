#pragma once
// Real sockets on 127.0.0.1 for the table and counter tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
  }
  ~Fd() { Close(); }
  int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
  }

 private:
  int m_fd;
};

// The address and port (network byte order) a socket is bound to.
inline sockaddr_in LocalOf(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  return a;
}

// A socket of the type bound to 127.0.0.1 on a free port (listening when it is TCP).
inline Fd BoundSocket(int type) {
  Fd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      (type == SOCK_STREAM && ::listen(fd.get(), 64) != 0))
    return Fd();
  return fd;
}
inline Fd TcpListener() { return BoundSocket(SOCK_STREAM); }
inline Fd UdpSocket() { return BoundSocket(SOCK_DGRAM); }

// A connected client and its accepted server side.
struct TcpPair {
  Fd client;
  Fd server;
};
inline TcpPair ConnectTo(int listener) {
  TcpPair pair{Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), Fd()};
  sockaddr_in a = LocalOf(listener);
  if (::connect(pair.client.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
    pair.server = Fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  return pair;
}

inline bool WaitReadable(int fd, int milliseconds) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, milliseconds) == 1;
}

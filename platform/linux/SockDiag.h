#pragma once
#include <cstdint>
#include <functional>

// The kernel's socket dump (netlink sock_diag, inet_diag) for IPv4 and IPv6 TCP and UDP sockets,
// and the destruction of one TCP socket (SOCK_DESTROY).

struct InetSocket {
  std::uint8_t state = 0;        // the kernel's TCP state number (UDP: 7 unconnected, 1 connected)
  std::uint32_t localAddr = 0;   // network byte order
  std::uint32_t remoteAddr = 0;  // network byte order
  std::uint16_t localPort = 0;   // network byte order
  std::uint16_t remotePort = 0;  // network byte order
  std::uint32_t inode = 0;       // 0 when no file holds the socket (TIME_WAIT, orphans)
  // IPv6 sockets only: the addresses (network order) and the interface the socket is bound to.
  std::uint8_t localAddr6[16] = {};
  std::uint8_t remoteAddr6[16] = {};
  std::uint32_t interface = 0;
};

// Calls `each` for every socket of the family (AF_INET or AF_INET6) and protocol (IPPROTO_TCP or
// IPPROTO_UDP) whose state is in the mask (bit n = kernel state n). Returns 0, or an errno
// value: the socket dump could not be opened, was refused or ended early (EAFNOSUPPORT or ENOENT
// for a kernel without the family). A failed dump may have delivered some sockets.
int DumpInetSockets(int family, int protocol, std::uint32_t stateMask,
                    const std::function<void(const InetSocket&)>& each);

// Tears down the TCP socket with this four-tuple (addresses and ports in network byte order).
// Returns 0 or an errno value: ENOENT no such socket, EPERM not privileged, EOPNOTSUPP the
// kernel lacks socket destruction.
int DestroyTcpSocket(std::uint32_t localAddr, std::uint16_t localPort, std::uint32_t remoteAddr,
                     std::uint16_t remotePort);
// The same for an IPv6 socket: 16-byte addresses in network order.
int DestroyTcpSocket6(const std::uint8_t* localAddr, std::uint16_t localPort, const std::uint8_t* remoteAddr,
                      std::uint16_t remotePort);

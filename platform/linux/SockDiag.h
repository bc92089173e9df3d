#pragma once
#include <cstdint>
#include <functional>

// The kernel's socket dump (netlink sock_diag, inet_diag) for IPv4 TCP and UDP sockets, and
// the destruction of one TCP socket (SOCK_DESTROY).

struct InetSocket {
  std::uint8_t state = 0;        // the kernel's TCP state number (UDP: 7 unconnected, 1 connected)
  std::uint32_t localAddr = 0;   // network byte order
  std::uint32_t remoteAddr = 0;  // network byte order
  std::uint16_t localPort = 0;   // network byte order
  std::uint16_t remotePort = 0;  // network byte order
  std::uint32_t inode = 0;       // 0 when no file holds the socket (TIME_WAIT, orphans)
};

// Calls `each` for every IPv4 socket of the protocol (IPPROTO_TCP or IPPROTO_UDP) whose state
// is in the mask (bit n = kernel state n). Returns 0, or an errno value: the socket dump could
// not be opened, was refused or ended early. A failed dump may have delivered some sockets.
int DumpInetSockets(int protocol, std::uint32_t stateMask, const std::function<void(const InetSocket&)>& each);

// Tears down the TCP socket with this four-tuple (addresses and ports in network byte order).
// Returns 0 or an errno value: ENOENT no such socket, EPERM not privileged, EOPNOTSUPP the
// kernel lacks socket destruction.
int DestroyTcpSocket(std::uint32_t localAddr, std::uint16_t localPort, std::uint32_t remoteAddr,
                     std::uint16_t remotePort);

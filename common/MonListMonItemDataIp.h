#pragma once
#include <cstddef>
#include <cstdint>

// The first 24 bytes of a connections row record: the link record handed to the link monitor,
// the firewall rule editor and the route window (which read the address of interest at offset 4).
struct _MonListMonItemDataIp {
  std::uint32_t state;        // TCP state 1..12, UDP 1, 0xFFFFFFFF once disconnected
  std::uint32_t localAddr;    // network byte order
  std::uint32_t localPort;    // host byte order
  std::uint32_t remoteAddr;   // network byte order, 0 for UDP
  std::uint32_t remotePort;   // host byte order, 0 for UDP
  std::uint32_t connectTime;  // seconds since 1970-01-01 UTC
};

static_assert(sizeof(_MonListMonItemDataIp) == 24);
static_assert(offsetof(_MonListMonItemDataIp, localAddr) == 4);
static_assert(offsetof(_MonListMonItemDataIp, localPort) == 8);
static_assert(offsetof(_MonListMonItemDataIp, remoteAddr) == 12);
static_assert(offsetof(_MonListMonItemDataIp, remotePort) == 16);
static_assert(offsetof(_MonListMonItemDataIp, connectTime) == 20);

constexpr std::uint32_t kStateDisconnected = 0xFFFFFFFFu;

#pragma once
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/TraceHopResult.h"
#include "common/WinTypes.h"

// The address of a trace's target or route point, of either family: IPv4 in network byte order
// in the first four bytes, or the 16 bytes of an IPv6 address with the scope of a link-local one.
struct TraceAddress {
  int family = AF_INET;
  std::array<std::uint8_t, 16> bytes{};
  std::uint32_t scopeId = 0;

  static TraceAddress FromV4(DWORD address);
  static TraceAddress FromV6(const std::uint8_t* address, std::uint32_t scopeId = 0);
  // Dotted decimal (the sockets library's classic forms too) or IPv6 text, an IPv4-mapped one
  // being IPv4; nothing for any other text.
  static std::optional<TraceAddress> Parse(const std::string& text);
  // The address a hop's record holds.
  static TraceAddress OfHop(const _TraceHopResult& hop);

  bool IsV6() const { return family == AF_INET6; }
  DWORD V4() const;  // network byte order; 0 for IPv6
  // "a.b.c.d", or the shortest IPv6 text.
  std::string Text() const;
  // Into a hop's record: the IPv4 field or the IPv6 one, the other left zero.
  void StoreIn(_TraceHopResult* hop) const;

  // The same address: the scope says how to reach it, not which it is.
  bool operator==(const TraceAddress& other) const { return family == other.family && bytes == other.bytes; }
};

#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/IcmpApi.h"

// What an answer in a received IPv4 packet says about an echo request, if it is about it: an
// echo reply that carries the request's identifier and sequence from the address asked, or an
// error that quotes the request. data points into the packet, bounded by its captured size and
// its own total length.
struct IcmpAnswer {
  bool ours = false;
  IPAddr from = 0;           // IPv4
  std::uint8_t from6[16]{};  // IPv6
  DWORD status = IP_SUCCESS;
  const std::uint8_t* data = nullptr;
  std::size_t dataSize = 0;
  unsigned char ttl = 0;
  unsigned char tos = 0;
  unsigned char flags = 0;
};

IcmpAnswer ReadIcmpAnswer(const std::uint8_t* packet, std::size_t size, IPAddr destination, std::uint16_t identifier,
                          std::uint16_t sequence);

// The same for an ICMPv6 message (as a raw ICMPv6 socket receives it: without its IPv6 header)
// that came from the 16-byte address from; ttl and tos are left for the caller.
IcmpAnswer ReadIcmp6Answer(const std::uint8_t* message, std::size_t size, const std::uint8_t* from,
                           const std::uint8_t* destination, std::uint16_t identifier, std::uint16_t sequence);

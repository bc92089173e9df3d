#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The engine's reply to the statistics request, read from the payload:
//
//   0   length L of the first area (32-bit signed)
//   4   entry count N (32-bit signed)
//   8   IPv4 address of the engine's machine A0 (network byte order)
//   12  reserved, 0 (the console computes the two areas itself and writes nothing here)
//   16  reserved, 0
//   20  first area: a 68-byte lead (the engine's), then N entries of 48 bytes:
//         0 block count, 4 family (0 IPv4, 6 IPv6), 8 rule code (signed), 12 first IPv6 address,
//         32 protocol value, 40 first port, 42 second port
//   21 + L  second area: N entries of 24 bytes: 0 first IPv4 address, 12 second IPv4 address;
//         an IPv6 entry has 0 there and its second IPv6 address at 4
//
// A negative rule code counts outgoing blocks, a non-negative one incoming blocks.
struct RampaStatisticsEntry {
  std::uint32_t blockCount = 0;
  std::int32_t ruleCode = 0;
  std::uint32_t protocol = 0;
  std::uint16_t firstPort = 0;
  std::uint16_t secondPort = 0;
  std::uint32_t firstAddress = 0;   // network byte order
  std::uint32_t secondAddress = 0;  // network byte order
  bool ipv6 = false;                // the addresses are the 16-byte ones, the IPv4 ones 0
  std::uint8_t firstAddress6[16] = {};
  std::uint8_t secondAddress6[16] = {};
};

struct RampaStatisticsReply {
  enum class Status {
    Ok,       // entries hold the reply
    Ignored,  // L or N not positive, or no engine address: nothing to show
    Refused,  // the reply claims more than the payload holds
  };

  static constexpr std::size_t kLength = 0;
  static constexpr std::size_t kCount = 4;
  static constexpr std::size_t kEngineAddress = 8;
  static constexpr std::size_t kFirstAreaField = 12;
  static constexpr std::size_t kSecondAreaField = 16;
  static constexpr std::size_t kFirstArea = 20;
  static constexpr std::size_t kLeadSize = 68;
  static constexpr std::size_t kFirstEntrySize = 48;
  static constexpr std::size_t kSecondAreaBase = 21;  // + L
  static constexpr std::size_t kSecondEntrySize = 24;
  static constexpr std::uint32_t kFamilyIpv6 = 6;

  // Reads a copy of the payload taken first, so an engine that changes the payload while it is
  // being read cannot move a checked length under the reader.
  static RampaStatisticsReply Parse(const std::uint8_t* payload, std::size_t size);

  // Writes the engine's address and the entries that fit (the first ones), after a lead of
  // zeros; returns how many entries that was. With none the console ignores the reply.
  static std::size_t Write(std::uint8_t* payload, std::size_t size, std::uint32_t engineAddress,
                           const std::vector<RampaStatisticsEntry>& entries);
  // The most entries a payload of this size holds.
  static std::size_t Capacity(std::size_t size);

  Status status = Status::Refused;
  std::uint32_t engineAddress = 0;  // network byte order
  std::vector<RampaStatisticsEntry> entries;
};

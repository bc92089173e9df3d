#include "controls/firewall/RampaStatisticsReply.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Addresses stay in network byte order: the bytes as they lie.
std::uint32_t Raw32(const std::uint8_t* p) {
  std::uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

void PutLe32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace

RampaStatisticsReply RampaStatisticsReply::Parse(const std::uint8_t* payload, std::size_t size) {
  RampaStatisticsReply reply;
  if (!payload || size < kFirstArea) return reply;  // Refused
  const std::vector<std::uint8_t> copy(payload, payload + size);
  const std::uint8_t* p = copy.data();

  const auto length = static_cast<std::int32_t>(Le32(p + kLength));
  const auto count = static_cast<std::int32_t>(Le32(p + kCount));
  reply.engineAddress = Raw32(p + kEngineAddress);
  if (length <= 0 || count <= 0 || reply.engineAddress == 0) {
    reply.status = Status::Ignored;
    return reply;
  }

  // Both areas must lie inside the payload; 64-bit sums cannot overflow with 32-bit inputs.
  const auto n = static_cast<std::uint64_t>(count);
  const std::uint64_t firstEnd = kFirstArea + kLeadSize + n * kFirstEntrySize;
  const std::uint64_t secondStart = kSecondAreaBase + static_cast<std::uint64_t>(length);
  const std::uint64_t secondEnd = secondStart + n * kSecondEntrySize;
  if (firstEnd > size || secondEnd > size) return reply;  // Refused

  reply.entries.resize(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < reply.entries.size(); ++i) {
    const std::uint8_t* first = p + kFirstArea + kLeadSize + i * kFirstEntrySize;
    const std::uint8_t* second = p + secondStart + i * kSecondEntrySize;
    RampaStatisticsEntry& entry = reply.entries[i];
    entry.blockCount = Le32(first + 0);
    entry.ruleCode = static_cast<std::int32_t>(Le32(first + 8));
    entry.protocol = Le32(first + 32);
    entry.firstPort = Le16(first + 40);
    entry.secondPort = Le16(first + 42);
    entry.ipv6 = Le32(first + 4) == kFamilyIpv6;
    if (entry.ipv6) {
      std::memcpy(entry.firstAddress6, first + 12, 16);
      std::memcpy(entry.secondAddress6, second + 4, 16);
    } else {
      entry.firstAddress = Raw32(second + 0);
      entry.secondAddress = Raw32(second + 12);
    }
  }
  reply.status = Status::Ok;
  return reply;
}

std::size_t RampaStatisticsReply::Capacity(std::size_t size) {
  const std::size_t fixed = kSecondAreaBase + kLeadSize;
  return size < fixed ? 0 : (size - fixed) / (kFirstEntrySize + kSecondEntrySize);
}

std::size_t RampaStatisticsReply::Write(std::uint8_t* payload, std::size_t size, std::uint32_t engineAddress,
                                        const std::vector<RampaStatisticsEntry>& entries) {
  if (!payload || size < kSecondAreaBase + kLeadSize) return 0;
  const std::size_t n = std::min(entries.size(), Capacity(size));
  const std::size_t length = kLeadSize + n * kFirstEntrySize;
  std::memset(payload, 0, kSecondAreaBase + length + n * kSecondEntrySize);
  PutLe32(payload + kLength, static_cast<std::uint32_t>(length));
  PutLe32(payload + kCount, static_cast<std::uint32_t>(n));
  std::memcpy(payload + kEngineAddress, &engineAddress, sizeof engineAddress);
  for (std::size_t i = 0; i < n; ++i) {
    const RampaStatisticsEntry& entry = entries[i];
    std::uint8_t* first = payload + kFirstArea + kLeadSize + i * kFirstEntrySize;
    std::uint8_t* second = payload + kSecondAreaBase + length + i * kSecondEntrySize;
    PutLe32(first + 0, entry.blockCount);
    PutLe32(first + 8, static_cast<std::uint32_t>(entry.ruleCode));
    PutLe32(first + 32, entry.protocol);
    first[40] = static_cast<std::uint8_t>(entry.firstPort);
    first[41] = static_cast<std::uint8_t>(entry.firstPort >> 8);
    first[42] = static_cast<std::uint8_t>(entry.secondPort);
    first[43] = static_cast<std::uint8_t>(entry.secondPort >> 8);
    if (entry.ipv6) {
      PutLe32(first + 4, kFamilyIpv6);
      std::memcpy(first + 12, entry.firstAddress6, 16);
      std::memcpy(second + 4, entry.secondAddress6, 16);
    } else {
      std::memcpy(second + 0, &entry.firstAddress, sizeof entry.firstAddress);
      std::memcpy(second + 12, &entry.secondAddress, sizeof entry.secondAddress);
    }
  }
  return n;
}

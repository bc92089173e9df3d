#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// An address entry of a firewall rule.
struct _FirewallAddressEntry {
  std::uint32_t address;  // IPv4, network byte order
  std::uint32_t mask;
  std::uint16_t port;
  std::uint16_t pad;
};

static_assert(sizeof(_FirewallAddressEntry) == 12);

// The unit of the firewall rule file, the engine's configuration file and the rule log records.
// Every byte not named is written as zero.
//
// An IPv4 rule (kind 1, and every kind but kRuleKindIpv6, as readers have always taken them)
// keeps its range in entries[1] and entries[2]. An IPv6 rule (kind kRuleKindIpv6) keeps its
// 16-byte range start at offset 36, over the reserved bytes and the first entry's address that
// an IPv4 rule leaves zero, and its 16-byte range end at offset 52 (through the range start's
// address and mask); the range end's mask is 0xFFFFFFFF when a To address was given, else 0,
// as for IPv4, and its address stays 0. IPv4 records are thus byte for byte as they always were.
struct _FirewallRule {
  char name[32];                       // zero-terminated, at most 30 characters from the editor
  std::uint32_t active;                // 1 active, 0 not
  std::uint8_t reserved[12];
  _FirewallAddressEntry entries[3];    // first entry (unused by the editor), range start, range end
  std::uint32_t allow;                 // 0: a blocking rule
  std::uint32_t kind;                  // record kind, 1
};

static_assert(sizeof(_FirewallRule) == 92);
static_assert(offsetof(_FirewallRule, active) == 32);
static_assert(offsetof(_FirewallRule, entries) == 48);
static_assert(offsetof(_FirewallRule, entries) + sizeof(_FirewallAddressEntry) == 60);  // range start
static_assert(offsetof(_FirewallRule, entries) + 2 * sizeof(_FirewallAddressEntry) == 72);  // range end
static_assert(offsetof(_FirewallRule, allow) == 84);
static_assert(offsetof(_FirewallRule, kind) == 88);

constexpr int kRuleRangeStart = 1;  // index in entries
constexpr int kRuleRangeEnd = 2;

constexpr std::uint32_t kRuleKindIpv4 = 1;
constexpr std::uint32_t kRuleKindIpv6 = 6;
constexpr std::size_t kRuleStart6Offset = 36;
constexpr std::size_t kRuleEnd6Offset = 52;
static_assert(offsetof(_FirewallRule, reserved) == kRuleStart6Offset);
static_assert(kRuleEnd6Offset + 16 <= offsetof(_FirewallRule, entries) + 2 * sizeof(_FirewallAddressEntry));

inline bool RuleIsIpv6(const _FirewallRule& rule) { return rule.kind == kRuleKindIpv6; }

// The 16-byte range start (kRuleRangeStart) or end (kRuleRangeEnd) of an IPv6 rule, network order.
inline void GetRuleAddress6(const _FirewallRule& rule, int which, std::uint8_t* address) {
  std::memcpy(
      address,
      reinterpret_cast<const std::uint8_t*>(&rule) + (which == kRuleRangeEnd ? kRuleEnd6Offset : kRuleStart6Offset),
      16);
}
inline void SetRuleAddress6(_FirewallRule& rule, int which, const std::uint8_t* address) {
  std::memcpy(reinterpret_cast<std::uint8_t*>(&rule) + (which == kRuleRangeEnd ? kRuleEnd6Offset : kRuleStart6Offset),
              address, 16);
}

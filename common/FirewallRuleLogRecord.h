#pragma once
#include <cstddef>
#include <cstdint>

#include "FirewallRule.h"

// The platform's broken-down time: eight 16-bit values.
struct _SystemTime {
  std::uint16_t year;
  std::uint16_t month;
  std::uint16_t dayOfWeek;
  std::uint16_t day;
  std::uint16_t hour;
  std::uint16_t minute;
  std::uint16_t second;
  std::uint16_t milliseconds;
};

static_assert(sizeof(_SystemTime) == 16);

// A record of the engine's rule log: one block the engine made.
struct _FirewallRuleLogRecord {
  _SystemTime time;    // when the block happened
  _FirewallRule rule;  // the rule that blocked
  // An IPv6 block (family kLogFamilyIpv6) carries its addresses here and 0 in the IPv4 fields.
  std::uint8_t blockedAddress6[16];  // network order
  std::uint8_t localAddress6[16];
  std::uint8_t unused1[28];
  std::uint32_t blockedAddress;  // network byte order
  // The machine's own side of the blocked packet and its IP protocol: the engine's, not read
  // by the console.
  std::uint32_t localAddress;  // network byte order
  std::uint16_t blockedPort;   // network byte order
  std::uint16_t localPort;     // network byte order
  std::uint8_t protocol;
  std::uint8_t family;  // 0: IPv4 (as every record before IPv6), kLogFamilyIpv6
  std::uint8_t unused3[18];
};

constexpr std::uint8_t kLogFamilyIpv6 = 6;

static_assert(sizeof(_FirewallRuleLogRecord) == 200);
static_assert(offsetof(_FirewallRuleLogRecord, blockedAddress6) == 108);
static_assert(offsetof(_FirewallRuleLogRecord, localAddress6) == 124);
static_assert(offsetof(_FirewallRuleLogRecord, family) == 181);
static_assert(offsetof(_FirewallRuleLogRecord, rule) == 16);
static_assert(offsetof(_FirewallRuleLogRecord, rule) + offsetof(_FirewallRule, entries) + 12 == 76);
static_assert(offsetof(_FirewallRuleLogRecord, blockedAddress) == 168);
static_assert(offsetof(_FirewallRuleLogRecord, localAddress) == 172);
static_assert(offsetof(_FirewallRuleLogRecord, blockedPort) == 176);
static_assert(offsetof(_FirewallRuleLogRecord, localPort) == 178 && offsetof(_FirewallRuleLogRecord, protocol) == 180);

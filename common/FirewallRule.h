#pragma once
#include <cstddef>
#include <cstdint>

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

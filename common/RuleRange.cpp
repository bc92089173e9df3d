#include "RuleRange.h"

#include <algorithm>

#include "AddressText.h"

namespace {

constexpr std::uint32_t kFullMask = 0xFFFFFFFFu;

}  // namespace

bool IsIpv6Text(const std::string& text) { return text.find(':') != std::string::npos; }

std::string RuleRangeText(const _FirewallRule& rule, int which) {
  const bool end = which == kRuleRangeEnd;
  if (!RuleIsIpv6(rule)) {
    const std::uint32_t address = rule.entries[end ? kRuleRangeEnd : kRuleRangeStart].address;
    return end && address == 0 ? std::string() : InetNtoa(address);
  }
  std::uint8_t address[16];
  GetRuleAddress6(rule, end ? kRuleRangeEnd : kRuleRangeStart, address);
  if (end && (rule.entries[kRuleRangeEnd].mask == 0 ||
              std::all_of(address, address + 16, [](std::uint8_t b) { return b == 0; })))
    return std::string();
  return Inet6Ntop(address);
}

bool SetRuleRange(_FirewallRule& rule, const std::string& from, const std::string& to) {
  const bool ipv6 = IsIpv6Text(from);
  if (!to.empty() && IsIpv6Text(to) != ipv6) return false;
  if (!ipv6) {
    rule.kind = kRuleKindIpv4;
    rule.entries[kRuleRangeStart] = {InetAddr(from.c_str()), kFullMask, 0, 0};
    rule.entries[kRuleRangeEnd] = {};
    if (!to.empty()) {
      rule.entries[kRuleRangeEnd].address = InetAddr(to.c_str());
      if (rule.entries[kRuleRangeEnd].address != 0) rule.entries[kRuleRangeEnd].mask = kFullMask;
    }
    return true;
  }
  std::uint8_t start[16];
  std::uint8_t end[16] = {};
  if (!Inet6Pton(from.c_str(), start) || (!to.empty() && !Inet6Pton(to.c_str(), end))) return false;
  rule.kind = kRuleKindIpv6;
  for (_FirewallAddressEntry& entry : rule.entries) entry = {};  // the addresses lie over them
  SetRuleAddress6(rule, kRuleRangeStart, start);
  SetRuleAddress6(rule, kRuleRangeEnd, end);
  if (std::any_of(end, end + 16, [](std::uint8_t b) { return b != 0; })) rule.entries[kRuleRangeEnd].mask = kFullMask;
  return true;
}

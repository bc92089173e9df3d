#include "app/BlockStatisticsTable.h"

#include <cstring>

#include "common/AddressText.h"
#include "common/FieldText.h"

namespace {

constexpr std::int32_t kProtocolUnknown = 5000;
constexpr std::int32_t kProtocolLast = 5007;
constexpr std::int32_t kProcessBlock = 6001;
// The engine's two spellings of rule 0 (incoming and outgoing), since -0 cannot be told from 0.
constexpr std::int32_t kRuleZeroIn = 0x0FFFFFFF;
constexpr std::int32_t kRuleZeroOut = static_cast<std::int32_t>(0xF0000001u);

bool IsProtocolBlock(std::int32_t code) {
  return (code >= kProtocolUnknown && code <= kProtocolLast) || (code <= -kProtocolUnknown && code >= -kProtocolLast);
}

bool IsProcessBlock(std::int32_t code) { return code == kProcessBlock || code == -kProcessBlock; }

bool Matches(const BlockStatisticsTable::Row& row, std::int32_t code, const RampaStatisticsEntry& entry) {
  if (IsProtocolBlock(row.code) && IsProtocolBlock(code)) return true;
  if (IsProcessBlock(row.code) && IsProcessBlock(code)) return true;
  if (row.ipv6 != entry.ipv6) return false;
  if (row.ipv6) {
    auto same = [](const std::uint8_t* a, const std::uint8_t* b) { return std::memcmp(a, b, 16) == 0; };
    return (same(row.firstAddress6, entry.firstAddress6) && same(row.secondAddress6, entry.secondAddress6)) ||
           (same(row.firstAddress6, entry.secondAddress6) && same(row.secondAddress6, entry.firstAddress6));
  }
  return (row.firstAddress == entry.firstAddress && row.secondAddress == entry.secondAddress) ||
         (row.firstAddress == entry.secondAddress && row.secondAddress == entry.firstAddress);
}

}  // namespace

std::string BlockStatisticsTable::RuleText(std::int32_t code, const std::vector<_FirewallRule>& rules) {
  if (code == kRuleZeroIn || code == kRuleZeroOut) code = 0;
  if (code >= 0 && static_cast<std::size_t>(code) < rules.size()) return GetFieldText(rules[code].name);
  if (IsProtocolBlock(code) && code != kProtocolUnknown && code != -kProtocolUnknown) return "Protocol Blocks";
  if (code == kProtocolUnknown) return "Unknown( " + std::to_string(kProtocolUnknown) + " )";
  if (IsProcessBlock(code)) return "Proces Blocking";
  return std::string();
}

std::string BlockStatisticsTable::BlockingText(const RampaStatisticsEntry& entry, std::uint32_t engineAddress) {
  // The address that is not the engine's own machine, when the entry names both ends. (The
  // engine's address is IPv4: an IPv6 entry names its rule's range start, else its end.)
  static constexpr std::uint8_t kNone[16] = {};
  const bool second =
      entry.ipv6 ? std::memcmp(entry.firstAddress6, kNone, 16) == 0
                 : entry.firstAddress == 0 || (entry.firstAddress == engineAddress && entry.secondAddress != 0);
  const std::uint16_t port = second ? entry.secondPort : entry.firstPort;
  std::string text = entry.ipv6 ? Inet6Ntop(second ? entry.secondAddress6 : entry.firstAddress6)
                                : InetNtoa(second ? entry.secondAddress : entry.firstAddress);
  if (port != 0) {
    text += ':';
    text += std::to_string(port);
  }
  return text;
}

std::string BlockStatisticsTable::ProtocolText(std::int32_t code, std::uint32_t protocol) {
  if (code >= kProtocolUnknown && code <= kProtocolLast) return "Protocol Blocks";
  if (code == kProcessBlock) return "Process Blocking";
  if (protocol == 0) return "All";
  std::string text;
  const auto add = [&text](const char* name) {
    if (!text.empty()) text += '/';
    text += name;
  };
  if ((protocol & 6) == 6) add("Tcp");
  if ((protocol & 17) > 16) add("Udp");
  if (protocol & 1) add("Icmp");
  return text.empty() ? "Ip" : text;
}

std::size_t BlockStatisticsTable::Apply(const RampaStatisticsReply& reply, const std::vector<_FirewallRule>& rules) {
  if (reply.status != RampaStatisticsReply::Status::Ok) return 0;
  std::size_t added = 0;
  for (const RampaStatisticsEntry& entry : reply.entries) {
    Row* row = nullptr;
    for (Row& candidate : m_rows) {
      if (Matches(candidate, entry.ruleCode, entry)) {
        row = &candidate;
        break;
      }
    }
    if (row == nullptr) {
      Row fresh;
      fresh.code = entry.ruleCode;
      fresh.firstAddress = entry.firstAddress;
      fresh.secondAddress = entry.secondAddress;
      fresh.ipv6 = entry.ipv6;
      std::memcpy(fresh.firstAddress6, entry.firstAddress6, 16);
      std::memcpy(fresh.secondAddress6, entry.secondAddress6, 16);
      fresh.rule = RuleText(entry.ruleCode, rules);
      fresh.blocking = BlockingText(entry, reply.engineAddress);
      fresh.protocols = ProtocolText(entry.ruleCode, entry.protocol);
      m_rows.push_back(std::move(fresh));
      row = &m_rows.back();
      ++added;
    }
    (entry.ruleCode >= 0 ? row->in : row->out) += entry.blockCount;
  }
  return added;
}

#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/FirewallRule.h"
#include "controls/firewall/RampaStatisticsReply.h"

// The rows of the blocking statistics, kept over the life of the window: each engine reply
// adds its entries' block counts to the rows they match, in list order, and adds a row for an
// entry that matches none. A row keeps the rule code and the two addresses it was made with.
class BlockStatisticsTable {
 public:
  struct Row {
    std::int32_t code = 0;
    std::uint32_t firstAddress = 0;   // network byte order
    std::uint32_t secondAddress = 0;  // network byte order
    bool ipv6 = false;                // the addresses are the 16-byte ones
    std::uint8_t firstAddress6[16] = {};
    std::uint8_t secondAddress6[16] = {};
    std::uint64_t in = 0;             // running totals of blocks
    std::uint64_t out = 0;
    std::string rule;       // "Rule"
    std::string blocking;   // "Blocking Ip"
    std::string protocols;  // "Protocol(s)"
  };

  // Applies a reply; the rules name the rows whose code is a rule's index. Returns the number of
  // rows added.
  std::size_t Apply(const RampaStatisticsReply& reply, const std::vector<_FirewallRule>& rules);
  const std::vector<Row>& Rows() const { return m_rows; }

  static std::string RuleText(std::int32_t code, const std::vector<_FirewallRule>& rules);
  static std::string BlockingText(const RampaStatisticsEntry& entry, std::uint32_t engineAddress);
  static std::string ProtocolText(std::int32_t code, std::uint32_t protocol);

 private:
  std::vector<Row> m_rows;
};

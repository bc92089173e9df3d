#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "common/FirewallRuleLogRecord.h"

struct nflog_handle;
struct nflog_g_handle;

// The blocks the kernel logs to the engine's nflog group, written to the rule log as 200-byte
// records. The kernel sends at most the log rate of the rule set; a record is appended with
// one write and cut away again if the write fell short, so a reader never meets half a record.
class RamparoBlockLog {
 public:
  // Fills the rule part of the record of a block by the rule index of its log prefix (or
  // RamparoRuleSet::kProcessRule); false drops the record, for an index the rules no longer hold.
  using RuleLookup = std::function<bool(std::size_t rule, _FirewallRuleLogRecord* record)>;

  RamparoBlockLog() = default;
  ~RamparoBlockLog() { Close(); }
  RamparoBlockLog(const RamparoBlockLog&) = delete;
  RamparoBlockLog& operator=(const RamparoBlockLog&) = delete;

  // Binds the group; false with a reason when the kernel refuses it.
  bool Open(std::uint16_t group, std::string* error);
  void Close();
  int Fd() const;  // -1 while closed

  // Reads what the kernel has sent and writes a record for each logged block into the file.
  // Returns the number of records written.
  int Drain(const std::string& file, const RuleLookup& rules);

  // The record of a block: the addresses and ports of both sides of the packet, which starts at
  // its IPv4 or IPv6 header, and its protocol. False when the packet is too short for its header
  // or is of neither family.
  static bool MakeRecord(const std::uint8_t* packet, std::size_t size, bool incoming, const _FirewallRule& rule,
                         _FirewallRuleLogRecord* record);
  // Appends the record whole or not at all.
  static bool Append(const std::string& file, const _FirewallRuleLogRecord& record);

 private:
  nflog_handle* m_handle = nullptr;
  nflog_g_handle* m_group = nullptr;
  // Set for the length of a Drain, read by the callback.
  const std::string* m_file = nullptr;
  const RuleLookup* m_rules = nullptr;
  int m_written = 0;

  friend struct RamparoBlockLogCallback;
};

#pragma once
#include <cstdint>
#include <map>
#include <string>

struct nft_ctx;

// The engine's one table in the kernel's packet filter, reached through libnftables. Batches
// come from RamparoRuleSet; each one is a single kernel transaction.
class RamparoNftTable {
 public:
  RamparoNftTable();
  ~RamparoNftTable();
  RamparoNftTable(const RamparoNftTable&) = delete;
  RamparoNftTable& operator=(const RamparoNftTable&) = delete;

  // Runs a batch; false with nft's message when the kernel refused it (nothing changed then).
  bool Run(const std::string& batch, std::string* error = nullptr);
  // Whether the table exists; only reads the ruleset.
  bool Exists();
  // Packets counted by each named counter of the table; false when they cannot be read.
  bool Counters(std::map<std::string, std::uint64_t>* packets);

  // The counters of nft's JSON listing (exposed for its test).
  static std::map<std::string, std::uint64_t> ParseCounters(const std::string& json);

 private:
  nft_ctx* m_ctx = nullptr;
};

#pragma once
#include <cstdint>
#include <map>
#include <string>

struct nft_ctx;

// The engine's one table in the kernel's packet filter, reached through libnftables. Batches
// come from RamparoRuleSet; each one is a single kernel transaction.
//
// The table is made with the owner flag, so it belongs to the netlink socket that made it: the
// kernel lets no other socket change it and removes it when that socket closes, even when the
// engine is killed. libnftables opens one socket per context, at nft_ctx_new, and keeps it until
// nft_ctx_free; so this object holds one context for its whole life and every change goes
// through it.
class RamparoNftTable {
 public:
  RamparoNftTable();
  ~RamparoNftTable();
  RamparoNftTable(const RamparoNftTable&) = delete;
  RamparoNftTable& operator=(const RamparoNftTable&) = delete;

  // Runs a batch; false with nft's message when the kernel refused it (nothing changed then).
  bool Run(const std::string& batch, std::string* error = nullptr);
  // Whether the table exists and belongs to some engine's socket; only reads the ruleset, which
  // every process may.
  bool IsOwned();
  // Packets counted by each named counter of the table; false when they cannot be read.
  bool Counters(std::map<std::string, std::uint64_t>* packets);

  // The counters of nft's JSON listing (exposed for its test).
  static std::map<std::string, std::uint64_t> ParseCounters(const std::string& json);

 private:
  nft_ctx* m_ctx = nullptr;
};

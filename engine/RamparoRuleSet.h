#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "RamparoEngineConfig.h"
#include "common/FirewallRule.h"

// The engine's table in the kernel's packet filter, written as one nft batch from the rule
// file and the console's settings. Nothing taken from a file reaches the batch as text: rules
// are named by their index and addresses are printed from their numbers, so no file can change
// the batch's syntax. Every batch starts by replacing the whole table, so the kernel applies it
// in one transaction or not at all. The table carries the owner flag throughout: it belongs to
// the engine that made it and goes with it.
class RamparoRuleSet {
 public:
  static constexpr std::uint16_t kLogGroup = 27;  // nflog group of the logged blocks
  // Logged blocks, over all rules: a flood writes at most this many 200-byte records a second
  // (4 KB/s), and up to the burst at once.
  static constexpr int kLogPerSecond = 20;
  static constexpr int kLogBurst = 40;
  // When no range holds more than this many addresses and all together no more than this
  // many, the ranges go into the hash map address by address.
  static constexpr std::uint64_t kHashedRangeSize = 256;
  static constexpr std::uint64_t kHashedAddresses = 2048;
  // The rule index that stands for the blocked processes in a log prefix.
  static constexpr std::size_t kProcessRule = static_cast<std::size_t>(-1);

  // Blocked processes: the sockets of a cgroup v2 group, as nft names it (its path below the
  // cgroup mount point that nft resolves, "/sys/fs/cgroup") and its depth in the hierarchy.
  struct ProcessGroup {
    std::string nftPath;
    int level = 0;
  };

  // An IPv6 address as a number, the first byte highest.
  __extension__ typedef unsigned __int128 Address6;

  // Addresses owned by one rule: low to high, host order.
  template <class Address>
  struct BasicPiece {
    Address low;
    Address high;
    std::size_t rule;  // index in the file
  };
  using Piece = BasicPiece<std::uint32_t>;
  using Piece6 = BasicPiece<Address6>;

  // The full table: chains and counters r<i>_in and r<i>_out for every rule that blocks some
  // address (i is the rule's index in the file), proc_in and proc_out for the process group.
  // An address several rules name is blocked and counted by the first of them. The base chains
  // see both families: IPv4 rules are looked up by "ip", IPv6 rules by "ip6", and the process
  // group and Block All match sockets and packets of either.
  static std::string Build(const std::vector<_FirewallRule>& rules, const RamparoEngineSettings& settings,
                           const ProcessGroup* processes);
  // The engine's empty table, made at its start, replacing one that nobody owns.
  static std::string Claim();
  // The table without chains: the firewall stopped, the table kept.
  static std::string Empty();
  // Removes the table (an absent one is no error).
  static std::string Remove();

  // The addresses of the applied rules cut into pieces that do not overlap, in address order,
  // each owned by the first rule in the file that names it; neighbours of one owner are joined.
  // IPv4 rules only; Pieces6 does the same for the IPv6 rules.
  static std::vector<Piece> Pieces(const std::vector<_FirewallRule>& rules);
  static std::vector<Piece6> Pieces6(const std::vector<_FirewallRule>& rules);
  // Whether a rule becomes kernel rules: active, blocking, with a From address (of either family).
  static bool Applies(const _FirewallRule& rule);
  // The nft protocol value of the statistics reply for these settings (0 all, else 6/17/1 or'ed).
  static std::uint32_t ProtocolValue(const RamparoEngineSettings& settings);
  // The log prefix that names a rule (or kProcessRule) and its direction, and its reading;
  // false for others.
  static std::string LogPrefix(std::size_t rule, bool incoming);
  static bool ParseLogPrefix(const char* prefix, std::size_t* rule, bool* incoming);

 private:
  static std::string LogStatement(std::size_t rule, bool incoming);
};

#include "RamparoRuleSet.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "common/AddressText.h"

namespace {

constexpr const char* kLogPrefixHead = "ramparo ";
constexpr const char* kProcessWord = "process";

using Address6 = RamparoRuleSet::Address6;

std::string AddressText(std::uint32_t hostOrder) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = htonl(hostOrder);
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::string AddressText(Address6 value) {
  std::uint8_t bytes[16];
  for (int i = 15; i >= 0; --i, value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
  return Inet6Ntop(bytes);
}

Address6 Number6(const _FirewallRule& rule, int which) {
  std::uint8_t bytes[16];
  GetRuleAddress6(rule, which, bytes);
  Address6 value = 0;
  for (const std::uint8_t byte : bytes) value = value << 8 | byte;
  return value;
}

bool HasRangeEnd(const _FirewallRule& rule) { return rule.entries[kRuleRangeEnd].mask != 0; }

// The addresses of a rule as host-order bounds, the lower first.
void Bounds(const _FirewallRule& rule, std::uint32_t* low, std::uint32_t* high) {
  const std::uint32_t a = ntohl(rule.entries[kRuleRangeStart].address);
  const std::uint32_t end = rule.entries[kRuleRangeEnd].address;
  const std::uint32_t b = end == 0 || !HasRangeEnd(rule) ? a : ntohl(end);
  *low = std::min(a, b);
  *high = std::max(a, b);
}

void Bounds(const _FirewallRule& rule, Address6* low, Address6* high) {
  const Address6 a = Number6(rule, kRuleRangeStart);
  const Address6 end = Number6(rule, kRuleRangeEnd);
  const Address6 b = end == 0 || !HasRangeEnd(rule) ? a : end;
  *low = std::min(a, b);
  *high = std::max(a, b);
}

// A sweep over the rules' bounds: between two bounds the first rule in the file that covers the
// addresses owns them, as it would in a chain of one rule per record. A range reaching the
// highest address has no end edge, as one past it does not fit.
template <class Address>
std::vector<RamparoRuleSet::BasicPiece<Address>> Sweep(const std::vector<_FirewallRule>& rules, bool ipv6) {
  struct Edge {
    Address at;
    std::size_t rule;
    bool opens;
  };
  std::vector<Edge> edges;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (!RamparoRuleSet::Applies(rules[i]) || RuleIsIpv6(rules[i]) != ipv6) continue;
    Address low = 0;
    Address high = 0;
    Bounds(rules[i], &low, &high);
    edges.push_back({low, i, true});
    if (high != static_cast<Address>(~Address{0})) edges.push_back({static_cast<Address>(high + 1), i, false});
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
  std::vector<RamparoRuleSet::BasicPiece<Address>> pieces;
  std::set<std::size_t> open;
  for (std::size_t e = 0; e < edges.size();) {
    const Address at = edges[e].at;
    for (; e < edges.size() && edges[e].at == at; ++e) {
      if (edges[e].opens)
        open.insert(edges[e].rule);
      else
        open.erase(edges[e].rule);
    }
    if (open.empty()) continue;
    const Address high = e < edges.size() ? static_cast<Address>(edges[e].at - 1) : static_cast<Address>(~Address{0});
    const std::size_t owner = *open.begin();
    if (!pieces.empty() && pieces.back().rule == owner && static_cast<Address>(pieces.back().high + 1) == at)
      pieces.back().high = high;
    else
      pieces.push_back({at, high, owner});
  }
  return pieces;
}

// The lookups of one family in one direction, and the maps they read: a map of single addresses
// (a hash) and one of ranges (a tree, only when there are ranges), so a packet costs two lookups
// at most however many rules there are. When every range is small, the ranges are spelt out
// into the hash and there is no tree: a tree lookup costs a few percent of a datagram's way
// through the stack, a hash one hardly. (A tree left with fewer ranges would cost nearly as much.)
template <class Address>
std::string Lookups(const std::vector<RamparoRuleSet::BasicPiece<Address>>& pieces, const std::string& side,
                    const char* field, bool ipv6, std::string* maps) {
  bool spell = true;
  std::uint64_t spelt = 0;
  for (const auto& piece : pieces) {
    const Address span = static_cast<Address>(piece.high - piece.low);
    spell = spell && span < RamparoRuleSet::kHashedRangeSize;
    if (span > 0 && spell) spelt += static_cast<std::uint64_t>(span) + 1;
  }
  spell = spell && spelt <= RamparoRuleSet::kHashedAddresses;
  const std::string family = ipv6 ? "6" : "";
  std::string lookups;
  for (const bool ranges : {false, true}) {
    std::string elements;
    auto add = [&](Address low, Address high, std::size_t rule) {
      elements += elements.empty() ? "" : ", ";
      // In steps: GCC 12 at -O3 warns about the joined temporaries.
      elements += AddressText(low);
      if (low != high) {
        elements += '-';
        elements += AddressText(high);
      }
      elements += " : goto r";
      elements += std::to_string(rule);
      elements += '_';
      elements += side;
    };
    for (const auto& piece : pieces) {
      if ((piece.low == piece.high || spell) == ranges) continue;
      if (ranges) {
        add(piece.low, piece.high, piece.rule);
      } else {
        for (Address address = piece.low;; ++address) {
          add(address, address, piece.rule);
          if (address == piece.high) break;
        }
      }
    }
    if (elements.empty()) continue;
    const std::string map = side + family + (ranges ? "_range" : "_single");
    *maps += "\tmap " + map + " { type ipv" + (ipv6 ? "6" : "4") + "_addr : verdict; " +
             (ranges ? "flags interval; " : "") + "elements = { " + elements + " } }\n";
    lookups += "\t\tip" + family + " " + field + " vmap @" + map + "\n";
  }
  return lookups;
}

// Neighbour discovery is to IPv6 what ARP is to IPv4, which no rule blocks: without it a rule
// that blocks only some protocols of an address on the link would cut off all of them.
constexpr const char* kNeighbourDiscovery =
    "\t\ticmpv6 type { nd-router-solicit, nd-router-advert, nd-neighbor-solicit, nd-neighbor-advert } return\n";

// "" for every protocol, else the rule that lets other protocols pass; false when none is chosen.
// The chain of an IPv6 rule sees IPv6 packets only, whose ICMP is ICMPv6.
bool ProtocolMatch(const RamparoEngineSettings& settings, bool ipv6, std::string* match) {
  if (settings.blockAll) {
    *match = ipv6 ? kNeighbourDiscovery : std::string();
    return true;
  }
  std::string list;
  auto add = [&list](const char* name) { list += list.empty() ? name : std::string(", ") + name; };
  if (settings.blockTcp) add("tcp");
  if (settings.blockUdp) add("udp");
  if (settings.blockIcmp) add(ipv6 ? "icmpv6" : "icmp");
  if (list.empty()) return false;
  *match = "\t\tmeta l4proto != { " + list + " } return\n";
  if (ipv6) *match = std::string(kNeighbourDiscovery) + *match;
  return true;
}

bool Incoming(const RamparoEngineSettings& settings) { return settings.blockDirections != 2; }
// No direction chosen blocks both ways: a rule the user made should block something.
bool Outgoing(const RamparoEngineSettings& settings) { return settings.blockDirections != 1; }

// The table is the engine's own (the owner flag, see RamparoNftTable). Adding it first makes the
// delete good when it is missing; the add must name the flag, as the kernel refuses to change it.
const char* kReplaceTable = "add table inet ramparo { flags owner; }\ndelete table inet ramparo\n";
const char* kOwnedTable = "add table inet ramparo { flags owner; }\n";

}  // namespace

bool RamparoRuleSet::Applies(const _FirewallRule& rule) {
  if (rule.active == 0 || rule.allow != 0) return false;
  if (!RuleIsIpv6(rule)) return rule.entries[kRuleRangeStart].address != 0;
  std::uint8_t start[16];
  GetRuleAddress6(rule, kRuleRangeStart, start);
  return std::any_of(start, start + 16, [](std::uint8_t byte) { return byte != 0; });
}

std::uint32_t RamparoRuleSet::ProtocolValue(const RamparoEngineSettings& settings) {
  if (settings.blockAll) return 0;
  std::uint32_t value = 0;
  if (settings.blockTcp) value |= 6;
  if (settings.blockUdp) value |= 17;
  if (settings.blockIcmp) value |= 1;
  return value;
}

std::string RamparoRuleSet::LogPrefix(std::size_t rule, bool incoming) {
  return std::string(kLogPrefixHead) + (incoming ? "i " : "o ") +
         (rule == kProcessRule ? std::string(kProcessWord) : std::to_string(rule));
}

// A statement of its own that only logs, so a block itself is never subject to the log's rate.
std::string RamparoRuleSet::LogStatement(std::size_t rule, bool incoming) {
  return "limit name \"lograte\" log prefix \"" + LogPrefix(rule, incoming) + "\" group " + std::to_string(kLogGroup) +
         "\n";
}

bool RamparoRuleSet::ParseLogPrefix(const char* prefix, std::size_t* rule, bool* incoming) {
  const std::size_t head = std::strlen(kLogPrefixHead);
  if (!prefix || std::strncmp(prefix, kLogPrefixHead, head) != 0) return false;
  const char direction = prefix[head];
  if ((direction != 'i' && direction != 'o') || prefix[head + 1] != ' ') return false;
  const char* digits = prefix + head + 2;
  const std::size_t word = std::strlen(kProcessWord);
  if (std::strncmp(digits, kProcessWord, word) == 0 && (digits[word] == '\0' || digits[word] == ' ')) {
    *rule = kProcessRule;
    *incoming = direction == 'i';
    return true;
  }
  if (*digits < '0' || *digits > '9') return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(digits, &end, 10);
  if (*end != '\0' && *end != ' ') return false;
  *rule = value;
  *incoming = direction == 'i';
  return true;
}

std::vector<RamparoRuleSet::Piece> RamparoRuleSet::Pieces(const std::vector<_FirewallRule>& rules) {
  return Sweep<std::uint32_t>(rules, false);
}

std::vector<RamparoRuleSet::Piece6> RamparoRuleSet::Pieces6(const std::vector<_FirewallRule>& rules) {
  return Sweep<Address6>(rules, true);
}

std::string RamparoRuleSet::Build(const std::vector<_FirewallRule>& rules, const RamparoEngineSettings& settings,
                                  const ProcessGroup* processes) {
  std::string protocols;
  std::string protocols6;
  const bool anyProtocol = ProtocolMatch(settings, false, &protocols);
  ProtocolMatch(settings, true, &protocols6);
  const bool log = settings.logBlocks != 0;
  const std::vector<Piece> pieces = anyProtocol ? Pieces(rules) : std::vector<Piece>{};
  const std::vector<Piece6> pieces6 = anyProtocol ? Pieces6(rules) : std::vector<Piece6>{};

  // Each rule that owns addresses has a chain per direction that logs, counts and drops; the
  // base chains reach it through the lookups of its family.
  std::string objects;
  std::string maps;
  std::set<std::size_t> owners;
  for (const Piece& piece : pieces) owners.insert(piece.rule);
  for (const Piece6& piece : pieces6) owners.insert(piece.rule);
  auto direction = [&](bool incoming, const char* field) {
    const std::string side = incoming ? "in" : "out";
    for (const std::size_t i : owners) {
      std::string name = "r";  // in steps: GCC 12 at -O3 warns about the joined temporaries
      name += std::to_string(i);
      name += "_" + side;
      objects +=
          "\tcounter " + name + " { }\n\tchain " + name + " {\n" + (RuleIsIpv6(rules[i]) ? protocols6 : protocols);
      if (log) objects += "\t\t" + LogStatement(i, incoming);
      objects += "\t\tcounter name \"" + name + "\" drop\n\t}\n";
    }
    return Lookups(pieces, side, field, false, &maps) + Lookups(pieces6, side, field, true, &maps);
  };
  const std::string in = Incoming(settings) ? direction(true, "saddr") : std::string();
  const std::string out = Outgoing(settings) ? direction(false, "daddr") : std::string();

  std::string text = kReplaceTable;
  text += "table inet ramparo {\n\tflags owner;\n";
  text += "\tlimit lograte { rate " + std::to_string(kLogPerSecond) + "/second burst " + std::to_string(kLogBurst) +
          " packets }\n";
  text += "\tcounter proc_in { }\n\tcounter proc_out { }\n";
  text += objects + maps;

  std::string processMatch;
  if (processes && !processes->nftPath.empty()) {
    // The path was made by the engine (a folder of its own under the cgroup mount), never read
    // from a file; the quotes are refused all the same.
    if (processes->nftPath.find_first_of("\"\\\n") == std::string::npos)
      processMatch =
          "\t\tsocket cgroupv2 level " + std::to_string(processes->level) + " \"" + processes->nftPath + "\"";
  }
  auto chain = [&](const char* name, bool incoming, const std::string& body) {
    text += std::string("\tchain ") + name + " {\n\t\ttype filter hook " + name + " priority filter; policy accept;\n";
    if (!processMatch.empty()) {
      if (log) text += processMatch + " " + LogStatement(kProcessRule, incoming);
      text += processMatch + " counter name \"proc_" + (incoming ? "in" : "out") + "\" drop\n";
    }
    text += body + "\t}\n";
  };
  chain("input", true, in);
  chain("output", false, out);
  text += "}\n";
  return text;
}

std::string RamparoRuleSet::Claim() {
  // A table without the flag (made by hand, or left by an engine older than the flag) is
  // replaced; one owned by another socket refuses the whole batch.
  return std::string("add table inet ramparo\ndelete table inet ramparo\n") + kOwnedTable;
}

std::string RamparoRuleSet::Empty() { return std::string(kReplaceTable) + kOwnedTable; }

std::string RamparoRuleSet::Remove() { return kReplaceTable; }

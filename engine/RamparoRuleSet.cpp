#include "RamparoRuleSet.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

constexpr const char* kLogPrefixHead = "ramparo ";
constexpr const char* kProcessWord = "process";

std::string Dotted(std::uint32_t networkOrder) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = networkOrder;
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// The addresses of a rule as host-order bounds, the lower first.
void Bounds(const _FirewallRule& rule, std::uint64_t* low, std::uint64_t* high) {
  const _FirewallAddressEntry& start = rule.entries[kRuleRangeStart];
  const _FirewallAddressEntry& end = rule.entries[kRuleRangeEnd];
  const std::uint32_t a = ntohl(start.address);
  const std::uint32_t b = end.address == 0 || end.mask == 0 ? a : ntohl(end.address);
  *low = std::min(a, b);
  *high = std::max(a, b);
}

std::string PieceText(const RamparoRuleSet::Piece& piece) {
  const std::string low = Dotted(htonl(piece.low));
  return piece.low == piece.high ? low : low + "-" + Dotted(htonl(piece.high));
}

// "" for every protocol, else the rule that lets other protocols pass; false when none is chosen.
bool ProtocolMatch(const RamparoEngineSettings& settings, std::string* match) {
  if (settings.blockAll) {
    match->clear();
    return true;
  }
  std::string list;
  auto add = [&list](const char* name) { list += list.empty() ? name : std::string(", ") + name; };
  if (settings.blockTcp) add("tcp");
  if (settings.blockUdp) add("udp");
  if (settings.blockIcmp) add("icmp");
  if (list.empty()) return false;
  *match = "\t\tmeta l4proto != { " + list + " } return\n";
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
  return rule.active != 0 && rule.allow == 0 && rule.entries[kRuleRangeStart].address != 0;
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
  // A sweep over the rules' bounds: between two bounds the first rule in the file that covers
  // the addresses owns them, as it would in a chain of one rule per record.
  struct Edge {
    std::uint64_t at;  // one past the end for an end edge, so 255.255.255.255 still fits
    std::size_t rule;
    bool opens;
  };
  std::vector<Edge> edges;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (!Applies(rules[i])) continue;
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    Bounds(rules[i], &low, &high);
    edges.push_back({low, i, true});
    edges.push_back({high + 1, i, false});
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
  std::vector<Piece> pieces;
  std::set<std::size_t> open;
  for (std::size_t e = 0; e < edges.size();) {
    const std::uint64_t at = edges[e].at;
    for (; e < edges.size() && edges[e].at == at; ++e) {
      if (edges[e].opens)
        open.insert(edges[e].rule);
      else
        open.erase(edges[e].rule);
    }
    if (open.empty()) continue;
    const auto high = static_cast<std::uint32_t>(edges[e].at - 1);  // an open rule has an end edge ahead
    const std::size_t owner = *open.begin();
    if (!pieces.empty() && pieces.back().rule == owner && std::uint64_t{pieces.back().high} + 1 == at)
      pieces.back().high = high;
    else
      pieces.push_back({static_cast<std::uint32_t>(at), high, owner});
  }
  return pieces;
}

std::string RamparoRuleSet::Build(const std::vector<_FirewallRule>& rules, const RamparoEngineSettings& settings,
                                  const ProcessGroup* processes) {
  std::string protocols;
  const bool anyProtocol = ProtocolMatch(settings, &protocols);
  const bool log = settings.logBlocks != 0;
  const std::vector<Piece> pieces = anyProtocol ? Pieces(rules) : std::vector<Piece>{};

  // Each rule that owns addresses has a chain per direction that logs, counts and drops; the
  // base chains reach it through one lookup in a map of single addresses (a hash) and one in a
  // map of ranges (a tree, only when there are ranges), so a packet costs two lookups at most
  // however many rules there are. When every range is small, the ranges are spelt out into the
  // hash and there is no tree: a tree lookup costs a few percent of a datagram's way through the
  // stack, a hash one hardly. (A tree left with fewer ranges would cost nearly as much.)
  std::string objects;
  std::string maps;
  std::set<std::size_t> owners;
  bool spell = true;
  std::uint64_t spelt = 0;
  for (const Piece& piece : pieces) {
    owners.insert(piece.rule);
    const std::uint64_t size = std::uint64_t{piece.high} - piece.low + 1;
    spell = spell && size <= kHashedRangeSize;
    if (size > 1) spelt += size;
  }
  spell = spell && spelt <= kHashedAddresses;
  auto direction = [&](bool incoming, const char* field) {
    const std::string side = incoming ? "in" : "out";
    for (const std::size_t i : owners) {
      std::string name = "r";  // in steps: GCC 12 at -O3 warns about the joined temporaries
      name += std::to_string(i);
      name += "_" + side;
      objects += "\tcounter " + name + " { }\n\tchain " + name + " {\n" + protocols;
      if (log) objects += "\t\t" + LogStatement(i, incoming);
      objects += "\t\tcounter name \"" + name + "\" drop\n\t}\n";
    }
    std::string lookups;
    for (const bool ranges : {false, true}) {
      std::string elements;
      auto add = [&](std::uint64_t low, std::uint64_t high, std::size_t rule) {
        elements += elements.empty() ? "" : ", ";
        elements += PieceText({static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high), rule});
        elements += " : goto r" + std::to_string(rule) + "_" + side;
      };
      for (const Piece& piece : pieces) {
        if ((piece.low == piece.high || spell) == ranges) continue;
        if (ranges)
          add(piece.low, piece.high, piece.rule);
        else
          for (std::uint64_t address = piece.low; address <= piece.high; ++address) add(address, address, piece.rule);
      }
      if (elements.empty()) continue;
      const std::string map = side + (ranges ? "_range" : "_single");
      maps += "\tmap " + map + " { type ipv4_addr : verdict; " + (ranges ? "flags interval; " : "") + "elements = { " +
              elements + " } }\n";
      lookups += std::string("\t\tip ") + field + " vmap @" + map + "\n";
    }
    return lookups;
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

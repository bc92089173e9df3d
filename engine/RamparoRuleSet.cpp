#include "RamparoRuleSet.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kLogPrefixHead = "ramparo ";

std::string Dotted(std::uint32_t networkOrder) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = networkOrder;
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// "a" or "a-b" with the lower address first, as nft wants its ranges.
std::string AddressMatch(const _FirewallRule& rule) {
  const _FirewallAddressEntry& start = rule.entries[kRuleRangeStart];
  const _FirewallAddressEntry& end = rule.entries[kRuleRangeEnd];
  if (end.address == 0 || end.mask == 0 || end.address == start.address) return Dotted(start.address);
  const bool reversed = ntohl(end.address) < ntohl(start.address);
  return reversed ? Dotted(end.address) + "-" + Dotted(start.address) : Dotted(start.address) + "-" + Dotted(end.address);
}

// "" for every protocol, else the l4proto match of the chosen ones; false when none is chosen.
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
  *match = " meta l4proto { " + list + " }";
  return true;
}

bool Incoming(const RamparoEngineSettings& settings) { return settings.blockDirections != 2; }
// No direction chosen blocks both ways: a rule the user made should block something.
bool Outgoing(const RamparoEngineSettings& settings) { return settings.blockDirections != 1; }

const char* kReplaceTable = "add table inet ramparo\ndelete table inet ramparo\n";

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
  return std::string(kLogPrefixHead) + (incoming ? "i " : "o ") + std::to_string(rule);
}

bool RamparoRuleSet::ParseLogPrefix(const char* prefix, std::size_t* rule, bool* incoming) {
  const std::size_t head = std::strlen(kLogPrefixHead);
  if (!prefix || std::strncmp(prefix, kLogPrefixHead, head) != 0) return false;
  const char direction = prefix[head];
  if ((direction != 'i' && direction != 'o') || prefix[head + 1] != ' ') return false;
  const char* digits = prefix + head + 2;
  if (*digits < '0' || *digits > '9') return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(digits, &end, 10);
  if (*end != '\0' && *end != ' ') return false;
  *rule = value;
  *incoming = direction == 'i';
  return true;
}

std::string RamparoRuleSet::Build(const std::vector<_FirewallRule>& rules, const RamparoEngineSettings& settings,
                                  const ProcessGroup* processes) {
  std::string protocols;
  const bool anyProtocol = ProtocolMatch(settings, &protocols);
  const bool log = settings.logBlocks != 0;

  std::string objects;
  std::string addresses;  // the set of every address some rule blocks
  std::string in;
  std::string out;
  if (anyProtocol) {
    for (std::size_t i = 0; i < rules.size(); ++i) {
      if (!Applies(rules[i])) continue;
      const std::string match = AddressMatch(rules[i]);
      const std::string index = std::to_string(i);
      addresses += (addresses.empty() ? "" : ", ") + match;
      auto add = [&](std::string& chain, const char* field, bool incoming) {
        const std::string head = "\t\tip " + std::string(field) + " " + match + protocols;
        // The log rule only logs, so the block itself is never subject to the log's rate.
        if (log)
          chain += head + " limit name \"lograte\" log prefix \"" + LogPrefix(i, incoming) + "\" group " +
                   std::to_string(kLogGroup) + "\n";
        chain += head + " counter name \"r" + index + (incoming ? "_in" : "_out") + "\" drop\n";
      };
      if (Incoming(settings)) {
        objects += "\tcounter r" + index + "_in { }\n";
        add(in, "saddr", true);
      }
      if (Outgoing(settings)) {
        objects += "\tcounter r" + index + "_out { }\n";
        add(out, "daddr", false);
      }
    }
  }

  std::string text = kReplaceTable;
  text += "table inet ramparo {\n";
  text += "\tlimit lograte { rate " + std::to_string(kLogPerSecond) + "/second burst " + std::to_string(kLogBurst) +
          " packets }\n";
  text += "\tcounter proc_in { }\n\tcounter proc_out { }\n";
  text += objects;
  if (!addresses.empty())
    text += "\tset blocked { type ipv4_addr; flags interval; auto-merge; elements = { " + addresses + " } }\n";

  std::string processRule;
  if (processes && !processes->nftPath.empty()) {
    // The path was made by the engine (a folder of its own under the cgroup mount), never read
    // from a file; the quotes are refused all the same.
    if (processes->nftPath.find_first_of("\"\\\n") == std::string::npos)
      processRule = "\t\tsocket cgroupv2 level " + std::to_string(processes->level) + " \"" + processes->nftPath +
                    "\" counter name \"proc_";
  }
  // Packets from and to addresses no rule names leave at the first lookup of the set.
  auto chain = [&](const char* name, const char* hook, const char* field, const std::string& body) {
    text += std::string("\tchain ") + name + " {\n\t\ttype filter hook " + hook + " priority filter; policy accept;\n";
    if (!processRule.empty()) text += processRule + (std::strcmp(name, "input") == 0 ? "in" : "out") + "\" drop\n";
    if (!body.empty()) text += std::string("\t\tip ") + field + " != @blocked return\n" + body;
    text += "\t}\n";
  };
  chain("input", "input", "saddr", in);
  chain("output", "output", "daddr", out);
  text += "}\n";
  return text;
}

std::string RamparoRuleSet::Empty() { return std::string(kReplaceTable) + "add table inet ramparo\n"; }

std::string RamparoRuleSet::Remove() { return kReplaceTable; }

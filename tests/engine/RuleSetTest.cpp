// The engine's pure parts: the nft batch made from rules and settings (what the kernel does
// with it is the firewall tests' business) and the rule log record of a logged packet.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "RamparoBlockLog.h"
#include "RamparoRuleSet.h"
#include "common/AddressText.h"
#include "common/RuleRange.h"

namespace {

_FirewallRule Rule(const char* from, const char* to = nullptr, std::uint32_t active = 1) {
  _FirewallRule rule{};
  std::strcpy(rule.name, "a \" quote } and ; more");  // names never reach the batch
  rule.active = active;
  rule.entries[kRuleRangeStart] = {::inet_addr(from), 0xFFFFFFFFu, 0, 0};
  if (to) rule.entries[kRuleRangeEnd] = {::inet_addr(to), 0xFFFFFFFFu, 0, 0};
  rule.kind = 1;
  return rule;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(RuleSetTest, OnlyActiveBlockingRulesWithAnAddressBecomeKernelRules) {
  _FirewallRule allow = Rule("10.0.0.5");
  allow.allow = 1;
  _FirewallRule none = Rule("10.0.0.6");
  none.entries[kRuleRangeStart].address = 0;
  RamparoEngineSettings settings;  // defaults: icmp only, no direction chosen, logged
  const std::string batch = RamparoRuleSet::Build(
      {Rule("10.0.0.1"), Rule("10.0.0.2", nullptr, 0), allow, none, Rule("10.0.9.9", "10.0.0.3")}, settings, nullptr);
  EXPECT_EQ(batch.rfind("add table inet ramparo { flags owner; }\ndelete table inet ramparo\ntable inet ramparo "
                        "{\n\tflags owner;\n",
                        0),
            0u)
      << "the whole table is replaced in one transaction, and stays the engine's own";
  EXPECT_EQ(batch.find("quote"), std::string::npos);
  EXPECT_EQ(Count(batch, " drop\n"), 4u) << "rules 0 and 4, both ways";
  EXPECT_NE(batch.find("\tchain r0_out {\n\t\tmeta l4proto != { icmp } return\n\t\tlimit name \"lograte\" log prefix "
                       "\"ramparo o 0\" group 27\n\t\tcounter name \"r0_out\" drop\n\t}\n"),
            std::string::npos)
      << batch;
  EXPECT_EQ(batch.find("10.0.0.2"), std::string::npos);
  EXPECT_EQ(batch.find("10.0.0.5"), std::string::npos);
  EXPECT_NE(batch.find("map in_single { type ipv4_addr : verdict; elements = { 10.0.0.1 : goto r0_in } }"),
            std::string::npos);
  EXPECT_NE(
      batch.find("map out_range { type ipv4_addr : verdict; flags interval; elements = { 10.0.0.3-10.0.9.9 : goto "
                 "r4_out } }"),
      std::string::npos);
  EXPECT_NE(batch.find("policy accept;\n\t\tip saddr vmap @in_single\n\t\tip saddr vmap @in_range\n\t}"),
            std::string::npos)
      << "one lookup per map, the hash first";

  settings.logBlocks = 0;
  EXPECT_EQ(RamparoRuleSet::Build({Rule("10.0.0.1")}, settings, nullptr).find(" log "), std::string::npos);
  EXPECT_EQ(RamparoRuleSet::Build({Rule("10.0.0.1")}, settings, nullptr).find("_range"), std::string::npos)
      << "no interval map without ranges";
  settings.blockAll = 1;
  settings.blockDirections = 2;
  const RamparoRuleSet::ProcessGroup group{"unified/ramparo-net1", 1};
  const std::string all = RamparoRuleSet::Build({Rule("10.0.0.1")}, settings, &group);
  EXPECT_NE(all.find("\tchain r0_out {\n\t\tcounter name \"r0_out\" drop"), std::string::npos) << all;
  EXPECT_EQ(all.find("r0_in"), std::string::npos);
  EXPECT_NE(all.find("socket cgroupv2 level 1 \"unified/ramparo-net1\" counter name \"proc_in\" drop"),
            std::string::npos);
  EXPECT_EQ(RamparoRuleSet::ProtocolValue(settings), 0u);
  settings.logBlocks = 1;
  EXPECT_NE(RamparoRuleSet::Build({}, settings, &group)
                .find("socket cgroupv2 level 1 \"unified/ramparo-net1\" limit name \"lograte\" log prefix \"ramparo o "
                      "process\" group 27\n"),
            std::string::npos)
      << "process blocks are logged at the same rate";

  settings.blockAll = 0;
  settings.blockTcp = settings.blockUdp = settings.blockIcmp = 0;
  EXPECT_EQ(Count(RamparoRuleSet::Build({Rule("10.0.0.1")}, settings, nullptr), " drop\n"), 0u)
      << "no protocol chosen blocks nothing";
}

TEST(RuleSetTest, AnAddressSeveralRulesNameBelongsToTheFirstOfThem) {
  // 1 lies in 0; 3 is written high to low and overlaps 0; 6 splits the later range 7.
  const std::vector<_FirewallRule> rules = {Rule("10.0.0.1", "10.0.0.9"),
                                            Rule("10.0.0.5"),
                                            Rule("10.0.0.20"),
                                            Rule("10.0.0.12", "10.0.0.3"),
                                            Rule("255.255.255.250", "255.255.255.255"),
                                            Rule("10.0.0.10"),
                                            Rule("10.0.0.35"),
                                            Rule("10.0.0.30", "10.0.0.40")};
  std::string pieces;
  for (const RamparoRuleSet::Piece& piece : RamparoRuleSet::Pieces(rules))
    pieces += std::to_string(piece.low & 0xFF) + "-" + std::to_string(piece.high & 0xFF) + ":" +
              std::to_string(piece.rule) + " ";
  EXPECT_EQ(pieces, "1-9:0 10-12:3 20-20:2 30-34:7 35-35:6 36-40:7 250-255:4 ");
  const std::string batch = RamparoRuleSet::Build(rules, RamparoEngineSettings{}, nullptr);
  // Small ranges are spelt out into the hash map.
  EXPECT_NE(batch.find("10.0.0.9 : goto r0_out, 10.0.0.10 : goto r3_out"), std::string::npos) << batch;
  EXPECT_NE(batch.find("10.0.0.34 : goto r7_out, 10.0.0.35 : goto r6_out, 10.0.0.36 : goto r7_out"), std::string::npos);
  EXPECT_NE(batch.find("255.255.255.255 : goto r4_out } }"), std::string::npos);
  EXPECT_EQ(batch.find("_range"), std::string::npos);
  EXPECT_EQ(batch.find("r5_"), std::string::npos) << "a rule that owns nothing has no chain";
}

TEST(RuleSetTest, RangesAreSpeltOutIntoTheHashOnlyWhenAllOfThemFit) {
  std::vector<_FirewallRule> rules;
  const std::uint64_t fit = RamparoRuleSet::kHashedAddresses / RamparoRuleSet::kHashedRangeSize;
  for (std::uint32_t i = 0; i <= fit; ++i) {
    const std::uint32_t low = (10u << 24) | (i << 8);
    rules.push_back(Rule("0.0.0.0"));
    rules.back().entries[kRuleRangeStart].address = htonl(low);
    rules.back().entries[kRuleRangeEnd] = {htonl(low + 255), 0xFFFFFFFFu, 0, 0};
  }
  const std::string over = RamparoRuleSet::Build(rules, RamparoEngineSettings{}, nullptr);
  EXPECT_NE(over.find("flags interval; elements = { 10.0.0.0-10.0.0.255 : goto r0_out, "), std::string::npos);
  EXPECT_EQ(over.find("_single"), std::string::npos);
  rules.pop_back();
  const std::string within = RamparoRuleSet::Build(rules, RamparoEngineSettings{}, nullptr);
  EXPECT_NE(within.find("10.0.0.255 : goto r0_out, 10.0.1.0 : goto r1_out"), std::string::npos);
  EXPECT_EQ(within.find("_range"), std::string::npos);
}

TEST(RuleSetTest, TheBlockedProcessesHaveALogPrefixOfTheirOwn) {
  std::size_t rule = 0;
  bool incoming = true;
  ASSERT_TRUE(RamparoRuleSet::ParseLogPrefix(RamparoRuleSet::LogPrefix(RamparoRuleSet::kProcessRule, false).c_str(),
                                             &rule, &incoming));
  EXPECT_TRUE(rule == RamparoRuleSet::kProcessRule && !incoming);
  for (const char* other : {"ramparo o processes", "ramparo x 1", "ramparo o ", "ramparo i 1x"})
    EXPECT_FALSE(RamparoRuleSet::ParseLogPrefix(other, &rule, &incoming)) << other;
}

TEST(RuleSetTest, LoggedPacketsGiveTheOtherSidesAddressAndPortWithinTheCapturedBytes) {
  // IPv4 with 4 bytes of options (header 24), TCP 10.1.1.1:80 -> 10.2.2.2:5000.
  std::uint8_t packet[28] = {0x46, 0, 0,  28, 0, 0, 0x40, 0, 64, 6, 0, 0,  10,   1,
                             1,    1, 10, 2,  2, 2, 1,    1, 1,  1, 0, 80, 0x13, 0x88};
  const _FirewallRule rule = Rule("10.1.1.1");
  _FirewallRuleLogRecord record;
  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, sizeof packet, true, rule, &record));
  EXPECT_EQ(record.blockedAddress, ::inet_addr("10.1.1.1"));
  EXPECT_EQ(ntohs(record.blockedPort), 80);
  EXPECT_EQ(record.localAddress, ::inet_addr("10.2.2.2"));
  EXPECT_EQ(ntohs(record.localPort), 5000);
  EXPECT_EQ(record.protocol, 6);
  EXPECT_EQ(std::memcmp(&record.rule, &rule, sizeof rule), 0);
  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, sizeof packet, false, rule, &record));
  EXPECT_EQ(record.blockedAddress, ::inet_addr("10.2.2.2"));
  EXPECT_EQ(ntohs(record.blockedPort), 5000);
  EXPECT_EQ(ntohs(record.localPort), 80);

  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, 26, true, rule, &record));
  EXPECT_EQ(record.blockedPort | record.localPort, 0) << "ports cut off by the capture are not read";
  packet[7] = 1;  // a later fragment carries no ports
  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, sizeof packet, true, rule, &record));
  EXPECT_EQ(record.blockedPort, 0);
  EXPECT_FALSE(RamparoBlockLog::MakeRecord(packet, 19, true, rule, &record));
  packet[0] = 0x4F;  // a header longer than the capture
  EXPECT_FALSE(RamparoBlockLog::MakeRecord(packet, sizeof packet, true, rule, &record));
  packet[0] = 0x65;
  EXPECT_FALSE(RamparoBlockLog::MakeRecord(packet, sizeof packet, true, rule, &record)) << "not IPv4";
}

TEST(RuleSetTest, Ipv6RulesAreLookedUpByIp6InMapsOfTheirOwnBesideTheIpv4Ones) {
  auto rule6 = [](const char* from, const char* to) {
    _FirewallRule rule = Rule("0.0.0.0");
    EXPECT_TRUE(SetRuleRange(rule, from, to)) << from;
    return rule;
  };
  // 2 lies in 1 and takes nothing; 3 reaches the highest address; 4 is spelt out of a wide range 1.
  const std::vector<_FirewallRule> rules = {
      Rule("10.0.0.1"), rule6("2001:db8::ffff", "2001:db8::1"), rule6("2001:db8::5", ""),
      rule6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fff0", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"),
      rule6("2001:db8::1:0", "")};
  std::string pieces;
  for (const RamparoRuleSet::Piece6& piece : RamparoRuleSet::Pieces6(rules))
    pieces += std::to_string(static_cast<unsigned>(piece.low & 0xFFFF)) + "-" +
              std::to_string(static_cast<unsigned>(piece.high & 0xFFFF)) + ":" + std::to_string(piece.rule) + " ";
  EXPECT_EQ(pieces, "1-65535:1 0-0:4 65520-65535:3 ");
  EXPECT_EQ(RamparoRuleSet::Pieces(rules).size(), 1u) << "the IPv4 sweep sees only the IPv4 rule";

  RamparoEngineSettings settings;  // icmp only
  const std::string batch = RamparoRuleSet::Build(rules, settings, nullptr);
  EXPECT_NE(batch.find("map in6_range { type ipv6_addr : verdict; flags interval; elements = { "
                       "2001:db8::1-2001:db8::ffff : goto r1_in, ffff:ffff:ffff:ffff:ffff:ffff:ffff:fff0-"
                       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff : goto r3_in } }"),
            std::string::npos)
      << batch;
  EXPECT_NE(batch.find("\t\tip saddr vmap @in_single\n\t\tip6 saddr vmap @in6_single\n\t\tip6 saddr vmap @in6_range\n"),
            std::string::npos);
  EXPECT_EQ(batch.find("r2_"), std::string::npos);
  EXPECT_NE(batch.find("\tchain r1_in {\n\t\ticmpv6 type { nd-router-solicit, nd-router-advert, nd-neighbor-solicit, "
                       "nd-neighbor-advert } return\n\t\tmeta l4proto != { icmpv6 } return\n"),
            std::string::npos)
      << "ICMPv6 is the ICMP of an IPv6 rule; neighbour discovery passes as ARP does";
  settings.blockAll = 1;
  EXPECT_NE(RamparoRuleSet::Build(rules, settings, nullptr).find("nd-neighbor-advert } return\n\t\tlimit"),
            std::string::npos);

  _FirewallRule mixed = Rule("10.0.0.1");
  EXPECT_FALSE(SetRuleRange(mixed, "10.0.0.1", "2001:db8::1"));
  EXPECT_FALSE(SetRuleRange(mixed, "2001:db8::1", "10.0.0.1"));
  EXPECT_FALSE(SetRuleRange(mixed, "2001:db8::g", ""));
  EXPECT_EQ(mixed.kind, 1u) << "a refused range leaves the rule alone";
}

TEST(RuleSetTest, LoggedIpv6PacketsAreReadPastTheirExtensionHeadersWithinTheCapturedBytes) {
  // IPv6 2001:db8::1 -> 2001:db8::2, a hop-by-hop header of 8 bytes, then UDP 53 -> 4000.
  std::uint8_t packet[60] = {0x60, 0, 0, 0, 0, 20, 0, 64};
  packet[8] = 0x20, packet[9] = 0x01, packet[10] = 0x0d, packet[11] = 0xb8, packet[23] = 1;
  packet[24] = 0x20, packet[25] = 0x01, packet[26] = 0x0d, packet[27] = 0xb8, packet[39] = 2;
  packet[40] = 17;  // next header after hop-by-hop; its length 0 means 8 bytes
  packet[48] = 0, packet[49] = 53, packet[50] = 0x0F, packet[51] = 0xA0;
  const _FirewallRule rule = Rule("10.1.1.1");
  _FirewallRuleLogRecord record;
  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, 52, true, rule, &record));
  EXPECT_EQ(record.family, kLogFamilyIpv6);
  EXPECT_EQ(Inet6Ntop(record.blockedAddress6), "2001:db8::1");
  EXPECT_EQ(Inet6Ntop(record.localAddress6), "2001:db8::2");
  EXPECT_EQ(record.blockedAddress | record.localAddress, 0u);
  EXPECT_TRUE(record.protocol == 17 && ntohs(record.blockedPort) == 53 && ntohs(record.localPort) == 4000);

  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, 47, true, rule, &record));
  EXPECT_EQ(record.protocol | record.blockedPort | record.localPort, 0) << "a header cut off leaves all unknown";
  packet[41] = 200;  // a hop-by-hop header longer than the capture
  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, sizeof packet, true, rule, &record));
  EXPECT_EQ(record.blockedPort, 0);
  packet[6] = 44, packet[41] = 0, packet[40] = 17, packet[43] = 8;  // a fragment at offset 8: no ports
  ASSERT_TRUE(RamparoBlockLog::MakeRecord(packet, sizeof packet, true, rule, &record));
  EXPECT_EQ(record.protocol, 44);
  EXPECT_EQ(record.blockedPort, 0);
  EXPECT_FALSE(RamparoBlockLog::MakeRecord(packet, 39, true, rule, &record)) << "shorter than the IPv6 header";
}

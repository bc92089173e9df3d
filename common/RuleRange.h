#pragma once
#include <string>

#include "FirewallRule.h"

// The address range of a firewall rule as the editor, the rule log and the statistics show it:
// dotted text for an IPv4 rule, RFC 5952 text for an IPv6 one.

// The range start (kRuleRangeStart) or end (kRuleRangeEnd); an end that was not given is "".
std::string RuleRangeText(const _FirewallRule& rule, int which);

// Sets the kind, range and masks of a rule from the editor's texts (to may be empty). An IPv4
// From is read as the sockets library reads it; an IPv6 one must be an IPv6 address. False,
// leaving the rule alone, when the two texts are of different families or an IPv6 text does
// not read.
bool SetRuleRange(_FirewallRule& rule, const std::string& from, const std::string& to);

// Whether a text is meant as an IPv6 address (it has a colon).
bool IsIpv6Text(const std::string& text);

// The kernel's counter files (/proc/net/snmp, netstat, sockstat, snmp6) as text of any content, in
// every layout: every lookup answers, and the 32-bit reading is the counter cut to 32 bits.
#include <algorithm>
#include <memory>
#include <string_view>

#include "FuzzInput.h"
#include "platform/linux/SnmpCounters.h"
#include "platform/linux/StatisticsRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Group and name to look up: the input's first two words, as a real file would name them.
  const std::size_t colon = text.find(':');
  const std::string_view group = text.substr(0, colon == std::string_view::npos ? 0 : colon);
  std::string_view rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  const std::string_view name = rest.substr(0, rest.find_first_of(" \n"));
  for (SnmpCounters::Layout layout :
       {SnmpCounters::Layout::Table, SnmpCounters::Layout::Pairs, SnmpCounters::Layout::Lines}) {
    const SnmpCounters counters = SnmpCounters::Parse(text, layout);
    const std::optional<std::uint64_t> found = counters.Find(group, name);
    fuzz::Check(counters.Get32(group, name) == static_cast<std::uint32_t>(found.value_or(0)),
                "the 32-bit reading is the counter cut to 32 bits");
  }
  // The records take their counters by name and their ICMP types from the names' numbers,
  // whatever the text holds.
  const SnmpCounters lines = SnmpCounters::Parse(text, SnmpCounters::Layout::Lines);
  fuzz::Check(Ip6StatisticsOf(lines).dwInReceives == lines.Get32("", "Ip6InReceives"), "the counter of that name");
  fuzz::Check(Udp6StatisticsOf(lines).dwInDatagrams == lines.Get32("", "Udp6InDatagrams"), "the counter of that name");
  const auto icmp6 = std::make_unique<MIB_ICMP_EX>(Icmp6StatisticsOf(lines));
  fuzz::Check(icmp6->icmpInStats.dwMsgs == lines.Get32("", "Icmp6InMsgs"), "the counter of that name");
  const auto icmp = std::make_unique<MIB_ICMP_EX>(IcmpStatisticsExOf(SnmpCounters::Parse(text)));
  fuzz::Check(icmp->icmpOutStats.dwErrors == SnmpCounters::Parse(text).Get32("Icmp", "OutErrors"),
              "the counter of that name");
  return 0;
}

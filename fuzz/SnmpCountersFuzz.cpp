// The kernel's counter files (/proc/net/snmp, netstat, sockstat) as text of any content, in
// both layouts: every lookup answers, and the 32-bit reading is the counter cut to 32 bits.
#include <algorithm>
#include <string_view>

#include "FuzzInput.h"
#include "platform/linux/SnmpCounters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Group and name to look up: the input's first two words, as a real file would name them.
  const std::size_t colon = text.find(':');
  const std::string_view group = text.substr(0, colon == std::string_view::npos ? 0 : colon);
  std::string_view rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  const std::string_view name = rest.substr(0, rest.find_first_of(" \n"));
  for (SnmpCounters::Layout layout : {SnmpCounters::Layout::Table, SnmpCounters::Layout::Pairs}) {
    const SnmpCounters counters = SnmpCounters::Parse(text, layout);
    const std::optional<std::uint64_t> found = counters.Find(group, name);
    fuzz::Check(counters.Get32(group, name) == static_cast<std::uint32_t>(found.value_or(0)),
                "the 32-bit reading is the counter cut to 32 bits");
  }
  return 0;
}

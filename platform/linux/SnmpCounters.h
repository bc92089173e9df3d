#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The kernel's protocol counters as /proc/net/snmp and /proc/net/netstat print them: pairs of
// lines "Group: Name1 Name2 ..." and "Group: value1 value2 ...". Counters are looked up by
// group and name, never by position, so fields the kernel adds or reorders do no harm.
class SnmpCounters {
 public:
  // Reads and parses the file; nothing when it cannot be read.
  static std::optional<SnmpCounters> Read(const char* path);
  static SnmpCounters Parse(std::string_view text);

  // The counter, or nothing when the group or name is absent or the value is not a number.
  // Negative values (a maximum of -1 meaning "no limit") come back as their 64-bit pattern.
  std::optional<std::uint64_t> Find(std::string_view group, std::string_view name) const;

  // The counter cut to 32 bits as the platform's records hold it (they wrap); 0 when absent.
  std::uint32_t Get32(std::string_view group, std::string_view name) const;

 private:
  struct Counter {
    std::string group;
    std::string name;
    std::optional<std::uint64_t> value;
  };
  std::vector<Counter> m_counters;
};

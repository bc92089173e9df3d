#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The kernel's protocol counters as its /proc/net files print them, in one of three layouts:
//   Table (/proc/net/snmp, /proc/net/netstat): pairs of lines "Group: Name1 Name2 ..." and
//     "Group: value1 value2 ...";
//   Pairs (/proc/net/sockstat): one line per group, "Group: name1 value1 name2 value2 ...";
//   Lines (/proc/net/snmp6): one counter per line, "Name value"; these counters have no group
//     (the empty group), their names carry the protocol ("Ip6InReceives", "Udp6InDatagrams").
// Counters are looked up by group and name, never by position, so fields the kernel adds or
// reorders do no harm.
class SnmpCounters {
 public:
  enum class Layout { Table, Pairs, Lines };

  // Reads and parses the file; nothing when it cannot be read.
  static std::optional<SnmpCounters> Read(const char* path, Layout layout = Layout::Table);
  static SnmpCounters Parse(std::string_view text, Layout layout = Layout::Table);

  // The counter, or nothing when the group or name is absent or the value is not a number.
  // Negative values (a maximum of -1 meaning "no limit") come back as their 64-bit pattern.
  std::optional<std::uint64_t> Find(std::string_view group, std::string_view name) const;

  // The counter cut to 32 bits as the platform's records hold it (they wrap); 0 when absent.
  std::uint32_t Get32(std::string_view group, std::string_view name) const;

  // Every counter of the group whose name begins with prefix and has a number: the rest of its
  // name and the value (for families of counters such as "Icmp6InType128").
  std::vector<std::pair<std::string_view, std::uint64_t>> WithPrefix(std::string_view group,
                                                                     std::string_view prefix) const;

 private:
  struct Counter {
    std::string group;
    std::string name;
    std::optional<std::uint64_t> value;
  };
  static SnmpCounters ParseTable(std::string_view text);
  static SnmpCounters ParsePairs(std::string_view text);
  static SnmpCounters ParseLines(std::string_view text);

  std::vector<Counter> m_counters;
};

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/FirewallRule.h"

// Reader of a firewall rule file: a 4-byte rule count, then 92-byte rule records.
//
// A count of 0 means an empty rule set whatever follows it. Any other count is only a hint:
// every whole record present is read (up to the caller's limit), so a count larger than the
// file never leads past its end and a smaller one loses nothing. A partial record at the end
// ends the read.
class FirewallRuleFile {
 public:
  struct Contents {
    bool opened = false;              // the file could be opened and read
    std::uint32_t declaredCount = 0;  // the count field as written
    std::vector<_FirewallRule> rules;
  };

  // The read takes a shared lock on the file for its duration, waiting a little for a writer
  // that holds it exclusively; a file that stays locked is not read.
  static Contents Read(const std::string& path, std::size_t maxRecords);
};

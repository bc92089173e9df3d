#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/FirewallRule.h"
#include "controls/firewall/FirewallLockedFile.h"

// A firewall rule file: a 4-byte rule count, then 92-byte rule records.
//
// A count of 0 means an empty rule set whatever follows it. Any other count is only a hint:
// every whole record present is read (up to the caller's limit), so a count larger than the
// file never leads past its end and a smaller one loses nothing. A partial record at the end
// ends the read. A write stores the true count.
class FirewallRuleFile {
 public:
  using Sharing = FirewallLockedFile::Sharing;

  struct Contents {
    bool opened = false;              // the file could be opened and read
    bool missing = false;             // there is no such file: no rules yet
    std::uint32_t declaredCount = 0;  // the count field as written
    std::vector<_FirewallRule> rules;
  };

  // The engine reads shared; the console's editor reads and writes alone.
  static Contents Read(const std::string& path, std::size_t maxRecords, Sharing sharing = Sharing::Shared);
  // False when the file is held by another or cannot be written; it is unchanged then.
  static bool Write(const std::string& path, const std::vector<_FirewallRule>& rules);
};

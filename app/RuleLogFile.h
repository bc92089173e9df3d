#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/FirewallRuleLogRecord.h"

// The engine's rule log: 200-byte records with no header, read back by page of 256 records.
// A partial record at the end of the file is ignored.
class RuleLogFile {
 public:
  static constexpr int kPageSize = 256;

  struct PageStart {
    std::int64_t page = 0;
    _SystemTime time{};  // of the page's first record
  };

  // The records of a page; nothing when the file is missing or the page lies past its end.
  static std::vector<_FirewallRuleLogRecord> ReadPage(const std::string& path, std::int64_t page);
  // Every page of the file with the time of its first record.
  static std::vector<PageStart> Pages(const std::string& path);

  // The row texts of a record.
  static std::string NameText(const _FirewallRuleLogRecord& record);
  static std::string RuleText(const _FirewallRuleLogRecord& record);     // start[ - end]
  static std::string BlockedText(const _FirewallRuleLogRecord& record);  // address[:port]
  // "%m/%d/%y %H:%M:%S" + ":" + three digits of milliseconds.
  static std::string TimeText(const _SystemTime& time);
};

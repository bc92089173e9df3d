// The firewall's files on any content: the rule file, the process file and the rule log with the
// texts of its rows. The first byte picks the reader, the rest is the file.
#include "FuzzInput.h"
#include "app/RuleLogFile.h"
#include "common/RuleRange.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "controls/firewall/FirewallRuleFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string path = fuzz::WriteFile("firewall.bin", data + 1, size - 1);
  const std::size_t bytes = size - 1;
  switch (data[0] % 3) {
    case 0: {
      const auto contents = FirewallRuleFile::Read(path, 4096);
      fuzz::Check(contents.opened, "the rule file opens");
      fuzz::Check(contents.rules.size() * sizeof(_FirewallRule) + 4 <= bytes + 4, "only whole rules are read");
      for (const _FirewallRule& rule : contents.rules) {
        fuzz::Check(RuleRangeText(rule, kRuleRangeStart).size() <= 45, "a start address is one address");
        RuleRangeText(rule, kRuleRangeEnd);
      }
      break;
    }
    case 1: {
      const auto records = FirewallProcessFile::Read(path, FirewallProcessFile::Sharing::Shared).records;
      fuzz::Check(records.size() <= FirewallProcessFile::kMaxRecords, "at most the limit of processes");
      fuzz::Check(records.size() * sizeof(_FirewallProcessRecord) <= bytes, "only whole process records");
      break;
    }
    default: {
      for (const auto& start : RuleLogFile::Pages(path)) {
        RuleLogFile::TimeText(start.time);
        for (const auto& record : RuleLogFile::ReadPage(path, start.page)) {
          RuleLogFile::NameText(record);
          RuleLogFile::RuleText(record);
          RuleLogFile::BlockedText(record);
          RuleLogFile::TimeText(record.time);
        }
      }
      fuzz::Check(RuleLogFile::ReadPage(path, -1).empty(), "no page before the first");
      break;
    }
  }
  return 0;
}

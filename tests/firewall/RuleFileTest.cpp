#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "FirewallTestSupport.h"
#include "common/FieldText.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "controls/firewall/FirewallRuleFile.h"

namespace {

_FirewallRule Rule(const char* name, std::uint32_t from) {
  _FirewallRule rule{};
  SetFieldText(rule.name, name);
  rule.active = 1;
  rule.entries[kRuleRangeStart] = {from, 0xFFFFFFFFu, 0, 0};
  rule.kind = 1;
  return rule;
}

void WriteRuleFile(const std::string& path, std::uint32_t count, const std::vector<_FirewallRule>& rules,
                   std::size_t extraBytes = 0) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&count), sizeof count);
  for (const auto& rule : rules) out.write(reinterpret_cast<const char*>(&rule), sizeof rule);
  out << std::string(extraBytes, '\x11');  // a partial record
}

class RuleFileTest : public ::testing::Test {
 protected:
  TempFolder m_folder;
  std::string m_path = m_folder.File("Ramparo.cfg");
  std::vector<_FirewallRule> m_three{Rule("one", 0x01010101), Rule("two", 0x02020202), Rule("three", 0x03030303)};
};

}  // namespace

TEST_F(RuleFileTest, TheCountNeverLeadsPastTheRecordsPresent) {
  WriteRuleFile(m_path, 0xFFFFFFFFu, m_three, 50);
  FirewallRuleFile::Contents contents = FirewallRuleFile::Read(m_path, 1000);
  EXPECT_TRUE(contents.opened);
  EXPECT_EQ(contents.declaredCount, 0xFFFFFFFFu);
  ASSERT_EQ(contents.rules.size(), 3u);
  EXPECT_EQ(GetFieldText(contents.rules[2].name), "three");
  EXPECT_EQ(contents.rules[1].entries[kRuleRangeStart].address, 0x02020202u);

  WriteRuleFile(m_path, 1, m_three);  // a short count loses nothing
  EXPECT_EQ(FirewallRuleFile::Read(m_path, 1000).rules.size(), 3u);
  EXPECT_EQ(FirewallRuleFile::Read(m_path, 2).rules.size(), 2u);

  WriteRuleFile(m_path, 0, m_three);  // count 0: an empty rule set
  contents = FirewallRuleFile::Read(m_path, 1000);
  EXPECT_TRUE(contents.opened);
  EXPECT_TRUE(contents.rules.empty());

  { std::ofstream(m_path, std::ios::binary | std::ios::trunc) << "ab"; }  // no whole count
  contents = FirewallRuleFile::Read(m_path, 1000);
  EXPECT_TRUE(contents.opened);
  EXPECT_TRUE(contents.rules.empty());

  const FirewallRuleFile::Contents missing = FirewallRuleFile::Read(m_folder.File("missing.cfg"), 1000);
  EXPECT_FALSE(missing.opened);
  EXPECT_TRUE(missing.missing);
}

TEST_F(RuleFileTest, ASaveKeepsTheModeAndOwnerOfTheFileItReplaces) {
  // The rule file and the process file are saved the same way; the group may read them both.
  const std::string processes = m_folder.File("RamparoProcesses.prc");
  ASSERT_TRUE(FirewallRuleFile::Write(m_path, m_three));
  ASSERT_TRUE(FirewallProcessFile::Write(processes, std::vector<_FirewallProcessRecord>(2)));
  const bool root = ::geteuid() == 0;
  for (const std::string& path : {m_path, processes}) {
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    if (root) {
      ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
  }
  ASSERT_TRUE(FirewallRuleFile::Write(m_path, {m_three[0]}));
  ASSERT_TRUE(FirewallProcessFile::Write(processes, std::vector<_FirewallProcessRecord>(1)));
  for (const std::string& path : {m_path, processes}) {
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u) << path;
    if (root) {
      EXPECT_EQ(info.st_uid, 65534u) << path;
      EXPECT_EQ(info.st_gid, 65534u) << path;
    }
  }
  EXPECT_EQ(FirewallRuleFile::Read(m_path, 10).rules.size(), 1u);
  EXPECT_EQ(FirewallProcessFile::Read(processes, FirewallProcessFile::Sharing::Shared).records.size(), 1u);
}

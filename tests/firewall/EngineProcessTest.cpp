#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>

#include "FirewallTestSupport.h"
#include "PrivateNetwork.h"
#include "common/FieldText.h"
#include "common/FirewallProcessRecord.h"
#include "common/FirewallRule.h"
#include "common/ResultCodes.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/RampaEngineProcess.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"
#include "platform/Registry.h"

namespace {

const char kName[] = "RamparoInterfaceMem.mem";
const char kEngineKey[] = "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp";
const char kConsoleKey[] = "Software\\DunmereIncProducts\\Setup\\IpRamparo";
constexpr auto kStartLimit = std::chrono::milliseconds(10000);

std::uint32_t ReplyField(const std::uint8_t* payload, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, payload + offset, sizeof value);
  return value;
}

bool ExitedWith(const RampaEngineProcess& engine, int code) {
  const int status = engine.ExitStatus();
  return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

void WriteRules(const std::string& path, std::uint32_t count, int records, bool partial) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&count), sizeof count);
  for (int i = 0; i < records; ++i) {
    _FirewallRule rule{};
    SetFieldText(rule.name, "rule " + std::to_string(i));
    rule.entries[kRuleRangeStart].address = 0x0100000Au + static_cast<std::uint32_t>(i);
    rule.kind = 1;
    out.write(reinterpret_cast<const char*>(&rule), sizeof rule);
  }
  if (partial) out << std::string(40, '\x7F');
}

class EngineProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InPrivateNetwork()) GTEST_SKIP() << "the engine needs CAP_NET_ADMIN: run as root";
    ::setenv("PELORIN_REGISTRY", m_registry.c_str(), 1);
  }
  void TearDown() override {
    for (RampaEngineProcess* engine : {&m_engine, &m_other}) {
      if (engine->IsRunning()) {
        engine->Signal(SIGKILL);
        engine->WaitForExit(10000);
      }
    }
  }

  bool Start(RampaEngineProcess& engine, std::vector<std::string> arguments = {}) {
    return engine.Start(PELORIN_ENGINE_DIR, m_folder.Path(), arguments);
  }
  static bool Present(void* view) {
    return WaitFor([view] { return RampaBlockGet(view, kRampaOffEnginePresent) != 0; }, kStartLimit);
  }

  TempFolder m_folder;
  std::string m_registry = m_folder.File("registry.reg");
  std::string m_file = m_folder.File(kName);
  RampaEngineProcess m_engine;
  RampaEngineProcess m_other;
};

}  // namespace

TEST_F(EngineProcessTest, EngineCreatesTheBlockAndEndsCleanlyOnSigterm) {
  ASSERT_TRUE(Start(m_engine));
  ASSERT_TRUE(WaitFor([&] { return PeekBlock(m_file, kRampaOffEnginePresent) != 0; }, kStartLimit));
  Registry store(m_registry);
  EXPECT_EQ(store.GetValue(kEngineKey, "RampaMemFile"), RegistryValue::String(m_file));
  EXPECT_EQ(store.GetValue(kEngineKey, "CfgFile"), RegistryValue::String(m_folder.File("Ramparo.cfg")));

  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(console.MemIsCreated(), 0);
  EXPECT_EQ(RampaBlockGet(view, kRampaEngineCreated), 1u);
  EXPECT_EQ(RampaBlockGet(view, kRampaEnginePid), static_cast<std::uint32_t>(m_engine.Pid()));
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 0u);

  ASSERT_NE(console.SendEngineMessageWithReturn(kRampaMsgStart, 0, 0, 1), nullptr);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 1u);
  ASSERT_TRUE(m_engine.Signal(SIGTERM));
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_TRUE(ExitedWith(m_engine, 0));
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 0u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 0u);
}

TEST_F(EngineProcessTest, EngineJoinsTheConsolesBlockAndServesEveryRequest) {
  WriteRules(m_folder.File("Ramparo.cfg"), 0xFFFFFFFFu, 3, true);
  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(console.MemIsCreated(), 1);
  RampaBlockSetText(view, kRampaOffCfgFile, "console rules");
  ASSERT_TRUE(Start(m_engine));
  ASSERT_TRUE(Present(view));
  EXPECT_EQ(RampaBlockGet(view, kRampaEngineCreated), 0u);
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffCfgFile), "console rules");
  console.MemSetCreated(0);

  std::uint8_t* reply = console.SendEngineMessageWithReturn(kRampaMsgStart, 0, 0, 1);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(ReplyField(reply, kRampaReplyCode), 1127u);
  EXPECT_EQ(ReplyField(reply, kRampaReplyResult), 0u);
  EXPECT_EQ(ReplyField(reply, kRampaReplyCount), 3u) << "the count field promised more than the file holds";
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 1u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffRequestPending), 0u);

  WriteRules(m_folder.File("Ramparo.cfg"), 1, 1, false);
  reply = console.SendEngineMessageWithReturn(kRampaMsgReloadRules, 0, 0, 1);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(ReplyField(reply, kRampaReplyCount), 1u);

  reply = console.SendEngineMessageWithReturn(kRampaMsgStatistics, 0, 0, 1);
  ASSERT_NE(reply, nullptr);
  const RampaStatisticsReply statistics = RampaStatisticsReply::Parse(reply, kRampaPayloadSize);
  EXPECT_EQ(statistics.status, RampaStatisticsReply::Status::Ignored);
  EXPECT_NE(statistics.engineAddress, 0u);
  EXPECT_TRUE(statistics.entries.empty()) << "nothing was blocked yet";

  // The process file is taken up on request, never more than 64 entries of it.
  {
    std::ofstream out(m_folder.File("procs.prc"), std::ios::binary);
    _FirewallProcessRecord record{};
    for (int i = 0; i < 70; ++i) out.write(reinterpret_cast<const char*>(&record), sizeof record);
  }
  ASSERT_TRUE(Registry(m_registry).SetValue(kConsoleKey, "IpRamparoProcesses",
                                            RegistryValue::String(m_folder.File("procs.prc"))));
  reply = console.SendEngineMessageWithReturn(kRampaMsgSettings, 0, 0, 1);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(ReplyField(reply, kRampaReplyResult), 0u);
  EXPECT_EQ(ReplyField(reply, kRampaReplyCount), 64u);

  reply = console.SendEngineMessageWithReturn(4242, 0, 0, 1);
  ASSERT_NE(reply, nullptr) << "an unknown request is answered, so the slot frees";
  EXPECT_EQ(ReplyField(reply, kRampaReplyResult), static_cast<std::uint32_t>(E_UNEXPECTED));

  ASSERT_NE(console.SendEngineMessageWithReturn(kRampaMsgStop, 0, 0, 1), nullptr);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 0u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 1u);

  ASSERT_NE(console.SendEngineMessageWithReturn(kRampaMsgShutdown, 0, 0, 1), nullptr);
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_TRUE(ExitedWith(m_engine, 0));
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 0u);
  EXPECT_EQ(RampaBlockGet(view, kRampaEngineServed), 7u);
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffCfgFile), "console rules") << "the engine leaves the block";
}

TEST_F(EngineProcessTest, ASecondEngineOnTheSameBlockIsRefused) {
  ASSERT_TRUE(Start(m_engine));
  ASSERT_TRUE(WaitFor([&] { return PeekBlock(m_file, kRampaOffEnginePresent) != 0; }, kStartLimit));
  ASSERT_TRUE(Start(m_other));
  ASSERT_TRUE(m_other.WaitForExit(10000));
  EXPECT_TRUE(ExitedWith(m_other, 1));

  CRampaMem console(nullptr, kName, m_file);
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(RampaBlockGet(view, kRampaEnginePid), static_cast<std::uint32_t>(m_engine.Pid()));
  EXPECT_NE(console.SendEngineMessageWithReturn(kRampaMsgStatistics, 0, 0, 1), nullptr);
}

TEST_F(EngineProcessTest, AKilledEngineLeavesAConsoleThatTimesOut) {
  ASSERT_TRUE(Start(m_engine));
  CRampaMem console(nullptr, kName, m_file);
  ASSERT_TRUE(WaitFor([&] { return PeekBlock(m_file, kRampaOffEnginePresent) != 0; }, kStartLimit));
  void* view = console.MemAttach();
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(m_engine.Signal(SIGKILL));
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 1u) << "a killed engine cannot lower its flag";

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(console.SendEngineMessageWithReturn(kRampaMsgStart, 0, 0, 1), nullptr);
  EXPECT_GE(MillisecondsSince(start), 4990.0);  // 50 checks of 100 ms
  EXPECT_EQ(console.SendEngineMessage(kRampaMsgStop, 0, 0, 0), 0) << "our unanswered request holds the slot";

  // A new engine takes the block over: nothing of the dead one's lock remains.
  ASSERT_TRUE(Start(m_other));
  ASSERT_TRUE(WaitFor([&] { return RampaBlockGet(view, kRampaEnginePid) == static_cast<std::uint32_t>(m_other.Pid()); },
                      kStartLimit));
  RampaBlockSet(view, kRampaOffRequestPending, 0);
  RampaBlockSet(view, kRampaOffReplyReady, 0);
  EXPECT_NE(console.SendEngineMessageWithReturn(kRampaMsgStatistics, 0, 0, 1), nullptr);
}

TEST_F(EngineProcessTest, AnEngineWhoseInterfaceFileIsCutShortEnds) {
  ASSERT_TRUE(Start(m_engine));
  ASSERT_TRUE(WaitFor([&] { return PeekBlock(m_file, kRampaOffEnginePresent) != 0; }, kStartLimit));
  ASSERT_EQ(::truncate(m_file.c_str(), 0), 0);
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_TRUE(ExitedWith(m_engine, 1));
}

TEST_F(EngineProcessTest, HelpNamesTheTableAndTheLogLimit) {
  const std::string program = RampaEngineProcess::ProgramPath(PELORIN_ENGINE_DIR);
  FILE* pipe = ::popen((program + " --help").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_NE(text.find("\"inet ramparo\""), std::string::npos) << text;
  EXPECT_NE(text.find("at most 20"), std::string::npos) << text;

  ASSERT_TRUE(Start(m_engine, {"--no-such-option"}));
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_TRUE(ExitedWith(m_engine, 2));
  EXPECT_FALSE(std::filesystem::exists(m_file)) << "a refused command line touches nothing";
}

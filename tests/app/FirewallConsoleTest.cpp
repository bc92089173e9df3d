#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "app/FirewallConsole.h"
#include "controls/firewall/RampaSharedBlock.h"

namespace {

class FirewallConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-console-XXXXXX";
    m_folder = std::string(mkdtemp(pattern)) + "/";
    setenv("PELORIN_REGISTRY", (m_folder + "registry.reg").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("PELORIN_REGISTRY");
    std::filesystem::remove_all(m_folder);
  }
  std::string m_folder;
  AppProfile m_app{"DunmereIncProducts\\Setup", "PelorinPro"};
  AppProfile m_engine{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
  AppProfile m_console{"DunmereIncProducts\\Setup", "IpRamparo"};
};

}  // namespace

TEST_F(FirewallConsoleTest, DefaultsAreStoredAndRemotePathsFollowTheLocalOnes) {
  FirewallConsole console(m_app);
  console.ResolveEngineFiles(m_folder);
  console.ResolveProcessFile(m_folder);
  EXPECT_EQ(console.LocalInterfaceFile(), m_folder + "RamparoInterfaceMem.mem");
  EXPECT_EQ(console.RemoteInterfaceFile(), console.LocalInterfaceFile());
  EXPECT_EQ(console.EngineConfigPath(), m_folder + "Ramparo.cfg");
  EXPECT_EQ(m_engine.GetProfileString("", "RampaMemFile"), m_folder + "RamparoInterfaceMem.mem");
  EXPECT_EQ(m_engine.GetProfileString("", "CfgFile"), m_folder + "Ramparo.cfg");
  EXPECT_EQ(m_app.GetProfileString("", "CfgFileRemote"), m_folder + "Ramparo.cfg");
  // The engine's key was only made by this start-up: no engine to edit rules for.
  EXPECT_EQ(m_app.GetProfileString("", "PelorinFirewallCfgFileCurrent"), "");
  EXPECT_FALSE(console.EngineInstalled());
  EXPECT_EQ(console.ProcessFilePath(), m_folder + "Cfg/RamparoProcesses.prc");
  EXPECT_EQ(m_console.GetProfileString("", "IpRamparoProcesses"), console.ProcessFilePath());
}

TEST_F(FirewallConsoleTest, StoredPathsWinAndTheLocationMarksTheEngineInstalled) {
  m_engine.WriteProfileString("", "RampaMemFile", "/srv/engine.mem");
  m_engine.WriteProfileString("", "CfgFile", "/srv/rules.cfg");
  m_app.WriteProfileString("", "RampaMemFileRemote", "/remote/engine.mem");
  m_console.WriteProfileString("", "RamparoThreadAppLoc", "/opt/ramparo");
  FirewallConsole console(m_app);
  console.ResolveEngineFiles(m_folder);
  EXPECT_EQ(console.LocalInterfaceFile(), "/srv/engine.mem");
  EXPECT_EQ(console.RemoteInterfaceFile(), "/remote/engine.mem");
  EXPECT_EQ(console.EngineConfigPath(), "/srv/rules.cfg");
  EXPECT_EQ(m_app.GetProfileString("", "PelorinFirewallCfgFileCurrent"), "/srv/rules.cfg");
  EXPECT_TRUE(console.EngineInstalled());
}

TEST_F(FirewallConsoleTest, AChannelThatCreatesTheBlockIdentifiesTheConsole) {
  FirewallConsole console(m_app);
  console.ResolveEngineFiles(m_folder);
  ASSERT_TRUE(console.AttachChannel(console.LocalInterfaceFile(), "PelorinPro"));
  void* view = console.ChannelView();
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffIdent), console.LocalInterfaceFile());
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffCfgFile), console.EngineConfigPath());
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffAppName), "PelorinPro");
  EXPECT_EQ(RampaBlockGet(view, kRampaOffOwner), 0u);  // never an address of this process
  EXPECT_NE(RampaBlockGet(view, kRampaOffUiThreadId), 0u);
  // A second console sees the block as it is and does not rewrite it.
  FirewallConsole second(m_app);
  second.ResolveEngineFiles(m_folder);
  ASSERT_TRUE(second.AttachChannel(second.LocalInterfaceFile(), "Other"));
  EXPECT_EQ(RampaBlockGetText(second.ChannelView(), kRampaOffAppName), "PelorinPro");
  second.DetachChannel();
  EXPECT_EQ(RampaBlockGetText(view, kRampaOffAppName), "PelorinPro");
  EXPECT_FALSE(console.AttachChannel(m_folder + "missing-folder/x.mem", "PelorinPro"));
  EXPECT_EQ(console.Channel() != nullptr, true);
  EXPECT_EQ(console.ChannelView(), nullptr);
}

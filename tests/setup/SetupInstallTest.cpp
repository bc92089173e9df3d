// Setup as root into a private prefix, home and registry: what install places, how a re-install
// and a failed one behave, and that uninstall leaves the machine as it was.
#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "setup/InstallRecord.h"
#include "tests/setup/SetupTestSupport.h"

namespace {

constexpr char kEngineKey[] = "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp";
constexpr char kConsoleKey[] = "Software\\DunmereIncProducts\\Setup\\IpRamparo";
constexpr char kApplicationKey[] = "Software\\DunmereIncProducts\\Setup\\PelorinPro";

std::string Text(Registry& store, const char* key, const char* name) {
  const auto value = store.GetValue(key, name);
  return value ? value->text : "<missing>";
}

class SetupInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "Setup installs as root";
    ASSERT_EQ(m_box.Staged().status, 0) << m_box.Staged().output;
    m_before = TreeOf(m_box.Root());
  }
  CommandResult Install(const std::string& extra = "") {
    return m_box.Setup("install --prefix " + m_box.Prefix(), extra);
  }
  CommandResult Uninstall(const std::string& options = "") {
    return m_box.Setup("uninstall " + options, "", m_box.Prefix() + "/bin/Setup");
  }
  std::set<std::string> Added() const {
    std::set<std::string> now = TreeOf(m_box.Root()), added;
    std::set_difference(now.begin(), now.end(), m_before.begin(), m_before.end(), std::inserter(added, added.end()));
    return added;
  }

  SetupSandbox m_box;
  std::set<std::string> m_before;
};

TEST_F(SetupInstall, InstallReinstallAndUninstallOfAnIncompleteInstallation) {
  const CommandResult installed = Install();
  ASSERT_EQ(installed.status, 0) << installed.output;
  const std::string bin = m_box.Prefix() + "/bin";
  EXPECT_NE(installed.output.find("capabilities cap_net_raw+ep on " + bin + "/PelorinCaptureHelper"),
            std::string::npos)
      << installed.output;

  // The prefix holds the stage's tree plus the record. The window program holds no capability;
  // the capture helper and the engine hold one each, and only root and the group may run them.
  // The engine, started with its capability, finds its libraries by an absolute path.
  std::set<std::string> expected = TreeOf(m_box.Stage());
  EXPECT_TRUE(expected.count("share/PelorinPro/Pelorin.html"));  // the manual, where the program looks
  expected.insert("share/PelorinPro/setup-record.txt");
  EXPECT_EQ(TreeOf(m_box.Prefix()), expected);
  for (const char* program : {"PelorinPro", "Setup"}) EXPECT_EQ(Shell("getcap " + bin + "/" + program).output, "");
  EXPECT_EQ(OwnerAndMode(bin + "/PelorinPro"), "root:root 755");
  EXPECT_EQ(Shell("patchelf --print-rpath " + bin + "/PelorinPro").output, "$ORIGIN/../lib\n");
  EXPECT_EQ(Shell("patchelf --print-rpath " + bin + "/RamparoThreadApp").output, m_box.Prefix() + "/lib\n");
  for (const auto& [program, capabilities] : {std::pair{"PelorinCaptureHelper", "cap_net_raw=ep"},
                                              std::pair{"RamparoThreadApp", "cap_net_admin=ep"}}) {
    EXPECT_EQ(Shell("getcap " + bin + "/" + program).output, bin + "/" + program + " " + capabilities + "\n");
    EXPECT_EQ(OwnerAndMode(bin + "/" + program), "root:pelorinpro 750");
  }

  // The user's menu entry is valid, runs the installed program in the working folder.
  const std::string desktop = m_box.Home() + "/.local/share/applications/pelorinpro.desktop";
  const CommandResult valid = Shell("desktop-file-validate " + desktop);
  EXPECT_EQ(valid.status, 0) << valid.output;
  EXPECT_EQ(valid.output, "");
  const std::string entry = ReadFileContents(desktop).value_or("");
  EXPECT_NE(entry.find("\nExec=" + bin + "/PelorinPro\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nPath=" + m_box.Work() + "\n"), std::string::npos) << entry;
  EXPECT_TRUE(fs::exists(m_box.Home() + "/.local/share/icons/hicolor/32x32/apps/pelorinpro.png"));
  for (const char* folder : {"SessionLogs", "Cfg", "ConnLogs"})
    EXPECT_TRUE(fs::is_directory(m_box.Work() + "/" + folder));

  // The registry locates the engine for the console and the engine's files in the working folder.
  Registry store(m_box.Registry());
  EXPECT_EQ(Text(store, kConsoleKey, "RamparoThreadAppLoc"), bin);
  EXPECT_EQ(Text(store, kEngineKey, "RamparoThreadAppLoc"), bin);
  EXPECT_EQ(Text(store, kEngineKey, "CfgFile"), m_box.Work() + "/Ramparo.cfg");
  EXPECT_EQ(Text(store, kEngineKey, "RampaMemFile"), m_box.Work() + "/RamparoInterfaceMem.mem");
  EXPECT_EQ(Text(store, kConsoleKey, "IpRamparoProcesses"), m_box.Work() + "/Cfg/RamparoProcesses.prc");

  // A re-install over it keeps the rule file the user chose since, and their settings.
  store.SetValue(kEngineKey, "CfgFile", RegistryValue::String("/srv/rules/mine.cfg"));
  store.SetValue(kApplicationKey, "Layout", RegistryValue::String("30"));
  const std::set<std::string> installedTree = TreeOf(m_box.Root());
  const CommandResult again = Install();
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(TreeOf(m_box.Root()), installedTree);
  EXPECT_EQ(Text(store, kEngineKey, "CfgFile"), "/srv/rules/mine.cfg");
  EXPECT_EQ(Shell("getcap " + bin + "/PelorinCaptureHelper").output, bin + "/PelorinCaptureHelper cap_net_raw=ep\n");

  // Parts gone by hand, and a log of the user's: uninstall removes the rest and keeps the log
  // and the settings.
  fs::remove(desktop);
  fs::remove(m_box.Prefix() + "/lib/libPelorinUi.so");
  ASSERT_TRUE(ReplaceFileContents(m_box.Work() + "/PelorinProLogPkt.rec", "log"));
  const CommandResult removed = Uninstall();
  ASSERT_EQ(removed.status, 0) << removed.output;
  EXPECT_EQ(Added(), (std::set<std::string>{"home/.local", "home/.local/share", "home/.local/share/PelorinPro",
                                            "home/.local/share/PelorinPro/PelorinProLogPkt.rec", "home/.config",
                                            "home/.config/PelorinPro", "home/.config/PelorinPro/registry.reg",
                                            "home/.config/PelorinPro/registry.reg.lock"}));
  EXPECT_EQ(Text(store, kEngineKey, "CfgFile"), "/srv/rules/mine.cfg");
  EXPECT_EQ(Text(store, kApplicationKey, "Layout"), "30");
  EXPECT_EQ(Text(store, kConsoleKey, "RamparoThreadAppLoc"), "<missing>");
  EXPECT_EQ(store.ValueNames(kEngineKey), std::vector<std::string>{"CfgFile"});
  const CommandResult twice = Uninstall();
  EXPECT_NE(twice.status, 0);  // no Setup left to run
}

TEST_F(SetupInstall, PurgeTakesTheLogsAndSettingsToo) {
  ASSERT_EQ(Install().status, 0);
  Registry store(m_box.Registry());
  store.SetValue(kApplicationKey, "Layout", RegistryValue::String("30"));
  ASSERT_TRUE(ReplaceFileContents(m_box.Work() + "/SessionLogs/PelorinProLogPkt.rec", "log"));
  const CommandResult purged = Uninstall("--purge");
  ASSERT_EQ(purged.status, 0) << purged.output;
  EXPECT_EQ(Added(), std::set<std::string>{});
}

TEST_F(SetupInstall, RefusalsAndFailuresLeaveNothingBehind) {
  // Without root.
  const CommandResult user = Shell("setpriv --reuid=nobody --regid=nogroup --clear-groups " + m_box.Stage() +
                                   "/bin/Setup install --prefix " + m_box.Prefix());
  EXPECT_EQ(user.status, 1);
  EXPECT_NE(user.output.find("installing needs root"), std::string::npos) << user.output;
  // Into a read-only file system.
  fs::create_directories(m_box.Prefix());
  const CommandResult readOnly = Shell("unshare --mount sh -c 'mount -t tmpfs -o ro tmpfs " + m_box.Prefix() +
                                       " && env -u SUDO_USER HOME=" + m_box.Home() + " " + m_box.Stage() +
                                       "/bin/Setup install --prefix " + m_box.Prefix() + "'");
  EXPECT_EQ(readOnly.status, 1);
  EXPECT_NE(readOnly.output.find("Read-only file system"), std::string::npos) << readOnly.output;
  fs::remove(m_box.Prefix());
  EXPECT_EQ(Added(), std::set<std::string>{});

  // A failure after every file was written, over a working installation: it stays as it was.
  ASSERT_EQ(Install().status, 0);
  const std::set<std::string> installed = TreeOf(m_box.Root());
  const std::string record = ReadFileContents(m_box.Prefix() + "/share/PelorinPro/setup-record.txt").value_or("");
  const std::string registry = ReadFileContents(m_box.Registry()).value_or("");
  // The registry cannot be written (its folder made immutable), and a PATH that names tools of
  // the caller's making, which Setup never runs.
  const std::string stubs = m_box.Root() + "/stubs";
  fs::create_directories(stubs);
  const std::string marker = stubs + "/ran";
  for (const char* tool : {"setcap", "patchelf", "groupadd", "usermod"}) {
    ASSERT_TRUE(ReplaceFileContents(stubs + "/" + tool, "#!/bin/sh\ntouch " + marker + "\nexit 0\n"));
    fs::permissions(stubs + "/" + tool, fs::perms::owner_all);
  }
  const std::string registryFolder = fs::path(m_box.Registry()).parent_path();
  ASSERT_EQ(Shell("chattr +i " + registryFolder).status, 0);
  const CommandResult refused = Install("PATH=" + stubs + ":/usr/bin:/bin");
  Shell("chattr -i " + registryFolder);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("cannot write the registry file"), std::string::npos) << refused.output;
  EXPECT_FALSE(fs::exists(marker));
  fs::remove_all(stubs);
  EXPECT_EQ(TreeOf(m_box.Root()), installed);
  EXPECT_EQ(ReadFileContents(m_box.Prefix() + "/share/PelorinPro/setup-record.txt").value_or(""), record);
  EXPECT_EQ(ReadFileContents(m_box.Registry()).value_or(""), registry);
  EXPECT_EQ(Shell("getcap " + m_box.Prefix() + "/bin/PelorinCaptureHelper").output,
            m_box.Prefix() + "/bin/PelorinCaptureHelper cap_net_raw=ep\n");
  ASSERT_EQ(Uninstall().status, 0);
  EXPECT_EQ(Added(), std::set<std::string>{});
}

}  // namespace

TEST(InstallRecordText, ACutLastLineIsDroppedSoNoShortenedPathIsRemoved) {
  InstallRecord record;
  record.files = {"/opt/p/bin/PelorinPro"};
  InstallRecord::UserPart user;
  user.uid = user.gid = 1000;
  user.registry = "/home/u/.pelorin.reg";
  user.workFolder = "/home/u/PelorinPro";
  record.User(user);
  const std::string text = record.Serialize();
  EXPECT_EQ(InstallRecord::Parse(text).Serialize(), text);
  const std::string cut = text.substr(0, text.find("/home/u/PelorinPro") + 7);  // ".../home/u"
  const InstallRecord read = InstallRecord::Parse(cut);
  EXPECT_EQ(read.files, record.files);
  EXPECT_TRUE(read.users.empty());
}

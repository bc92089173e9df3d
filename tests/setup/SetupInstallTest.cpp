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

  // The user's menu folder replaced by a link to a folder of root's holding a file of the entry's
  // name: uninstall, acting as the user, cannot remove root's file through it and keeps the
  // entry in the record for another try.
  const std::string menu = fs::path(desktop).parent_path();
  const std::string rootOnly = m_box.Root() + "/rootonly";
  fs::create_directories(rootOnly);
  ASSERT_TRUE(ReplaceFileContents(rootOnly + "/pelorinpro.desktop", "root's"));
  fs::remove_all(menu);
  fs::create_directory_symlink(rootOnly, menu);
  const CommandResult blocked = Uninstall();
  EXPECT_EQ(blocked.status, 1);
  EXPECT_NE(blocked.output.find("cannot remove " + desktop + ": Permission denied"), std::string::npos)
      << blocked.output;
  EXPECT_EQ(ReadFileContents(rootOnly + "/pelorinpro.desktop").value_or(""), "root's");
  fs::remove(menu);
  fs::remove_all(rootOnly);

  // Parts gone by hand, and a log of the user's: another try removes the rest and keeps the log
  // and the settings.
  fs::remove(m_box.Prefix() + "/lib/libPelorinUi.so");
  ASSERT_TRUE(ReplaceFileContents(m_box.Work() + "/PelorinProLogPkt.rec", "log"));
  const CommandResult removed = m_box.Setup("uninstall --prefix " + m_box.Prefix());
  ASSERT_EQ(removed.status, 0) << removed.output;
  EXPECT_EQ(Added(), (std::set<std::string>{"home/.local", "home/.local/share", "home/.local/share/PelorinPro",
                                            "home/.local/share/PelorinPro/PelorinProLogPkt.rec", "home/.config",
                                            "home/.config/PelorinPro", "home/.config/PelorinPro/registry.reg",
                                            "home/.config/PelorinPro/registry.reg.lock"}));
  EXPECT_EQ(Text(store, kEngineKey, "CfgFile"), "/srv/rules/mine.cfg");
  EXPECT_EQ(Text(store, kApplicationKey, "Layout"), "30");
  EXPECT_EQ(Text(store, kConsoleKey, "RamparoThreadAppLoc"), "<missing>");
  EXPECT_EQ(store.ValueNames(kEngineKey), std::vector<std::string>{"CfgFile"});
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
  const CommandResult readOnly =
      Shell("unshare --mount sh -c 'mount -t tmpfs -o ro,mode=0755 tmpfs " + m_box.Prefix() + " && " +
            m_box.SetupEnvironment() + " " + m_box.Stage() + "/bin/Setup install --prefix " + m_box.Prefix() + "'");
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

  // Records that uninstall must not act on: a part of root's, a file of root's outside the
  // prefix, "/", a path that climbs out, a working folder that is root's, a line cut short.
  // Each is refused with its reason and nothing is removed.
  const std::string outside = m_box.Root() + "/outside";
  ASSERT_TRUE(ReplaceFileContents(outside, "root's"));
  fs::create_directory(m_box.Root() + "/PelorinPro");
  const std::string recordPath = m_box.Prefix() + "/share/PelorinPro/setup-record.txt";
  // The record with the last "from" in it put as "to": the user line follows the folders.
  const auto swapped = [&](const std::string& from, const std::string& to) {
    std::string text = record;
    return text.replace(text.rfind(from), from.size(), to);
  };
  const std::set<std::string> before = TreeOf(m_box.Root());
  for (const auto& [crafted, reason] : std::vector<std::pair<std::string, std::string>>{
           {swapped("\nuser\t" + std::to_string(m_box.User().Uid()) + "\t", "\nuser\t0\t"), "is root's"},
           {record + "file\t" + outside + "\n", "the file " + outside + " lies outside " + m_box.Prefix()},
           {record + "folder\t/\n", "the folder \"/\" is not an absolute plain path"},
           {record + "file\t" + m_box.Prefix() + "/../outside\n", "is not an absolute plain path"},
           {swapped("\t" + m_box.Work() + "\n", "\t" + m_box.Root() + "/PelorinPro\n"),
            m_box.Root() + "/PelorinPro, which is owned by uid 0"},
           {record.substr(0, record.size() - 1), "is damaged at line"}}) {
    ASSERT_TRUE(ReplaceFileContents(recordPath, crafted));
    const CommandResult refused = Uninstall();
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find(reason), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("; nothing was removed"), std::string::npos) << refused.output;
    EXPECT_EQ(TreeOf(m_box.Root()), before);
  }
  ASSERT_TRUE(ReplaceFileContents(recordPath, record));
  EXPECT_EQ(ReadFileContents(m_box.Registry()).value_or(""), registry);

  // Prefixes that others could change under Setup: a folder of it that its group may write, a
  // symbolic link on the way to it. Neither install nor uninstall acts on them.
  fs::permissions(m_box.Root(), fs::perms::group_write, fs::perm_options::add);
  const CommandResult writable = Uninstall();
  fs::permissions(m_box.Root(), fs::perms::group_write, fs::perm_options::remove);
  EXPECT_EQ(writable.status, 2);
  EXPECT_NE(writable.output.find(m_box.Root() + " is writable by its group (mode 0775)"), std::string::npos)
      << writable.output;
  const std::string link = m_box.Root() + "/link";
  fs::create_directory_symlink(m_box.Prefix(), link);
  for (const std::string& command : {"uninstall --prefix " + link, "install --prefix " + link + "/sub"}) {
    const CommandResult linked = m_box.Setup(command);
    EXPECT_EQ(linked.status, 2);
    EXPECT_NE(linked.output.find(link + " is a symbolic link"), std::string::npos) << linked.output;
  }
  fs::remove(link);
  EXPECT_EQ(TreeOf(m_box.Root()), before);
  fs::remove(outside);
  fs::remove(m_box.Root() + "/PelorinPro");

  ASSERT_EQ(Uninstall().status, 0);
  EXPECT_EQ(Added(), std::set<std::string>{});
}

}  // namespace

TEST(InstallRecordText, ARecordWithALineThatCannotBeReadIsRefusedWhole) {
  InstallRecord record;
  record.files = {"/opt/p/bin/PelorinPro"};
  InstallRecord::UserPart user;
  user.uid = user.gid = 1000;
  user.registry = "/home/u/.pelorin.reg";
  user.workFolder = "/home/u/PelorinPro";
  record.User(user);
  const std::string text = record.Serialize();
  std::string error;
  const auto read = InstallRecord::Parse(text, error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->Serialize(), text);
  // Cut short in the working folder, which would then name the home; a user number out of range;
  // a field too many; no header.
  const std::string cut = text.substr(0, text.find("/home/u/PelorinPro") + 7);
  for (const std::string& damaged : {cut, text + "user\t4294967295\t0\t/r\t/w/PelorinPro\n",
                                     text + "file\t/opt/p/a\t/opt/p/b\n", text.substr(text.find('\n') + 1)}) {
    EXPECT_FALSE(InstallRecord::Parse(damaged, error)) << damaged;
    EXPECT_NE(error.find("is damaged at line"), std::string::npos) << error;
  }
}

// What a user gets from "sudo Setup install": a menu entry that starts the installed program as
// that user, which holds no capability and captures on lo through the capture helper, which only
// members of the group pelorinpro may run; a Qt plugin the user slips in runs without capability.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/AppProfile.h"
#include "tests/setup/SetupTestSupport.h"
#include "wincap/PelorinWinCapAdapters.h"

namespace {

using Clock = std::chrono::steady_clock;

// The rest of the line that begins with key: a menu entry's "Exec=", a process status "Uid:".
std::string LineAfter(const std::string& text, const std::string& key) {
  const std::size_t at = ("\n" + text).find("\n" + key);
  if (at == std::string::npos) return std::string();
  const std::size_t start = at + key.size();
  return text.substr(start, text.find('\n', start) - start);
}

int LoopbackIndex() {
  PelorinWinCapAdapters adapters;
  for (_PelorinWinCapAdapter* a = adapters.AdaptersGetFirst(0); a != nullptr; a = adapters.AdaptersGetNext(0))
    if (std::string(a->name, strnlen(a->name, sizeof(a->name))) == "lo") return static_cast<int>(a->index);
  return -1;
}

TEST(SetupProgram, TheMenuEntryStartsTheUnprivilegedProgramCapturingThroughTheHelperAsTheUserWhoRanSudo) {
  if (::geteuid() != 0) GTEST_SKIP() << "Setup installs as root";
  SetupSandbox box;
  ASSERT_EQ(box.Staged().status, 0) << box.Staged().output;
  if (!box.CapabilitiesWork()) GTEST_SKIP() << box.Root() << " is mounted nosuid: file capabilities cannot work there";
  const int loopback = LoopbackIndex();
  ASSERT_GE(loopback, 0);
  const std::string home = box.Home();
  const ThrowawayUser& user = box.User();

  const CommandResult installed = box.Setup("install --prefix " + box.Prefix());
  ASSERT_EQ(installed.status, 0) << installed.output;
  // Everything made in the user's home is theirs; nothing landed in the caller's.
  const std::string registry = home + "/.config/PelorinPro/registry.reg";
  const std::string desktop = home + "/.local/share/applications/pelorinpro.desktop";
  struct stat info {};
  ASSERT_EQ(::stat(registry.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, user.Uid());
  ASSERT_EQ(::stat(desktop.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, user.Uid());
  EXPECT_EQ(TreeOf(box.CallerHome()), std::set<std::string>{""});
  // The user is in the group now; anyone else cannot even start the privileged programs (the
  // shell runs them: setpriv itself still holds root's capabilities when it starts its command).
  EXPECT_NE(Shell("id -nG " + user.Name()).output.find("pelorinpro"), std::string::npos);
  for (const char* program : {"PelorinCaptureHelper", "RamparoThreadApp"}) {
    const CommandResult outsider = Shell("setpriv --reuid=nobody --regid=nogroup --clear-groups /bin/sh -c 'exec " +
                                         box.Prefix() + "/bin/" + program + " --help'");
    EXPECT_NE(outsider.status, 0) << program;
    EXPECT_NE(outsider.output.find("Permission denied"), std::string::npos) << outsider.output;
  }

  // The packet pane on lo, scanning from the start.
  setenv("PELORIN_REGISTRY", registry.c_str(), 1);
  AppProfile profile("DunmereIncProducts\\Setup", "PelorinPro");
  profile.WriteProfileString("", "Layout", "16");
  profile.WriteProfileInt("", "AdapterCurr", loopback);
  profile.WriteProfileString("", "AdapterCurrName", "lo");
  unsetenv("PELORIN_REGISTRY");
  Shell("chown " + user.Name() + ": " + registry + " " + registry + ".lock");

  // Started as the menu starts it: the entry's command in the entry's folder.
  const std::string entry = ReadFileContents(desktop).value_or("");
  const std::string command = LineAfter(entry, "Exec=");
  const std::string folder = LineAfter(entry, "Path=");
  ASSERT_EQ(command, box.Prefix() + "/bin/PelorinPro");
  // With a plugin folder of the user's own in QT_PLUGIN_PATH.
  const std::string marker = home + "/plugin-ran";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) std::_Exit(126);
    const std::string setHome = "HOME=" + home;
    const std::string plugins = "QT_PLUGIN_PATH=" + box.Plugins();
    const std::string setMarker = "PELORIN_TEST_MARKER=" + marker;
    ::execlp("setpriv", "setpriv", "--reuid", user.Name().c_str(), "--regid", user.Name().c_str(), "--init-groups",
             "env", setHome.c_str(), "QT_QPA_PLATFORM=offscreen", plugins.c_str(), "QT_QPA_GENERIC_PLUGINS=pelorinmarker",
             setMarker.c_str(), command.c_str(), "--start-scanning", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(40000 + ::getpid() % 20000));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string log = folder + "/PelorinProLogPkt.rec";
  bool captured = false;
  for (const auto start = Clock::now(); !captured && Clock::now() - start < std::chrono::seconds(30);) {
    ::sendto(sender, "pelorin", 7, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    captured = ::stat(log.c_str(), &info) == 0 && info.st_size > 0;
  }
  ::close(sender);
  // The program runs as the user, without any capability.
  const std::string status = ReadFileContents("/proc/" + std::to_string(child) + "/status").value_or("");
  const std::string uids = LineAfter(status, "Uid:");
  const unsigned long long effective = std::strtoull(LineAfter(status, "CapEff:").c_str(), nullptr, 16);
  ::kill(child, SIGTERM);
  int exitStatus = -1;
  for (const auto close = Clock::now(); ::waitpid(child, &exitStatus, WNOHANG) == 0;) {
    if (Clock::now() - close > std::chrono::seconds(20)) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &exitStatus, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(captured) << "no packet reached " << log;
  const std::string uid = std::to_string(user.Uid());
  EXPECT_EQ(uids, "\t" + uid + "\t" + uid + "\t" + uid + "\t" + uid);  // real, effective, saved, file system
  EXPECT_EQ(effective, 0u);
  const std::string planted = ReadFileContents(marker).value_or("");
  EXPECT_NE(planted.find("CapEff:\t0000000000000000\n"), std::string::npos) << planted;
  EXPECT_NE(planted.find("CapPrm:\t0000000000000000\n"), std::string::npos) << planted;
  EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << exitStatus;

  // The engine, started by the user in a network namespace of the test's own, holds
  // CAP_NET_ADMIN alone.
  const std::string netns = "pelsetup" + std::to_string(::getpid());
  ASSERT_EQ(Shell("ip netns add " + netns).status, 0);
  const std::string engine = box.Prefix() + "/bin/RamparoThreadApp";
  const pid_t engineChild = ::fork();
  if (engineChild == 0) {
    if (::chdir(folder.c_str()) != 0) std::_Exit(126);
    const std::string setRegistry = "PELORIN_REGISTRY=" + registry;
    ::execlp("ip", "ip", "netns", "exec", netns.c_str(), "setpriv", "--reuid", user.Name().c_str(), "--regid",
             user.Name().c_str(), "--init-groups", "env", setRegistry.c_str(), engine.c_str(),
             static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  const std::string proc = "/proc/" + std::to_string(engineChild);
  for (const auto start = Clock::now(); Clock::now() - start < std::chrono::seconds(10);) {
    std::error_code failed;
    if (fs::read_symlink(proc + "/exe", failed) == engine) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const unsigned long long engineCaps =
      std::strtoull(LineAfter(ReadFileContents(proc + "/status").value_or(""), "CapEff:").c_str(), nullptr, 16);
  ::kill(engineChild, SIGTERM);
  ::waitpid(engineChild, &exitStatus, 0);
  Shell("ip netns del " + netns);
  EXPECT_EQ(engineCaps, 1ULL << 12);  // cap_net_admin

  const CommandResult removed = box.Setup("uninstall", "", box.Prefix() + "/bin/Setup");
  ASSERT_EQ(removed.status, 0) << removed.output;
  EXPECT_FALSE(fs::exists(desktop));
  EXPECT_FALSE(fs::exists(box.Prefix()));
}

}  // namespace

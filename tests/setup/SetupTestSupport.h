#pragma once
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "platform/FileContents.h"

namespace fs = std::filesystem;

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and standard error
};

// Runs a shell command line to its end.
inline CommandResult Shell(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// "OWNER:GROUP MODE" of a file, as "root:pelorinpro 750".
inline std::string OwnerAndMode(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return "<missing>";
  const passwd* owner = ::getpwuid(info.st_uid);
  const group* members = ::getgrgid(info.st_gid);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(info.st_mode & 07777));
  return std::string(owner ? owner->pw_name : "?") + ":" + (members ? members->gr_name : "?") + " " + mode;
}

// Every path below root, relative to it; "" when root itself exists.
inline std::set<std::string> TreeOf(const std::string& root) {
  std::set<std::string> paths;
  std::error_code error;
  if (!fs::exists(root, error)) return paths;
  paths.insert("");
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
    paths.insert(it->path().lexically_relative(root));
  return paths;
}

// A user made for the test, with its home; deleted at the end.
class ThrowawayUser {
 public:
  explicit ThrowawayUser(const std::string& home) : m_name("pelsetup" + std::to_string(::getpid())) {
    fs::create_directories(home);
    m_made = Shell("useradd --no-create-home --user-group --shell /usr/sbin/nologin --home-dir " + home + " " + m_name)
                 .status == 0;
    Shell("chown " + m_name + ": " + home);
  }
  ~ThrowawayUser() {
    if (m_made) Shell("userdel " + m_name);
  }
  ThrowawayUser(const ThrowawayUser&) = delete;
  ThrowawayUser& operator=(const ThrowawayUser&) = delete;
  bool Made() const { return m_made; }
  const std::string& Name() const { return m_name; }
  uid_t Uid() const {
    const passwd* entry = ::getpwnam(m_name.c_str());
    return entry ? entry->pw_uid : 0;
  }

 private:
  std::string m_name;
  bool m_made = false;
};

// A private folder below /var/lib, which (unlike a /tmp mounted nosuid) lets file capabilities
// work, with every level root's alone as Setup wants a prefix's wherever the build tree lies (a
// clone in /tmp sits below a folder every user may write): the stage (the tree "cmake --install"
// makes, which Setup installs from), a prefix, a copy of the test plugins, and a user of the
// test's own whose home it holds, for whom Setup installs as through sudo. Everything in it goes
// at the end, whatever the test left, and so do the user and the group pelorinpro when Setup
// made it.
class SetupSandbox {
 public:
  SetupSandbox() : m_groupExisted(::getgrnam("pelorinpro") != nullptr) {
    m_root = std::string(PELORIN_SETUP_SCRATCH) + "/sandbox-" + std::to_string(::getpid());
    fs::remove_all(m_root);
    fs::create_directories(CallerHome());
    // Users other than root run the installed program: every level of the sandbox must be open
    // to them, and writable by root alone.
    for (fs::path p = m_root; p.has_relative_path(); p = p.parent_path()) {
      ::chmod(p.c_str(), 0755);
      if (p == PELORIN_SETUP_SCRATCH) break;
    }
    m_user.emplace(Home());
    std::error_code copied;
    fs::copy(PELORIN_TEST_PLUGINS, Plugins(), fs::copy_options::recursive, copied);
    m_staged = Shell(std::string(PELORIN_CMAKE) + " --install " + PELORIN_BUILD_DIR + " --prefix " + Stage());
    if (!m_user->Made()) m_staged = {1, "cannot make a user for the test"};
  }
  ~SetupSandbox() {
    fs::remove_all(m_root);
    std::error_code kept;  // another sandbox may still be in it
    fs::remove(PELORIN_SETUP_SCRATCH, kept);
    m_user.reset();
    if (!m_groupExisted) Shell("groupdel pelorinpro");
  }

  const std::string& Root() const { return m_root; }
  std::string Stage() const { return m_root + "/stage"; }
  std::string Prefix() const { return m_root + "/prefix"; }
  std::string Plugins() const { return m_root + "/plugins"; }  // the test plugins, open to the user
  const ThrowawayUser& User() const { return *m_user; }
  std::string Home() const { return m_root + "/home"; }          // the user's
  std::string CallerHome() const { return m_root + "/caller"; }  // the HOME Setup is started with
  std::string Work() const { return Home() + "/.local/share/PelorinPro"; }
  std::string Registry() const { return Home() + "/.config/PelorinPro/registry.reg"; }
  const CommandResult& Staged() const { return m_staged; }

  bool CapabilitiesWork() const {
    struct statvfs info {};
    return ::statvfs(m_root.c_str(), &info) == 0 && (info.f_flag & ST_NOSUID) == 0;
  }
  // Setup as root for the user, as sudo starts it; extra goes before it (environment settings)
  // and arguments after.
  CommandResult Setup(const std::string& arguments, const std::string& extra = "",
                      const std::string& setup = "") const {
    return Shell(SetupEnvironment() + " " + extra + " " + (setup.empty() ? Stage() + "/bin/Setup" : setup) + " " +
                 arguments);
  }
  std::string SetupEnvironment() const {
    return "env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u PELORIN_REGISTRY SUDO_USER=" + m_user->Name() +
           " HOME=" + CallerHome();
  }

 private:
  bool m_groupExisted;
  std::string m_root;
  std::optional<ThrowawayUser> m_user;
  CommandResult m_staged;
};

#include "setup/InstallUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Registry.h"

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Paths go into the installation record, one tab-separated line per entry.
bool UsablePath(const std::string& path) {
  return !path.empty() && path.front() == '/' && path.find_first_of("\t\n") == std::string::npos;
}

}  // namespace

std::optional<InstallUser> InstallUser::Resolve(std::string& error) {
  InstallUser user;
  const std::string sudoUser = Environment("SUDO_USER");
  if (::geteuid() == 0 && !sudoUser.empty() && sudoUser != "root") {
    const passwd* entry = ::getpwnam(sudoUser.c_str());
    if (entry == nullptr) {
      error = "the user \"" + sudoUser + "\" who ran sudo is not known to this machine";
      return std::nullopt;
    }
    user.uid = entry->pw_uid;
    user.gid = entry->pw_gid;
    user.name = entry->pw_name;
    user.home = entry->pw_dir;
    // sudo hands over none of the user's own settings; a registry named on purpose still counts.
    const std::string named = Environment("PELORIN_REGISTRY");
    user.registry = named.empty() ? user.home + "/.config/PelorinPro/registry.reg" : named;
    user.dataHome = user.home + "/.local/share";
  } else {
    user.uid = ::getuid();
    user.gid = ::getgid();
    const passwd* entry = ::getpwuid(user.uid);
    user.name = entry ? entry->pw_name : std::to_string(user.uid);
    user.home = Environment("HOME");
    if (user.home.empty() && entry) user.home = entry->pw_dir;
    user.registry = Registry::DefaultPath();
    user.dataHome = Environment("XDG_DATA_HOME");
    if (user.dataHome.empty()) user.dataHome = user.home + "/.local/share";
  }
  for (const std::string* path : {&user.home, &user.registry, &user.dataHome}) {
    if (!UsablePath(*path)) {
      error = "the folders of user \"" + user.name + "\" are not usable (\"" + *path + "\"); set HOME";
      return std::nullopt;
    }
  }
  return user;
}

UserIdentity::UserIdentity(uid_t uid, gid_t gid) {
  if (::geteuid() != 0 || uid == 0) return;
  m_switched = true;
  m_group = ::getegid();
  m_groups.resize(static_cast<std::size_t>(std::max(0, ::getgroups(0, nullptr))));
  if (::getgroups(static_cast<int>(m_groups.size()), m_groups.data()) < 0) m_groups.clear();
  m_taken = ::setgroups(1, &gid) == 0 && ::setegid(gid) == 0 && ::seteuid(uid) == 0;
}

UserIdentity::~UserIdentity() {
  if (!m_switched) return;
  // Root's identity comes back in the order that allows it: the user first, then the groups.
  if (::seteuid(0) != 0 || ::setegid(m_group) != 0 || ::setgroups(m_groups.size(), m_groups.data()) != 0) std::abort();
}

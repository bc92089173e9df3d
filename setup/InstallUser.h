#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// The user an installation is for: the one who ran "sudo Setup" (SUDO_USER), else the caller.
// Their registry, menu entry, icons and working folder are theirs to own.
struct InstallUser {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
  std::string registry;  // the user's registry file
  std::string dataHome;  // $XDG_DATA_HOME, default ~/.local/share

  // The folder the program is started in from the menu: its logs and rule files live there.
  std::string WorkFolder() const { return dataHome + "/PelorinPro"; }

  // Nothing, with the reason, when the user or their folders cannot be told.
  static std::optional<InstallUser> Resolve(std::string& error);
};

// Files created while this lives belong to the user: the effective user and group are theirs,
// and root's come back at the end. Does nothing when the user is the caller.
class UserIdentity {
 public:
  UserIdentity(uid_t uid, gid_t gid);
  ~UserIdentity();
  UserIdentity(const UserIdentity&) = delete;
  UserIdentity& operator=(const UserIdentity&) = delete;

  bool IsTaken() const { return m_taken; }

 private:
  bool m_switched = false;
  bool m_taken = true;
  gid_t m_group = 0;
  std::vector<gid_t> m_groups;  // root's supplementary groups
};

#pragma once
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

// Work on a user's own files, done by a child process that holds that user's identity alone: no
// root, no capability, no other group, and no way back. A symbolic link or folder the user put
// in the way then reaches nothing the user could not reach anyway.
class UserProcess {
 public:
  // What the work returned, or nothing when the child could not become the user (uid 0 is never
  // taken) or did not end normally: what it did is then unknown.
  static std::optional<std::string> Run(uid_t uid, gid_t gid, const std::function<std::string()>& work);
};

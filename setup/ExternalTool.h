#pragma once
#include <optional>
#include <string>
#include <vector>

// A system program Setup runs (setcap, patchelf, groupadd, usermod): found in the system's own
// folders, never through PATH, which the caller of sudo may have chosen; run to its end, its
// output kept for the message when it fails.
class ExternalTool {
 public:
  struct Result {
    int status = -1;     // exit status; -1 when it could not be started or was killed
    std::string output;  // standard output and standard error together
  };

  // The full path of the program in /usr/sbin, /sbin, /usr/bin or /bin, or nothing.
  static std::optional<std::string> Find(const std::string& name);
  static Result Run(const std::string& program, const std::vector<std::string>& arguments);
};

#pragma once
#include <optional>
#include <string>
#include <vector>

// A helper program Setup runs (setcap, patchelf): found on PATH, run to its end, its output kept
// for the message when it fails.
class ExternalTool {
 public:
  struct Result {
    int status = -1;     // exit status; -1 when it could not be started or was killed
    std::string output;  // standard output and standard error together
  };

  // The full path of the program on PATH, or nothing.
  static std::optional<std::string> Find(const std::string& name);
  static Result Run(const std::string& program, const std::vector<std::string>& arguments);
};

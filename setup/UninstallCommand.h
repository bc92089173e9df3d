#pragma once
#include <string>

#include "setup/InstallRecord.h"

// "Setup uninstall": removes what the installation record of the prefix lists: the files, the
// folders install made (where they are empty: the logs in the working folder stay), the
// registry values that still hold what install wrote. With purge, the user's settings and
// working folder go too. Whatever cannot be removed stays in the record for another try.
class UninstallCommand {
 public:
  UninstallCommand(std::string prefix, bool purge);
  int Run();

 private:
  bool Fail(const std::string& message);

  std::string m_prefix;
  bool m_purge = false;
};

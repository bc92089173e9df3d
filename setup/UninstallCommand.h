#pragma once
#include <string>

#include "setup/InstallRecord.h"

// "Setup uninstall": removes what the installation record of the prefix lists: the files, the
// folders install made (where they are empty: the logs in the working folder stay), the
// registry values that still hold what install wrote. With purge, the user's settings and
// working folder go too. Whatever cannot be removed stays in the record for another try. A
// prefix or a record it cannot trust (InstallRecord::Check) is refused before anything goes;
// each user's files are removed by a process of that user, root removes only the prefix's.
class UninstallCommand {
 public:
  UninstallCommand(std::string prefix, bool purge);
  int Run();

 private:
  bool Fail(const std::string& message);

  std::string m_prefix;
  bool m_purge = false;
};

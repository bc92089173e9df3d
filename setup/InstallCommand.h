#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "setup/FileTransaction.h"
#include "setup/InstallRecord.h"
#include "setup/InstallUser.h"

// "Setup install": copies the tree Setup comes from into the prefix, gives the capture helper and
// the engine their capabilities (root:pelorinpro, mode 0750; the engine pointed at the prefix's
// libraries), makes the system group pelorinpro and puts the user in it, adds the user's menu
// entry, icons and working folder, writes the user's registry values and records all of it. For
// root itself only the prefix's part is done: uninstall removes a user's files as that user.
// Either every file is in place afterwards or none is; the group and the membership stay.
class InstallCommand {
 public:
  InstallCommand(std::string payloadRoot, std::string prefix);
  int Run();  // the exit status; what was done goes to standard output, a failure to standard error

 private:
  bool Check();
  bool StagePrefixFiles();
  bool PrepareGroup();
  bool PreparePrivilegedPrograms();
  bool StageUserFiles();
  bool Fail(const std::string& message);

  std::string m_root;
  std::string m_prefix;
  std::string m_setcap;
  std::string m_patchelf;  // empty when the engine already names this prefix's libraries
  gid_t m_gid = 0;          // of the group that may run the privileged programs
  std::string m_desktopTemplate;
  InstallUser m_user;
  FileTransaction m_files;
  InstallRecord m_record;
  InstallRecord::UserPart m_userPart;
  std::vector<std::string> m_report;
};

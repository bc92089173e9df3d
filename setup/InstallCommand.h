#pragma once
#include <string>
#include <vector>

#include "setup/FileTransaction.h"
#include "setup/InstallRecord.h"
#include "setup/InstallUser.h"

// "Setup install": copies the tree Setup comes from into the prefix, points the capture programs
// at the prefix's libraries and grants them their capabilities, adds the user's menu entry,
// icons and working folder, writes the user's registry values and records all of it. Either
// everything is in place afterwards or nothing is.
class InstallCommand {
 public:
  InstallCommand(std::string payloadRoot, std::string prefix);
  int Run();  // the exit status; what was done goes to standard output, a failure to standard error

 private:
  bool Check();
  bool StagePrefixFiles();
  bool PrepareCapturePrograms();
  bool StageUserFiles();
  bool Fail(const std::string& message);

  std::string m_root;
  std::string m_prefix;
  std::string m_setcap;
  std::string m_patchelf;  // empty when the programs already name this prefix's libraries
  std::string m_desktopTemplate;
  InstallUser m_user;
  FileTransaction m_files;
  InstallRecord m_record;
  InstallRecord::UserPart m_userPart;
  std::vector<std::string> m_report;
};

#pragma once
#include <string>

#include "setup/InstallRecord.h"

// The registry values an installation writes for its user: the engine program's folder, whose
// presence in the console key marks the engine as installed, and the engine's files in the
// user's working folder. Both directions act as the user, so the registry file stays theirs:
// Write takes the user's identity itself, Remove runs in a process of the user (UserProcess).
class RegistryEntries {
 public:
  static constexpr char kApplicationKey[] = "Software\\DunmereIncProducts\\Setup\\PelorinPro";
  static constexpr char kEngineKey[] = "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp";
  static constexpr char kConsoleKey[] = "Software\\DunmereIncProducts\\Setup\\IpRamparo";

  // One change of the user's registry file (part.registry). The folder is written always; a
  // file value only where none is set, so a rule file the user chose survives a re-install.
  // What was written, the keys that had to be made and whether the file is new go into part.
  static bool Write(const std::string& programFolder, InstallRecord::UserPart& part);
  // Takes away the recorded values that still hold what was written and the recorded keys left
  // empty; with purge, everything of the program, the engine and the console, settings too.
  // The file goes as well when install made it and nothing is left in it.
  static bool Remove(const InstallRecord::UserPart& part, bool purge);
};

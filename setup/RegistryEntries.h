#pragma once
#include <string>

#include "platform/Registry.h"
#include "setup/InstallRecord.h"

// The registry values an installation writes for its user: the engine program's folder, whose
// presence in the console key marks the engine as installed, and the engine's files in the
// user's working folder. Removing them takes away only what still holds what was written.
class RegistryEntries {
 public:
  static constexpr char kApplicationKey[] = "Software\\DunmereIncProducts\\Setup\\PelorinPro";
  static constexpr char kEngineKey[] = "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp";
  static constexpr char kConsoleKey[] = "Software\\DunmereIncProducts\\Setup\\IpRamparo";

  // One change of the store. The folder is written always; a file value only where none is set,
  // so a rule file the user chose survives a re-install. What was written, and the keys that had
  // to be made, go into the user's part of the record.
  static bool Write(Registry& store, const std::string& programFolder, const std::string& workFolder,
                    InstallRecord::UserPart& part);
  // The recorded values that still hold what was written, then the recorded keys left empty.
  static bool Remove(Registry& store, const InstallRecord::UserPart& part);
  // Everything of the program, the engine and the console: the user's settings too.
  static bool Purge(Registry& store, const InstallRecord::UserPart& part);
  static bool IsEmpty(Registry& store);
};

#include "setup/RegistryEntries.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "controls/firewall/RamparoFileNames.h"
#include "platform/Registry.h"
#include "setup/InstallUser.h"

namespace {

struct Entry {
  const char* key;
  const char* name;
  std::string text;
  bool always;
};

void RemoveEmptyKeys(RegistryTree& tree, std::vector<std::string> keys) {
  // Deepest first, so a parent is empty once its recorded children are gone.
  std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& key : keys)
    if (tree.HasKey(key) && tree.ValueNames(key).empty() && tree.SubKeyNames(key).empty()) tree.DeleteKey(key);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

bool RegistryEntries::Write(const std::string& programFolder, InstallRecord::UserPart& part) {
  const std::string& work = part.workFolder;
  const std::vector<Entry> entries = {
      {kEngineKey, "RamparoThreadAppLoc", programFolder, true},
      {kEngineKey, "CfgFile", work + "/Ramparo.cfg", false},
      {kEngineKey, "RampaMemFile", work + "/RamparoInterfaceMem.mem", false},
      {kEngineKey, "IpRamparoBlockLogFile", work + "/" + RamparoFileNames::kBlockLog, false},
      {kConsoleKey, "RamparoThreadAppLoc", programFolder, true},
      {kConsoleKey, "IpRamparoProcesses", work + "/Cfg/RamparoProcesses.prc", false},
  };
  InstallRecord::UserPart written = part;
  written.storeCreated = !Exists(part.registry);
  Registry store(part.registry);
  UserIdentity identity(part.uid, part.gid);
  const bool stored = identity.IsTaken() && store.Update([&](RegistryTree& tree) {
    for (const char* key : {kEngineKey, kConsoleKey}) {
      // Each missing level of the path is the installation's, to be removed with it.
      const std::string path = key;
      for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
        const std::string level = path.substr(0, end);
        if (!tree.HasKey(level)) written.keys.push_back(level);
        if (end == std::string::npos) break;
      }
      tree.CreateKey(key);
    }
    for (const Entry& entry : entries) {
      const RegistryValue* old = tree.GetValue(entry.key, entry.name);
      const bool unset = old == nullptr || (old->type == RegistryValue::Type::String && old->text.empty());
      if (!entry.always && !unset) continue;
      tree.SetValue(entry.key, entry.name, RegistryValue::String(entry.text));
      written.values.push_back({entry.key, entry.name, entry.text});
    }
    return true;
  });
  if (stored) part = std::move(written);
  return stored;
}

bool RegistryEntries::Remove(const InstallRecord::UserPart& part, bool purge) {
  if (!Exists(part.registry)) return true;  // nothing left to take from
  Registry store(part.registry);
  const bool removed = store.Update([&](RegistryTree& tree) {
    for (const InstallRecord::RegistryValueEntry& v : part.values) {
      const RegistryValue* now = tree.GetValue(v.key, v.name);
      if (now && now->type == RegistryValue::Type::String && now->text == v.text) tree.DeleteValue(v.key, v.name);
    }
    if (purge)
      for (const char* key : {kApplicationKey, kEngineKey, kConsoleKey}) tree.DeleteKey(key);
    RemoveEmptyKeys(tree, part.keys);
    return true;
  });
  if (removed && part.storeCreated && store.SubKeyNames("").empty()) {
    ::unlink(part.registry.c_str());
    ::unlink((part.registry + ".lock").c_str());
  }
  return removed;
}

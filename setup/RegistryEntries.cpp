#include "setup/RegistryEntries.h"

#include <algorithm>

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

}  // namespace

bool RegistryEntries::Write(Registry& store, const std::string& programFolder, const std::string& workFolder,
                            InstallRecord::UserPart& part) {
  const std::vector<Entry> entries = {
      {kEngineKey, "RamparoThreadAppLoc", programFolder, true},
      {kEngineKey, "CfgFile", workFolder + "/Ramparo.cfg", false},
      {kEngineKey, "RampaMemFile", workFolder + "/RamparoInterfaceMem.mem", false},
      {kEngineKey, "IpRamparoBlockLogFile", workFolder + "/RamparoBlocks.log", false},
      {kConsoleKey, "RamparoThreadAppLoc", programFolder, true},
      {kConsoleKey, "IpRamparoProcesses", workFolder + "/Cfg/RamparoProcesses.prc", false},
  };
  InstallRecord::UserPart written = part;
  const bool stored = store.Update([&](RegistryTree& tree) {
    for (const char* key : {kEngineKey, kConsoleKey}) {
      // Each missing level of the path is the installation's, to be removed with it.
      const std::string path = key;
      for (std::size_t end = path.find('\\'); ; end = path.find('\\', end + 1)) {
        const std::string level = path.substr(0, end);
        if (!tree.HasKey(level) &&
            std::find(written.keys.begin(), written.keys.end(), level) == written.keys.end())
          written.keys.push_back(level);
        if (end == std::string::npos) break;
      }
      tree.CreateKey(key);
    }
    for (const Entry& entry : entries) {
      const RegistryValue* old = tree.GetValue(entry.key, entry.name);
      const bool unset = old == nullptr || (old->type == RegistryValue::Type::String && old->text.empty());
      if (!entry.always && !unset) continue;
      tree.SetValue(entry.key, entry.name, RegistryValue::String(entry.text));
      std::erase_if(written.values, [&](const InstallRecord::RegistryValueEntry& v) {
        return v.key == entry.key && v.name == entry.name;
      });
      written.values.push_back({entry.key, entry.name, entry.text});
    }
    return true;
  });
  if (stored) part = std::move(written);
  return stored;
}

bool RegistryEntries::Remove(Registry& store, const InstallRecord::UserPart& part) {
  return store.Update([&](RegistryTree& tree) {
    for (const InstallRecord::RegistryValueEntry& v : part.values) {
      const RegistryValue* now = tree.GetValue(v.key, v.name);
      if (now && now->type == RegistryValue::Type::String && now->text == v.text) tree.DeleteValue(v.key, v.name);
    }
    RemoveEmptyKeys(tree, part.keys);
    return true;
  });
}

bool RegistryEntries::Purge(Registry& store, const InstallRecord::UserPart& part) {
  return store.Update([&](RegistryTree& tree) {
    for (const char* key : {kApplicationKey, kEngineKey, kConsoleKey}) tree.DeleteKey(key);
    RemoveEmptyKeys(tree, part.keys);
    return true;
  });
}

bool RegistryEntries::IsEmpty(Registry& store) { return store.SubKeyNames("").empty(); }

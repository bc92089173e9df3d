#include "RamparoEngineConfig.h"

#include "controls/firewall/RamparoFileNames.h"
#include "platform/Registry.h"

namespace {

std::string Text(const char* key, const char* name) {
  const auto value = Registry::Current().GetValue(key, name);
  if (!value || value->type != RegistryValue::Type::String) return std::string();
  return value->text;
}

std::int32_t Number(const char* key, const char* name, std::int32_t defaultValue) {
  const auto value = Registry::Current().GetValue(key, name);
  if (!value || value->type != RegistryValue::Type::Dword) return defaultValue;
  return static_cast<std::int32_t>(value->number);
}

}  // namespace

std::string RamparoEngineConfig::PathValue(const char* name, const char* fileName) const {
  std::string path = Text(kEngineKey, name);
  if (path.empty()) {
    path = m_workingDir;
    if (path.empty() || path.back() != '/') path += '/';
    path += fileName;
    Registry::Current().SetValue(kEngineKey, name, RegistryValue::String(path));
  }
  return path;
}

std::string RamparoEngineConfig::InterfaceFile() const {
  return PathValue("RampaMemFile", "RamparoInterfaceMem.mem");
}

std::string RamparoEngineConfig::RuleFile() const { return PathValue("CfgFile", "Ramparo.cfg"); }

RamparoEngineSettings RamparoEngineConfig::LoadSettings() const {
  RamparoEngineSettings settings;
  settings.refreshInterval = Number(kConsoleKey, "IpRamparoRefreshInterval", 0);
  settings.logBlocks = Number(kConsoleKey, "IpRamparoLog", 1);
  // The console copies "Log Blocks" into our key after its properties dialog; that copy wins.
  settings.logBlocks = Number(kEngineKey, "IpRamparoLog", settings.logBlocks);
  settings.blockTcp = Number(kConsoleKey, "IpRamparoBlockTcp", 0);
  settings.blockUdp = Number(kConsoleKey, "IpRamparoBlockUdp", 0);
  settings.blockIcmp = Number(kConsoleKey, "IpRamparoBlockIcmp", 1);
  settings.blockAll = Number(kConsoleKey, "IpRamparoBlockAll", 0);
  settings.blockDirections = Number(kConsoleKey, "IpRamparoBlockDirections", 0);
  settings.usePelorinProInterface = Number(kConsoleKey, "UsePelorinProInterface", 0);
  settings.noPortMonitor = Number(kConsoleKey, "NoPortMonitor", 0);
  // The rule log has to be somewhere for the console's View Log to find it.
  settings.blockLogFile = PathValue("IpRamparoBlockLogFile", RamparoFileNames::kBlockLog);
  settings.processFile = Text(kConsoleKey, "IpRamparoProcesses");
  if (settings.processFile.empty()) {
    // The console stores this default; the engine only follows it.
    settings.processFile = m_workingDir;
    if (settings.processFile.empty() || settings.processFile.back() != '/') settings.processFile += '/';
    settings.processFile += "Cfg/RamparoProcesses.prc";
  }
  return settings;
}

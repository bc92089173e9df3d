#pragma once
#include <cstdint>
#include <string>

// What the engine reads from the registry: its own key for its files, the console's key for
// the firewall settings and the process file.
struct RamparoEngineSettings {
  std::int32_t refreshInterval = 0;  // minutes
  std::int32_t logBlocks = 1;
  std::int32_t blockTcp = 0;
  std::int32_t blockUdp = 0;
  std::int32_t blockIcmp = 1;
  std::int32_t blockAll = 0;
  std::int32_t blockDirections = 0;  // 1 incoming, 2 outgoing, 3 both, 0 none chosen
  std::int32_t usePelorinProInterface = 0;
  std::int32_t noPortMonitor = 0;
  std::string blockLogFile;
  std::string processFile;
};

class RamparoEngineConfig {
 public:
  static constexpr const char* kEngineKey = "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp";
  static constexpr const char* kConsoleKey = "Software\\DunmereIncProducts\\Setup\\IpRamparo";

  explicit RamparoEngineConfig(std::string workingDir) : m_workingDir(std::move(workingDir)) {}

  // "RampaMemFile" and "CfgFile" of the engine key; when missing or empty the default in the
  // working directory is used and stored.
  std::string InterfaceFile() const;
  std::string RuleFile() const;
  RamparoEngineSettings LoadSettings() const;

 private:
  std::string PathValue(const char* name, const char* fileName) const;

  std::string m_workingDir;
};

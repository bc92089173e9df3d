#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "RamparoEngineConfig.h"
#include "common/FirewallProcessRecord.h"
#include "common/FirewallRule.h"
#include "controls/firewall/CRamparointerfaceMem.h"

// The engine side of the shared block: it keeps "engine present" raised while attached, serves
// one request at a time from the slot and answers with the reply flag. It loads the rule file,
// the settings and the process list the console points it at, but it enforces no blocking:
// it makes no blocks and therefore reports none.
class RamparoEngine {
 public:
  static constexpr std::size_t kMaxRules = 65536;  // a bound on memory, far above any real rule set

  explicit RamparoEngine(std::string workingDir);
  ~RamparoEngine();
  RamparoEngine(const RamparoEngine&) = delete;
  RamparoEngine& operator=(const RamparoEngine&) = delete;

  // Resolves the files, attaches to the block and announces the engine. False with a reason
  // when the block cannot be attached or another engine already serves it.
  bool Start(std::string& error);
  // Lowers "engine present" and "filtering" and lets go of the block.
  void Stop();

  // Serves the pending request, if any. Returns false once a shutdown request was answered or
  // the interface file was cut short under the block (IsLost).
  bool Poll();
  bool IsLost() const { return m_mem.MemIsLost(); }

  const std::string& InterfaceFile() const { return m_interfaceFile; }
  const std::string& RuleFile() const { return m_ruleFile; }

 private:
  void Serve(std::uint32_t code);
  std::uint32_t LoadRules();     // the reply's result
  std::uint32_t LoadSettings();  // the reply's result
  void WriteReply(std::uint32_t code, std::uint32_t result, std::uint32_t count);
  void Publish();  // the engine's own fields of the block
  bool TakeEngineLock();

  RamparoEngineConfig m_config;
  std::string m_interfaceFile;
  std::string m_ruleFile;
  CRamparointerfaceMem m_mem;
  void* m_view = nullptr;
  int m_engineLock = -1;  // descriptor holding the one-engine-per-block lock
  int m_created = 0;
  bool m_filtering = false;
  bool m_shutdown = false;
  std::uint32_t m_served = 0;
  std::uint32_t m_lastCode = 0;
  std::uint32_t m_settingsLoads = 0;
  std::uint32_t m_address = 0;  // IPv4 of this machine, network byte order
  RamparoEngineSettings m_settings;
  std::vector<_FirewallRule> m_rules;
  std::vector<_FirewallProcessRecord> m_processes;
};

#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "RamparoBlockLog.h"
#include "RamparoEngineConfig.h"
#include "RamparoNftTable.h"
#include "RamparoProcessGroup.h"
#include "common/FirewallProcessRecord.h"
#include "common/FirewallRule.h"
#include "controls/firewall/CRamparointerfaceMem.h"

// The engine side of the shared block: it keeps "engine present" raised while attached, serves
// one request at a time from the slot and answers with the reply flag. While filtering, the
// active rules of the rule file, under the console's settings, and the blocked processes of the
// process file are the engine's table in the kernel's packet filter (see RamparoRuleSet); its
// counters answer the statistics request and its logged blocks go to the rule log.
class RamparoEngine {
 public:
  static constexpr std::size_t kMaxRules = 65536;  // a bound on memory, far above any real rule set

  explicit RamparoEngine(std::string workingDir);
  ~RamparoEngine();
  RamparoEngine(const RamparoEngine&) = delete;
  RamparoEngine& operator=(const RamparoEngine&) = delete;

  // Resolves the files, attaches to the block, makes the engine's (empty) table and announces
  // the engine. False with a reason when the block cannot be attached, or another engine
  // already serves it or holds the table of this network namespace.
  bool Start(std::string& error);
  // Removes the table, lowers "engine present" and "filtering" and lets go of the block.
  void Stop();

  // The descriptor that becomes readable when the kernel logged a block (-1: none), and the
  // handler that writes the logged blocks to the rule log.
  int LogFd() const { return m_log.Fd(); }
  void OnLogReadable();
  // The rule part of a rule log record of a blocked process ("" when it is not known).
  static constexpr const char* kProcessBlockName = "Process Blocking";
  static _FirewallRule ProcessBlockRule(const std::string& process);
  // Moves newly started processes of blocked names into the blocked group (every second or so).
  void OnTick();

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
  std::uint32_t Apply();  // the table for the current rules and settings; the reply's result
  void WriteStatistics();
  std::vector<std::string> BlockedProcessNames() const;

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
  RamparoNftTable m_table;
  RamparoBlockLog m_log;
  RamparoProcessGroup m_group;
  bool m_tableMade = false;                         // the table exists, made by this engine at its start
  std::map<std::string, std::uint64_t> m_reported;  // counter packets already reported
};

#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/FirewallRule.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/RampaEngineProcess.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "platform/AppProfile.h"

// The frame's side of the firewall engine: where the engine's files are, whether it is
// installed, the channel attached to its shared block, starting and stopping the engine and the
// table of its rules that names the rows of the blocking statistics.
class FirewallConsole {
 public:
  static constexpr char kMappingName[] = "RamparoInterfaceMem.mem";
  static constexpr std::size_t kRuleTableSize = 256;

  // The start sequence: attempts of launching the engine (when it is ours to launch) and then
  // asking it to start filtering; the pauses are upper bounds of a user-interface wait.
  struct StartLimits {
    int attempts = 3;
    int requests = 20;
    int launchPauseMs = 1000;
    int requestPauseMs = 500;
  };
  // Where a running start sequence is: attempt and request numbers, from 1.
  using StartProgress = std::function<void(int attempt, int request)>;

  explicit FirewallConsole(const AppProfile& application);
  ~FirewallConsole();
  FirewallConsole(const FirewallConsole&) = delete;
  FirewallConsole& operator=(const FirewallConsole&) = delete;

  // Start-up: the local and remote interface files and rule files, and whether the engine is
  // installed. workingFolder ends with a separator.
  void ResolveEngineFiles(const std::string& workingFolder);
  // The engine's rule file again ("CfgFile", or the default in the working folder, stored).
  void ResolveConfigPath();
  // Start-up: the firewall process file.
  void ResolveProcessFile(const std::string& workingFolder);
  // Replaces the channel by one attached to the interface file; a block created here gets the
  // console's identification. True when a view exists.
  bool AttachChannel(const std::string& interfaceFile, const std::string& applicationName);
  void DetachChannel();
  // Attach... with a chosen interface file: the console follows the engine behind it, and takes
  // that engine's rule file from its block.
  bool AttachRemote(const std::string& interfaceFile, const std::string& applicationName);
  // The attached interface file is not this machine's.
  bool IsRemote() const { return m_remoteInterfaceFile != m_localInterfaceFile; }

  // The engine as the block shows it; all false without a view.
  bool HasView() const { return m_view != nullptr; }
  bool EnginePresent() const { return Field(kRampaOffEnginePresent) != 0; }
  bool Filtering() const { return Field(kRampaOffFiltering) != 0; }
  bool Locked() const { return Field(kRampaOffConsoleLock) != 0; }
  // A request with reply, sent only while the block shows the engine present; the payload or null.
  std::uint8_t* EngineRequest(std::int32_t code);
  // Frees the request slot (request pending and reply ready to 0).
  void ClearSlot();

  // The start sequence; runs on a worker thread while the user-interface thread shows its
  // progress. Ends early, unanswered, once abort is raised. True when the engine is filtering.
  bool RunStart(const StartLimits& limits, const std::atomic<bool>& abort, const StartProgress& progress);
  // The engine program this console started is still running (only then does Stop offer to
  // end it).
  bool EngineLaunched() { return m_engineProcess.IsRunning(); }
  RampaEngineProcess& EngineProcess() { return m_engineProcess; }

  // The table of the engine's rules: up to 256 records.
  void RuleTableReset() { m_ruleTable.clear(); }
  // Adds the records of a rule file; the number added.
  int RuleTableLoad(const std::string& path);
  // The record's index, or -1 when the table is full.
  int RuleTableAdd(const _FirewallRule& rule);
  const std::vector<_FirewallRule>& RuleTable() const { return m_ruleTable; }

  CRampaMem* Channel() const { return m_channel.get(); }
  void* ChannelView() const { return m_view; }
  bool EngineInstalled() const { return m_engineInstalled; }
  const std::string& EngineConfigPath() const { return m_engineConfigPath; }
  const std::string& RemoteConfigPath() const { return m_remoteConfigPath; }
  const std::string& LocalInterfaceFile() const { return m_localInterfaceFile; }
  const std::string& RemoteInterfaceFile() const { return m_remoteInterfaceFile; }
  const std::string& ProcessFilePath() const { return m_processFilePath; }
  // The rule log as the engine's key names it now (the default is stored when there is none).
  const std::string& BlockLogFile();
  const AppProfile& EngineKey() const { return m_engineKey; }
  const AppProfile& ConsoleKey() const { return m_consoleKey; }

 private:
  std::uint32_t Field(std::size_t offset) const { return m_channel ? m_channel->MemField(offset) : 0; }
  // Starts the engine program when it is installed here and not present; true when it runs.
  bool LaunchEngine(const StartLimits& limits, const std::atomic<bool>& abort);
  // Waits up to the time, less once the condition holds or the sequence is given up.
  static void Pause(int milliseconds, const std::atomic<bool>& abort, const std::function<bool()>& done);

  const AppProfile& m_application;
  AppProfile m_engineKey{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
  AppProfile m_consoleKey{"DunmereIncProducts\\Setup", "IpRamparo"};
  std::unique_ptr<CRampaMem> m_channel;
  void* m_view = nullptr;
  bool m_engineInstalled = false;
  RampaEngineProcess m_engineProcess;
  std::string m_workingFolder;
  std::string m_engineConfigPath;
  std::string m_remoteConfigPath;
  std::string m_localInterfaceFile;
  std::string m_remoteInterfaceFile;
  std::string m_processFilePath;
  std::string m_blockLogFile;
  std::vector<_FirewallRule> m_ruleTable;
};

#include "app/FirewallConsole.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "common/FieldText.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RamparoFileNames.h"

FirewallConsole::FirewallConsole(const AppProfile& application) : m_application(application) {}

FirewallConsole::~FirewallConsole() { DetachChannel(); }

void FirewallConsole::ResolveEngineFiles(const std::string& workingFolder) {
  m_workingFolder = workingFolder;
#ifdef PELORIN_SYSTEM_PROGRAM_FOLDER
  // The Debian package has no Setup to record its engine for each user: the engine installed
  // beside this program is theirs, recorded as Setup would.
  if (m_engineKey.GetProfileString("", "RamparoThreadAppLoc").empty() &&
      ::access(PELORIN_SYSTEM_PROGRAM_FOLDER "/RamparoThreadApp", F_OK) == 0) {
    m_engineKey.WriteProfileString("", "RamparoThreadAppLoc", PELORIN_SYSTEM_PROGRAM_FOLDER);
    m_consoleKey.WriteProfileString("", "RamparoThreadAppLoc", PELORIN_SYSTEM_PROGRAM_FOLDER);
  }
#endif
  // Writing the default interface file below creates the engine's key: only a key that was
  // there before marks an engine this console may use.
  const bool engineKeyExisted = m_engineKey.Store().KeyExists(m_engineKey.AppKey());

  m_remoteInterfaceFile = m_application.GetProfileString("", "RampaMemFileRemote");
  m_localInterfaceFile = m_engineKey.GetProfileString("", "RampaMemFile");
  if (m_localInterfaceFile.empty()) {
    m_localInterfaceFile = workingFolder + "RamparoInterfaceMem.mem";
    m_engineKey.WriteProfileString("", "RampaMemFile", m_localInterfaceFile);
  }
  if (m_remoteInterfaceFile.empty()) m_remoteInterfaceFile = m_localInterfaceFile;
  m_application.WriteProfileString("", "RampaMemFileRemote", m_remoteInterfaceFile);

  ResolveConfigPath();

  if (engineKeyExisted) {
    m_application.WriteProfileString("", "PelorinFirewallCfgFileCurrent", m_engineConfigPath);
    m_engineInstalled = !m_consoleKey.GetProfileString("", "RamparoThreadAppLoc").empty();
  } else {
    m_application.WriteProfileString("", "PelorinFirewallCfgFileCurrent", "");
    m_engineInstalled = false;
  }
  BlockLogFile();
}

const std::string& FirewallConsole::BlockLogFile() {
  // The engine logs to this value and makes it its default when it is empty; the console makes
  // the same default first, so View Log opens the file the engine writes.
  m_blockLogFile = m_engineKey.GetProfileString("", "IpRamparoBlockLogFile");
  if (m_blockLogFile.empty()) {
    m_blockLogFile = m_workingFolder + RamparoFileNames::kBlockLog;
    m_engineKey.WriteProfileString("", "IpRamparoBlockLogFile", m_blockLogFile);
  }
  return m_blockLogFile;
}

void FirewallConsole::ResolveConfigPath() {
  m_remoteConfigPath = m_application.GetProfileString("", "CfgFileRemote");
  m_engineConfigPath = m_engineKey.GetProfileString("", "CfgFile");
  if (m_engineConfigPath.empty()) {
    m_engineConfigPath = m_workingFolder + "Ramparo.cfg";
    m_engineKey.WriteProfileString("", "CfgFile", m_engineConfigPath);
  }
  if (m_remoteConfigPath.empty()) m_remoteConfigPath = m_engineConfigPath;
  m_application.WriteProfileString("", "CfgFileRemote", m_remoteConfigPath);
  m_engineKey.WriteProfileString("", "CfgFile", m_engineConfigPath);
}

void FirewallConsole::ResolveProcessFile(const std::string& workingFolder) {
  m_processFilePath = m_consoleKey.GetProfileString("", "IpRamparoProcesses");
  if (m_processFilePath.empty()) {
    m_processFilePath = workingFolder + "Cfg/RamparoProcesses.prc";
    m_consoleKey.WriteProfileString("", "IpRamparoProcesses", m_processFilePath);
  }
}

bool FirewallConsole::AttachChannel(const std::string& interfaceFile, const std::string& applicationName) {
  DetachChannel();
  // The owner value stays in this process: the channel never writes it into the block.
  m_channel = std::make_unique<CRampaMem>(nullptr, kMappingName, interfaceFile);
  m_view = m_channel->MemAttach(static_cast<CRampaThreadAppFrame*>(nullptr));
  if (m_view && m_channel->MemIsCreated()) {
    std::memset(m_view, 0, kRampaUsedSize);
    RampaBlockSet(m_view, kRampaOffSecond, 0);
    RampaBlockSetText(m_view, kRampaOffIdent, interfaceFile);
    RampaBlockSetText(m_view, kRampaOffCfgFile, m_engineConfigPath);
    RampaBlockSetText(m_view, kRampaOffAppName, applicationName);
    RampaBlockSet(m_view, kRampaOffUiThreadId, static_cast<std::uint32_t>(::gettid()));
  }
  return m_view != nullptr;
}

void FirewallConsole::DetachChannel() {
  if (m_channel) m_channel->MemDetach();
  m_channel.reset();
  m_view = nullptr;
}

bool FirewallConsole::AttachRemote(const std::string& interfaceFile, const std::string& applicationName) {
  m_remoteInterfaceFile = interfaceFile;
  const bool attached = AttachChannel(interfaceFile, applicationName);
  if (attached && m_channel->MemCheckView()) {
    const std::string rules = RampaBlockGetText(m_view, kRampaOffCfgFile);
    if (!rules.empty()) m_remoteConfigPath = rules;
  }
  m_application.WriteProfileString("", "CfgFileRemote", m_remoteConfigPath);
  m_application.WriteProfileString("", "RampaMemFileRemote", m_remoteInterfaceFile);
  return attached;
}

std::uint8_t* FirewallConsole::EngineRequest(std::int32_t code) {
  if (!m_channel || !EnginePresent()) return nullptr;
  return m_channel->SendEngineMessageWithReturn(code, 0, 0, 1);
}

void FirewallConsole::ClearSlot() {
  if (!m_channel || !m_channel->MemCheckView()) return;
  RampaBlockSet(m_view, kRampaOffRequestPending, 0);
  RampaBlockSet(m_view, kRampaOffReplyReady, 0);
}

void FirewallConsole::Pause(int milliseconds, const std::atomic<bool>& abort, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < deadline && !abort.load() && !(done && done())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool FirewallConsole::LaunchEngine(const StartLimits& limits, const std::atomic<bool>& abort) {
  if (EnginePresent()) return true;  // already running: nothing to launch
  const std::string folder = m_engineKey.GetProfileString("", "RamparoThreadAppLoc");
  if (folder.empty() || !m_engineProcess.Start(folder)) return false;
  Pause(limits.launchPauseMs, abort, [this] { return EnginePresent(); });
  return true;
}

bool FirewallConsole::RunStart(const StartLimits& limits, const std::atomic<bool>& abort,
                               const StartProgress& progress) {
  if (!m_channel) return false;
  m_channel->SetAbortFlag(&abort);
  for (int attempt = 1; attempt <= limits.attempts && !Filtering() && !abort.load(); ++attempt) {
    if (progress) progress(attempt, 0);
    const bool remote = IsRemote();
    if (remote && !EnginePresent()) continue;  // another machine's engine cannot be started from here
    ClearSlot();
    if (!remote) {
      LaunchEngine(limits, abort);
      // The block now belongs to the engine too: our detach must leave it intact.
      m_channel->MemSetCreated(0);
    }
    for (int request = 1; request <= limits.requests && !abort.load(); ++request) {
      if (progress) progress(attempt, request);
      const bool answered = EngineRequest(kRampaMsgStart) != nullptr;
      Pause(limits.requestPauseMs, abort, [this] { return Filtering(); });
      if (answered || Filtering()) break;
    }
  }
  m_channel->SetAbortFlag(nullptr);
  return Filtering();
}

int FirewallConsole::RuleTableLoad(const std::string& path) {
  int added = 0;
  for (const _FirewallRule& rule : FirewallRuleFile::Read(path, kRuleTableSize).rules) {
    if (RuleTableAdd(rule) < 0) break;
    ++added;
  }
  return added;
}

int FirewallConsole::RuleTableAdd(const _FirewallRule& rule) {
  if (m_ruleTable.size() >= kRuleTableSize) return -1;
  _FirewallRule record{};
  SetFieldText(record.name, GetFieldText(rule.name));
  record.active = rule.active;
  std::memcpy(record.entries, rule.entries, sizeof record.entries);
  record.allow = rule.allow;
  record.kind = rule.kind;
  m_ruleTable.push_back(record);
  return static_cast<int>(m_ruleTable.size()) - 1;
}

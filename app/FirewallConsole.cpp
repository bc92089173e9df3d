#include "app/FirewallConsole.h"

#include <unistd.h>

#include <cstring>

#include "controls/firewall/RampaSharedBlock.h"

FirewallConsole::FirewallConsole(const AppProfile& application) : m_application(application) {}

FirewallConsole::~FirewallConsole() { DetachChannel(); }

void FirewallConsole::ResolveEngineFiles(const std::string& workingFolder) {
  m_remoteInterfaceFile = m_application.GetProfileString("", "RampaMemFileRemote");
  m_localInterfaceFile = m_engineKey.GetProfileString("", "RampaMemFile");
  if (m_localInterfaceFile.empty()) {
    m_localInterfaceFile = workingFolder + "RamparoInterfaceMem.mem";
    m_engineKey.WriteProfileString("", "RampaMemFile", m_localInterfaceFile);
  }
  if (m_remoteInterfaceFile.empty()) m_remoteInterfaceFile = m_localInterfaceFile;
  m_application.WriteProfileString("", "RampaMemFileRemote", m_remoteInterfaceFile);

  m_remoteConfigPath = m_application.GetProfileString("", "CfgFileRemote");
  m_engineConfigPath = m_engineKey.GetProfileString("", "CfgFile");
  if (m_engineConfigPath.empty()) {
    m_engineConfigPath = workingFolder + "Ramparo.cfg";
    m_engineKey.WriteProfileString("", "CfgFile", m_engineConfigPath);
  }
  if (m_remoteConfigPath.empty()) m_remoteConfigPath = m_engineConfigPath;
  m_application.WriteProfileString("", "CfgFileRemote", m_remoteConfigPath);
  m_engineKey.WriteProfileString("", "CfgFile", m_engineConfigPath);

  if (m_engineKey.Store().KeyExists(m_engineKey.AppKey())) {
    m_application.WriteProfileString("", "PelorinFirewallCfgFileCurrent", m_engineConfigPath);
    m_engineInstalled = !m_consoleKey.GetProfileString("", "RamparoThreadAppLoc").empty();
  } else {
    m_application.WriteProfileString("", "PelorinFirewallCfgFileCurrent", "");
    m_engineInstalled = false;
  }
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

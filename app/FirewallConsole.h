#pragma once
#include <memory>
#include <string>

#include "controls/firewall/CRampaMem.h"
#include "platform/AppProfile.h"

// The frame's side of the firewall engine: where the engine's files are, whether it is
// installed, and the channel attached to its shared block.
class FirewallConsole {
 public:
  static constexpr char kMappingName[] = "RamparoInterfaceMem.mem";

  explicit FirewallConsole(const AppProfile& application);
  ~FirewallConsole();
  FirewallConsole(const FirewallConsole&) = delete;
  FirewallConsole& operator=(const FirewallConsole&) = delete;

  // Start-up: the local and remote interface files and rule files, and whether the engine is
  // installed. workingFolder ends with a separator.
  void ResolveEngineFiles(const std::string& workingFolder);
  // Start-up: the firewall process file.
  void ResolveProcessFile(const std::string& workingFolder);
  // Replaces the channel by one attached to the interface file; a block created here gets the
  // console's identification. True when a view exists.
  bool AttachChannel(const std::string& interfaceFile, const std::string& applicationName);
  void DetachChannel();

  CRampaMem* Channel() const { return m_channel.get(); }
  void* ChannelView() const { return m_view; }
  bool EngineInstalled() const { return m_engineInstalled; }
  const std::string& EngineConfigPath() const { return m_engineConfigPath; }
  const std::string& RemoteConfigPath() const { return m_remoteConfigPath; }
  const std::string& LocalInterfaceFile() const { return m_localInterfaceFile; }
  const std::string& RemoteInterfaceFile() const { return m_remoteInterfaceFile; }
  const std::string& ProcessFilePath() const { return m_processFilePath; }

 private:
  const AppProfile& m_application;
  AppProfile m_engineKey{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
  AppProfile m_consoleKey{"DunmereIncProducts\\Setup", "IpRamparo"};
  std::unique_ptr<CRampaMem> m_channel;
  void* m_view = nullptr;
  bool m_engineInstalled = false;
  std::string m_engineConfigPath;
  std::string m_remoteConfigPath;
  std::string m_localInterfaceFile;
  std::string m_remoteInterfaceFile;
  std::string m_processFilePath;
};

#pragma once
#include <string>

#include "app/FirewallConsole.h"

class CMainFrame;

// The File menu's session and rule-folder commands: Create/Select Session Log, Load Session
// Log, Set Default Logs, Create/Select Firewall Rules and Set Defaul Firewall Rules, and the
// title that names the session in use. A session is one folder below "SessLogs" holding both
// monitors' logs; a configuration is one folder below "Configurations" holding a rule file.
class SessionMenu {
 public:
  static constexpr char kInvalidLogsCaption[] = "Invalid Session Logs";
  static constexpr char kInvalidLogsText[] =
      "Could not create logs, logs do not exist.\n\nRegistry entries have been tampered with.\n\n";
  static constexpr char kInvalidNameCaption[] = "Invalid Session Log Name";
  static constexpr char kInvalidNameText[] = "\n\nSpecify one name for a session log, no paths.\n\n";
  static constexpr char kPacketLogName[] = "PelorinProLogPkt.rec";
  static constexpr char kConnectLogName[] = "PelorinProLogConnect.rec";
  static constexpr char kRuleFileName[] = "PelorinFirewallCfgFile.cfg";

  SessionMenu(CMainFrame& frame, FirewallConsole& console);

  // Maps the commands and their rules on the frame.
  void Map();

  void OnSelectSession();
  void OnLoadSession();
  void OnDefaultLogs();
  void OnSelectRules();
  void OnDefaultRules();
  // Names the session of the connection log in use in the title; the default logs leave it.
  void RefreshTitle();

 private:
  enum class Failure { Report, Silent };
  // A folder one level below the parent value's folder, chosen or typed and created when new,
  // with a separator at its end; empty when the command stops.
  std::string ChooseFolder(const char* parentValue, const char* caption, Failure failure);
  // Create/Select Session Log (failures reported) and Load Session Log (failures silent).
  void SwitchSession(const char* caption, Failure failure);
  // Points both monitors at the logs now named by the profile and reloads their panes.
  void UseCurrentLogs();
  void ReloadLogs();
  void OpenRuleEditor();
  void SetFolderTitle(const std::string& folder);

  CMainFrame& m_frame;
  FirewallConsole& m_console;
};

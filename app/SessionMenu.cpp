#include "app/SessionMenu.h"

#include <sys/stat.h>

#include "app/CMainFrame.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/framework/DlgPelorinDirSelect.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "ui/CmdUI.h"
#include "ui/UiServices.h"

namespace {

constexpr std::size_t kMaxNameBytes = 255;  // the longest name a folder entry can have

std::string WithoutSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// A typed name ends up in a path: only one plain folder name directly below the parent is taken.
bool IsOneFolderBelow(const std::string& parent, const std::string& path) {
  const std::string prefix = WithoutSeparator(parent) + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string name = path.substr(prefix.size());
  if (name.size() > kMaxNameBytes || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  return true;
}

// A new name makes one folder; an existing entry must be a folder to hold the files.
bool IsOrMakeFolder(const std::string& path) {
  struct stat found {};
  if (::lstat(path.c_str(), &found) != 0) return ::mkdir(path.c_str(), 0755) == 0;
  return ::stat(path.c_str(), &found) == 0 && S_ISDIR(found.st_mode);
}

}  // namespace

SessionMenu::SessionMenu(CMainFrame& frame, FirewallConsole& console) : m_frame(frame), m_console(console) {}

void SessionMenu::Map() {
  m_frame.MapCommand(ID_FILE_SESSION_SELECT, [this] { OnSelectSession(); });
  m_frame.MapCommand(ID_FILE_SESSION_LOAD, [this] { OnLoadSession(); });
  m_frame.MapCommand(ID_FILE_DEFAULT_LOGS, [this] { OnDefaultLogs(); });
  m_frame.MapCommand(ID_FILE_RULES_SELECT, [this] { OnSelectRules(); });
  m_frame.MapCommand(ID_FILE_DEFAULT_RULES, [this] { OnDefaultRules(); });
  const auto notScanning = [this](CmdUI& cmd) { cmd.Enable(!m_frame.IsScanning()); };
  m_frame.MapUpdate(ID_FILE_SESSION_SELECT, notScanning);
  m_frame.MapUpdate(ID_FILE_DEFAULT_LOGS, notScanning);
  m_frame.MapUpdate(ID_FILE_SESSION_LOAD, [this](CmdUI& cmd) {
    cmd.Enable(!m_frame.IsScanning());
    RefreshTitle();  // each time the File menu opens
  });
  const auto installed = [this](CmdUI& cmd) { cmd.Enable(m_console.EngineInstalled()); };
  m_frame.MapUpdate(ID_FILE_RULES_SELECT, installed);
  m_frame.MapUpdate(ID_FILE_DEFAULT_RULES, installed);
}

std::string SessionMenu::ChooseFolder(const char* parentValue, const char* caption, Failure failure) {
  const std::string parent = m_frame.GetApplication()->GetProfileString("", parentValue);
  if (parent.empty()) {
    MessageBox(&m_frame, kInvalidLogsText, kInvalidLogsCaption, MB_OK);
    return {};
  }
  DlgPelorinDirSelect chooser(&m_frame, parent, caption, 0);
  if (chooser.DoModal() != IDOK || chooser.GetSel().empty()) return {};
  const std::string path = chooser.GetSel();
  const auto refuse = [&] {
    MessageBox(&m_frame, "Could not create :" + path + kInvalidNameText, kInvalidNameCaption, MB_OK);
    return std::string();
  };
  if (!IsOneFolderBelow(parent, path)) return refuse();
  if (!IsOrMakeFolder(path)) return failure == Failure::Report ? refuse() : std::string();
  return path + "/";
}

void SessionMenu::OnSelectSession() { SwitchSession("Select Session Log", Failure::Report); }

void SessionMenu::OnLoadSession() { SwitchSession("Select Session Log to load", Failure::Silent); }

void SessionMenu::SwitchSession(const char* caption, Failure failure) {
  if (m_frame.IsScanning()) return;
  const std::string folder = ChooseFolder("SessLogs", caption, failure);
  if (folder.empty()) return;
  AppProfile& app = *m_frame.GetApplication();
  app.WriteProfileString("", "IpMonLogCurrent", folder + kPacketLogName);
  app.WriteProfileString("", "IpConnectLogCurrent", folder + kConnectLogName);
  UseCurrentLogs();
  // Create/Select names the session before the panes reload, Load once they are asked to.
  const bool loading = failure == Failure::Silent;
  if (!loading) SetFolderTitle(folder);
  ReloadLogs();
  if (loading) SetFolderTitle(folder);
}

void SessionMenu::OnDefaultLogs() {
  if (m_frame.IsScanning()) return;
  AppProfile& app = *m_frame.GetApplication();
  app.WriteProfileString("", "IpMonLogCurrent", app.GetProfileString("", "IpMonLog"));
  app.WriteProfileString("", "IpConnectLogCurrent", app.GetProfileString("", "IpConnectLog"));
  UseCurrentLogs();
  m_frame.SetTitle(CMainFrame::kTitle);
  ReloadLogs();
}

void SessionMenu::UseCurrentLogs() {
  if (MonListMon* pane = m_frame.Connections())
    if (PelorinCThreadMonListMon* thread = pane->Scanner()) thread->LogUseCurrent(0);
  if (MonListIpMon* pane = m_frame.Packets())
    if (MonListIpMonCWinThread* thread = pane->GetCaptureThread()) thread->LogUseCurrent(0);
}

void SessionMenu::ReloadLogs() {
  // Both threads are idle: these commands run only while nothing scans.
  if (MonListMon* pane = m_frame.Connections()) pane->LoadLastLog();
  if (MonListIpMon* pane = m_frame.Packets()) pane->LoadLastLog();
}

void SessionMenu::RefreshTitle() {
  const AppProfile& app = *m_frame.GetApplication();
  const std::string current = app.GetProfileString("", "IpConnectLogCurrent");
  if (current == app.GetProfileString("", "IpConnectLog")) return;
  // The folder of the log: the path up to its first "." with the file's name taken off.
  std::string folder = current.substr(0, current.find('.'));
  const std::size_t separator = folder.rfind('/');
  folder.erase(separator == std::string::npos ? 0 : separator);
  m_frame.SetTitle(std::string(CMainFrame::kTitle) + " ( " + folder + " )");
}

void SessionMenu::SetFolderTitle(const std::string& folder) {
  m_frame.SetTitle(std::string(CMainFrame::kTitle) + " ( " + WithoutSeparator(folder) + " )");
}

void SessionMenu::OnSelectRules() {
  if (!m_console.EngineInstalled()) return;
  const std::string folder = ChooseFolder("Configurations", "Select Configuration", Failure::Report);
  if (folder.empty()) return;
  const std::string ruleFile = folder + kRuleFileName;
  m_frame.GetApplication()->WriteProfileString("", "PelorinFirewallCfgFileCurrent", ruleFile);
  // The engine takes the chosen file from now on, also after a restart.
  m_frame.GetApplication()->WriteProfileString("", "CfgFileRemote", m_console.RemoteConfigPath());
  m_console.EngineKey().WriteProfileString("", "CfgFile", ruleFile);
  m_console.ResolveConfigPath();
  SetFolderTitle(folder);
  OpenRuleEditor();
}

void SessionMenu::OnDefaultRules() {
  if (!m_console.EngineInstalled()) return;
  m_console.ResolveConfigPath();
  m_frame.GetApplication()->WriteProfileString("", "PelorinFirewallCfgFileCurrent", m_console.EngineConfigPath());
  m_frame.SetTitle(CMainFrame::kTitle);
  OpenRuleEditor();
}

void SessionMenu::OpenRuleEditor() {
  // The editor opens on the file "PelorinFirewallCfgFileCurrent" names.
  DlgPelorinFirewallIp editor(&m_frame, m_frame.GetApplication(), nullptr);
  editor.DoModal();
}

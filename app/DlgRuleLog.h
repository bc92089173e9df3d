#pragma once
#include <cstdint>
#include <string>

#include "ui/Dialog.h"

class AppProfile;
class FirewallConsole;
class ListControl;

// "Rule Log": the blocks the engine logged, a page of 256 records at a time, with the rule that
// blocked, the blocked address and port and the time. The log file can be chosen, paged,
// reloaded and deleted.
class DlgRuleLog : public Dialog {
 public:
  static constexpr int IDD = 137;
  static constexpr int IDC_LIST_LOG = 1370;
  static constexpr int IDC_BUTTON_OPEN = 1371;
  static constexpr int IDC_BUTTON_PAGES = 1372;
  static constexpr int IDC_BUTTON_REFRESH = 1373;
  static constexpr int IDC_BUTTON_CLEAR = 1374;
  static constexpr char kCaption[] = "Rule Log";

  // The console gives the log file ("IpRamparoBlockLogFile") and keeps the one opened.
  DlgRuleLog(Window* parent, FirewallConsole& console);
  ~DlgRuleLog() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  void LoadPage();
  void OnOpenLog();
  void OnLoadPage();
  void OnClearLog();

  std::int64_t GetPage() const { return m_page; }
  const std::string& GetLogFile() const { return m_logFile; }

 private:
  ListControl* List() const;
  void ShowFile();

  FirewallConsole& m_console;
  std::string m_logFile;
  std::int64_t m_page = 0;
};

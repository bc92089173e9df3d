#pragma once
#include <memory>
#include <string>

#include "app/CRamparoListView.h"
#include "ui/Dialog.h"

// "Processes": the firewall's process list (every endpoint of the machine by process) in which
// processes are blocked or allowed; "Refresh" lists the endpoints again.
class DlgRamparoProcesses : public Dialog {
 public:
  static constexpr int IDD = 141;
  static constexpr int IDC_BUTTON_REFRESH = 1410;
  static constexpr int IDC_LIST_PROCESSES = 1411;

  DlgRamparoProcesses(Window* parent, std::string processFile);
  ~DlgRamparoProcesses() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  CRamparoListView* View() const { return m_view.get(); }
  // Some change reached the process file: the engine has something to take up.
  bool IsFileWritten() const { return m_view && m_view->IsWritten(); }

 private:
  std::string m_processFile;
  std::unique_ptr<CRamparoListView> m_view;
};

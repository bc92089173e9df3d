#include "app/DlgRuleLog.h"

#include <unistd.h>

#include "app/DlgBlockLogPages.h"
#include "app/FirewallConsole.h"
#include "app/RuleLogFile.h"
#include "ui/FileDialogRequest.h"
#include "ui/ListControl.h"
#include "ui/UiServices.h"

namespace {
constexpr const char* kColumns[] = {"Name", "Rule", "Blocked", "Date/Time"};
constexpr int kColumnWidths[] = {120, 180, 130, 150};  // px
}  // namespace

DlgRuleLog::DlgRuleLog(Window* parent, FirewallConsole& console)
    : Dialog(MakeTemplate(), parent), m_console(console), m_logFile(console.BlockLogFile()) {
  MapCommand(IDC_BUTTON_OPEN, [this] { OnOpenLog(); });
  MapCommand(IDC_BUTTON_PAGES, [this] { OnLoadPage(); });
  MapCommand(IDC_BUTTON_REFRESH, [this] { LoadPage(); });
  MapCommand(IDC_BUTTON_CLEAR, [this] { OnClearLog(); });
}

DlgRuleLog::~DlgRuleLog() { DestroyWindow(); }

DialogTemplate DlgRuleLog::MakeTemplate() {
  // The list fills the dialog above the row of buttons.
  return DialogTemplate{kCaption,
                        380,
                        230,
                        "MS Sans Serif",
                        8,
                        {ReportListItem(IDC_LIST_LOG, 0, 0, 380, 204, LVS_SINGLESEL),
                         PushButtonItem(IDC_BUTTON_OPEN, "Open Log", 17, 210, 60, 14),
                         PushButtonItem(IDC_BUTTON_PAGES, "Load Page", 87, 210, 60, 14),
                         PushButtonItem(IDC_BUTTON_REFRESH, "Refresh", 157, 210, 60, 14),
                         PushButtonItem(IDC_BUTTON_CLEAR, "Clear Log", 227, 210, 60, 14),
                         DefPushButtonItem(IDOK, "Done", 303, 210, 60, 14)}};
}

ListControl* DlgRuleLog::List() const { return GetDlgItemAs<ListControl>(IDC_LIST_LOG); }

bool DlgRuleLog::OnInitDialog() {
  if (ListControl* list = List()) {
    list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
    for (int column = 0; column < 4; ++column)
      list->InsertColumn(column, kColumns[column], LVCFMT_LEFT, kColumnWidths[column]);
  }
  m_page = 0;
  if (!m_logFile.empty()) ShowFile();
  return true;
}

void DlgRuleLog::ShowFile() {
  SetWindowText(std::string(kCaption) + " - " + m_logFile);
  LoadPage();
}

void DlgRuleLog::LoadPage() {
  ListControl* list = List();
  if (list == nullptr) return;
  WaitCursor wait;
  list->DeleteAllItems();
  for (const _FirewallRuleLogRecord& record : RuleLogFile::ReadPage(m_logFile, m_page)) {
    const int row = list->InsertItem(list->GetItemCount(), RuleLogFile::NameText(record));
    if (row < 0) continue;
    list->SetItemText(row, 1, RuleLogFile::RuleText(record));
    list->SetItemText(row, 2, RuleLogFile::BlockedText(record));
    list->SetItemText(row, 3, RuleLogFile::TimeText(record.time));
  }
}

void DlgRuleLog::OnOpenLog() {
  FileDialogRequest request;
  request.open = true;
  request.filter = "Block Logs|*.log||";
  request.fileName = m_logFile;
  request.flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST;
  std::string chosen;
  if (!UiServices::Current().FileDialog(this, request, &chosen) || chosen.empty()) return;
  m_logFile = chosen;
  m_page = 0;
  m_console.EngineKey().WriteProfileString("", "IpRamparoBlockLogFile", m_logFile);
  ShowFile();
}

void DlgRuleLog::OnLoadPage() {
  DlgBlockLogPages pages(this, m_logFile);
  if (pages.DoModal() != IDOK || pages.GetSelectedPage() < 0) return;
  m_page = pages.GetSelectedPage();
  LoadPage();
}

void DlgRuleLog::OnClearLog() {
  if (!m_logFile.empty()) ::unlink(m_logFile.c_str());
  if (ListControl* list = List()) list->DeleteAllItems();
}

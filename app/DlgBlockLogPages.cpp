#include "app/DlgBlockLogPages.h"

#include "app/RuleLogFile.h"
#include "ui/ListControl.h"
#include "ui/UiServices.h"

DlgBlockLogPages::DlgBlockLogPages(Window* parent, std::string logFile)
    : Dialog(MakeTemplate(), parent), m_logFile(std::move(logFile)) {}

DlgBlockLogPages::~DlgBlockLogPages() { DestroyWindow(); }

DialogTemplate DlgBlockLogPages::MakeTemplate() {
  return DialogTemplate{
      "Rule Log Pages",
      200,
      170,
      "MS Sans Serif",
      8,
      {ReportListItem(IDC_LIST_PAGES, 7, 7, 186, 136, LVS_SINGLESEL), DefPushButtonItem(IDOK, "OK", 43, 150, 50, 14),
       PushButtonItem(IDCANCEL, "Cancel", 107, 150, 50, 14)}};
}

ListControl* DlgBlockLogPages::List() const { return GetDlgItemAs<ListControl>(IDC_LIST_PAGES); }

int DlgBlockLogPages::GetPageCount() const { return List() != nullptr ? List()->GetItemCount() : 0; }

bool DlgBlockLogPages::OnInitDialog() {
  ListControl* list = List();
  if (list == nullptr) return true;
  WaitCursor wait;
  list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  list->InsertColumn(0, "Page", LVCFMT_LEFT, list->GetStringWidth("Page") + 50);
  list->InsertColumn(1, "Date/Time", LVCFMT_LEFT, list->GetStringWidth("00/00/00 00:00:00:000") + 20);
  for (const RuleLogFile::PageStart& page : RuleLogFile::Pages(m_logFile)) {
    const int row = list->InsertItem(list->GetItemCount(), std::to_string(page.page));
    if (row >= 0) list->SetItemText(row, 1, RuleLogFile::TimeText(page.time));
  }
  return true;
}

void DlgBlockLogPages::OnOK() {
  const ListControl* list = List();
  const int row = list != nullptr ? list->GetNextItem(-1, LVNI_SELECTED) : -1;
  m_page = row >= 0 ? std::stoll(list->GetItemText(row, 0)) : -1;
  EndDialog(IDOK);
}

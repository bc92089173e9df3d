#include "wincap/DlgPelorinLogPages.h"

#include <cstdlib>
#include <memory>

#include "ui/ListControl.h"
#include "wincap/LogPageSize.h"
#include "wincap/PacketLogSet.h"

namespace {

constexpr char kTitle[] = "Log Pages";
constexpr char kTimeColumn[] = "Date        Time";
constexpr int kNumberMargin = 50;  // px beside a heading
constexpr int kTimeMargin = 100;   // px

constexpr UINT kScanTimer = 1;
constexpr UINT kScanTimerMs = 50;
constexpr std::size_t kRowsPerTurn = 20000;

}  // namespace

DlgPelorinLogPages::DlgPelorinLogPages(Window* parent) : Dialog(MakeTemplate(), parent) {}

DlgPelorinLogPages::DlgPelorinLogPages(Window* parent, const std::string& logPath, LONG pageSize)
    : Dialog(MakeTemplate(), parent), m_logPath(logPath), m_pageSize(ClampLogPageSize(pageSize)) {}

DlgPelorinLogPages::~DlgPelorinLogPages() {
  m_scan.Stop();
  DestroyWindow();
}

DialogTemplate DlgPelorinLogPages::MakeTemplate() {
  return DialogTemplate{kTitle,
                        268,
                        220,
                        "MS Sans Serif",
                        8,
                        {GroupItem(kTitle, 7, 3, 254, 170, IDC_GROUP_PAGES),
                         ReportListItem(IDC_LIST_PAGES, 13, 14, 242, 153, LVS_SINGLESEL),
                         EditItem(IDC_EDIT_TOTALS, 7, 178, 254, 12, ES_AUTOHSCROLL | ES_READONLY),
                         DefPushButtonItem(IDOK, "OK", 156, 199, 50, 14),
                         PushButtonItem(IDCANCEL, "Cancel", 211, 199, 50, 14)}};
}

ListControl* DlgPelorinLogPages::List() const { return GetDlgItemAs<ListControl>(IDC_LIST_PAGES); }

void DlgPelorinLogPages::ListCreate() {
  ListControl* list = List();
  if (list == nullptr) return;
  list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  list->InsertColumn(0, "Page", LVCFMT_LEFT, list->GetStringWidth("Page") + kNumberMargin);
  list->InsertColumn(1, "File Position", LVCFMT_LEFT, list->GetStringWidth("File Position") + kNumberMargin);
  list->InsertColumn(2, kTimeColumn, LVCFMT_LEFT, list->GetStringWidth(kTimeColumn) + kTimeMargin);
}

bool DlgPelorinLogPages::OnInitDialog() {
  ListCreate();
  if (!m_logPath.empty()) {
    const std::size_t slash = m_logPath.find_last_of('/');
    SetWindowText(std::string(kTitle) + " - " +
                  (slash == std::string::npos ? m_logPath : m_logPath.substr(slash + 1)));
    ShowPages();
  }
  return true;
}

bool DlgPelorinLogPages::ShowPages() {
  StopListing();
  if (ListControl* list = List()) list->DeleteAllItems();
  m_lastRow = -1;
  m_totals = {};
  // The pages run through every file of the log's numbered set, oldest first.
  const std::int64_t bytes = PacketLogSet::TotalBytes(m_logPath);
  if (m_logPath.empty() || PacketLogSet::Files(m_logPath).empty()) return false;
  m_finished = false;
  const LONG pageSize = m_pageSize;
  LogPagesTotals* totals = &m_totals;
  m_scan.Start(
      [first = m_logPath, pageSize, totals](LogScanThread<LogPageRow>& scan) {
        *totals = ListLogSetPages(first, pageSize, [&scan](LogPageRow&& row) { scan.Add(std::move(row)); },
                                  &scan.StopFlag(), &scan.Done());
      },
      bytes);
  SetDlgItemText(IDC_EDIT_TOTALS, "Reading the log... 0 %");
  SetTimer(kScanTimer, kScanTimerMs);
  return true;
}

void DlgPelorinLogPages::StopListing() {
  m_scan.Stop();
  KillTimer(kScanTimer);
}

void DlgPelorinLogPages::OnTimer(UINT id) {
  if (id == kScanTimer)
    ShowFound();
  else
    Dialog::OnTimer(id);
}

void DlgPelorinLogPages::ShowFound() {
  if (m_finished) return;
  ListControl* list = List();
  for (const LogPageRow& row : m_scan.Take(kRowsPerTurn)) {
    if (list == nullptr) break;
    const std::string position = row.page.page == 0 ? "000" : std::to_string(row.page.position);
    m_lastRow = list->InsertItem(list->GetItemCount(), std::to_string(row.page.page));
    if (m_lastRow < 0) continue;
    list->SetItemText(m_lastRow, 1, position);
    list->SetItemText(m_lastRow, 2, row.time);
    list->SetItemData(m_lastRow, row.file);
  }
  if (!m_scan.IsFinished() || m_scan.HasRows()) {
    SetDlgItemText(IDC_EDIT_TOTALS, "Reading the log... " + std::to_string(m_scan.Percent()) + " %");
    return;
  }
  KillTimer(kScanTimer);
  m_finished = true;
  SetDlgItemText(IDC_EDIT_TOTALS, "Pages : " + std::to_string(m_totals.pages) + ", " +
                                      "Page Size ( Pkts/page ) : " + std::to_string(m_pageSize) + ", " +
                                      "Total Log Packets : " + std::to_string(m_totals.records));
}

bool DlgPelorinLogPages::TakeRow(int row) {
  ListControl* list = List();
  if (list == nullptr || row < 0 || row >= list->GetItemCount()) return false;
  m_clicked.page = static_cast<std::int32_t>(std::strtol(list->GetItemText(row, 0).c_str(), nullptr, 10));
  m_clicked.position = static_cast<std::int32_t>(std::strtol(list->GetItemText(row, 1).c_str(), nullptr, 10));
  m_clickedFile = static_cast<std::uint32_t>(list->GetItemData(row));
  return true;
}

void DlgPelorinLogPages::OnClickListPages(const ListNotify& notify, LRESULT* result) {
  TakeRow(notify.iItem);
  if (result != nullptr) *result = 0;
}

void DlgPelorinLogPages::OnDblclkListPages(const ListNotify& notify, LRESULT* result) {
  if (TakeRow(notify.iItem)) OnOK();
  if (result != nullptr) *result = 0;
}

void DlgPelorinLogPages::OnOK() {
  StopListing();
  if (m_clicked.page >= 0) {
    m_chosen = m_clicked;
    m_chosenFile = m_clickedFile;
  } else {
    m_chosen.reset();
  }
  EndDialog(IDOK);
}

void DlgPelorinLogPages::OnCancel() {
  StopListing();
  m_clicked = {-1, -1};
  m_chosen.reset();
  EndDialog(IDCANCEL);
}

bool DlgPelorinLogPages::OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) {
  if (controlId != IDC_LIST_PAGES) return Dialog::OnNotify(controlId, code, notify, result);
  switch (code) {
    case NM_CLICK:
      OnClickListPages(notify, result);
      return true;
    case NM_DBLCLK:
      OnDblclkListPages(notify, result);
      return true;
    case LVN_ITEMCHANGED:
      // A row reached with the arrow keys is as chosen as a clicked one.
      if ((notify.uNewState & LVIS_SELECTED) != 0 && (notify.uOldState & LVIS_SELECTED) == 0) TakeRow(notify.iItem);
      return true;
    default:
      return false;
  }
}

#include "wincap/DlgPelorinAdapters.h"

#include <charconv>
#include <string>

#include "common/FieldText.h"
#include "ui/ListControl.h"
#include "ui/UiServices.h"
#include "wincap/PelorinWinCapAdapters.h"

namespace {

constexpr char kCloseAdapter[] = "Close Adapter";

// Each column is as wide as its heading plus room for its texts.
constexpr int kIndexMargin = 25;  // px
constexpr int kTextMargin = 300;  // px

}  // namespace

DlgPelorinAdapters::DlgPelorinAdapters(Window* parent, const _PelorinWinCapAdapter* current)
    : Dialog(MakeTemplate(), parent), m_current(current) {}

DlgPelorinAdapters::~DlgPelorinAdapters() { DestroyWindow(); }

DialogTemplate DlgPelorinAdapters::MakeTemplate() {
  return DialogTemplate{"Network Interfaces", 362, 142, "MS Sans Serif", 8,
                        {GroupItem("Adapters", 4, 1, 352, 117),
                         ReportListItem(IDC_LIST_ADAPTERS, 9, 12, 341, 100, LVS_SINGLESEL),
                         DefPushButtonItem(IDOK, "OK", 252, 121, 50, 14),
                         PushButtonItem(IDCANCEL, "Cancel", 305, 121, 50, 14)}};
}

ListControl* DlgPelorinAdapters::List() const { return GetDlgItemAs<ListControl>(IDC_LIST_ADAPTERS); }

void DlgPelorinAdapters::ListCreate() {
  ListControl* list = List();
  if (list == nullptr) return;
  list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  // Sub-item 1 holds the description and sub-item 2 the device name, in that visual order.
  list->InsertColumn(0, "Adapter #", LVCFMT_LEFT, list->GetStringWidth("Adapter #") + kIndexMargin);
  list->InsertColumn(1, "Description", LVCFMT_LEFT, list->GetStringWidth("Description") + kTextMargin);
  list->InsertColumn(2, "Adapter", LVCFMT_LEFT, list->GetStringWidth("Adapter") + kTextMargin);
}

int DlgPelorinAdapters::AdaptersShow() {
  ListControl* list = List();
  if (list == nullptr) return 0;
  list->DeleteAllItems();
  int listed = 0;
  int chosenRow = -1;
  {
    PelorinWinCapAdapters adapters;  // the device list lives as long as this walk
    for (_PelorinWinCapAdapter* adapter = adapters.AdaptersGetFirst(1); adapter != nullptr;
         adapter = adapters.AdaptersGetNext(1)) {
      if (IsAdapterSkip(adapter)) continue;
      const int row = list->InsertItem(list->GetItemCount(), std::to_string(adapter->index));
      if (row < 0) continue;
      list->SetItemText(row, 1, GetFieldText(adapter->description));
      list->SetItemText(row, 2, GetFieldText(adapter->name));
      ++listed;
      if (m_current != nullptr && m_current->index >= 0 && m_current->index == adapter->index) {
        chosenRow = row;
        m_adapter = *adapter;
      }
    }
  }
  const int closeRow = list->InsertItem(list->GetItemCount(), "-1");
  if (closeRow >= 0) {
    list->SetItemText(closeRow, 1, kCloseAdapter);
    list->SetItemText(closeRow, 2, kCloseAdapter);
  }
  if (chosenRow < 0) {
    chosenRow = closeRow;
    m_adapter = _PelorinWinCapAdapter{};
    m_adapter.index = -1;
    SetFieldText(m_adapter.name, kCloseAdapter);
    SetFieldText(m_adapter.description, kCloseAdapter);
  }
  if (chosenRow >= 0) {
    list->SetItemState(chosenRow, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    list->EnsureVisible(chosenRow, false);
  }
  return listed;
}

bool DlgPelorinAdapters::OnInitDialog() {
  BeginWaitCursor();
  ListCreate();
  if (ListControl* list = List()) list->SetFocus();
  AdaptersShow();
  EndWaitCursor();
  return false;  // the list has the focus already
}

bool DlgPelorinAdapters::TakeRow(int row) {
  ListControl* list = List();
  if (list == nullptr || row < 0 || row >= list->GetItemCount()) return false;
  const std::string index = list->GetItemText(row, 0);
  int value = 0;
  std::from_chars(index.data(), index.data() + index.size(), value);
  m_adapter = _PelorinWinCapAdapter{};
  m_adapter.index = value;
  SetFieldText(m_adapter.description, list->GetItemText(row, 1));
  SetFieldText(m_adapter.name, list->GetItemText(row, 2));
  return true;
}

void DlgPelorinAdapters::OnClickListAdapters(const ListNotify& notify, LRESULT* result) {
  // A click beside the rows leaves the choice as it was.
  TakeRow(notify.iItem);
  if (result != nullptr) *result = 0;
}

void DlgPelorinAdapters::OnDblclkListAdapters(const ListNotify& notify, LRESULT* result) {
  if (TakeRow(notify.iItem)) PostMessage(WM_COMMAND, static_cast<WPARAM>(IDOK), 0);
  if (result != nullptr) *result = 0;
}

void DlgPelorinAdapters::OnOK() { EndDialog(IDOK); }

void DlgPelorinAdapters::OnCancel() { EndDialog(IDCANCEL); }

bool DlgPelorinAdapters::OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) {
  if (controlId != IDC_LIST_ADAPTERS) return Dialog::OnNotify(controlId, code, notify, result);
  switch (code) {
    case NM_CLICK:
      OnClickListAdapters(notify, result);
      return true;
    case NM_DBLCLK:
      OnDblclkListAdapters(notify, result);
      return true;
    case LVN_ITEMCHANGED:
      // A row chosen with the arrow keys is the choice as much as a clicked one, so OK never
      // returns another row than the one the user sees selected.
      if ((notify.uNewState & LVIS_SELECTED) != 0 && (notify.uOldState & LVIS_SELECTED) == 0) TakeRow(notify.iItem);
      return true;
    default:
      return false;
  }
}

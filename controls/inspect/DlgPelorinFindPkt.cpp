#include "controls/inspect/DlgPelorinFindPkt.h"

#include <algorithm>

#include "controls/inspect/DlgPelorinIpView.h"
#include "ui/ListControl.h"

DlgPelorinFindPkt::DlgPelorinFindPkt(Window* parent) : DlgPelorinFind(parent) {}

DlgPelorinFindPkt::DlgPelorinFindPkt(Window* parent, AppProfile* application, const std::string& logPath, LONG pageSize)
    : DlgPelorinFind(parent, application, logPath, pageSize), m_application(application) {}

// The views hold this window as their opening list: they go first.
DlgPelorinFindPkt::~DlgPelorinFindPkt() { ListDlgCloseAll(); }

void DlgPelorinFindPkt::OnDblclkListPackets(const ListNotify& notify, LRESULT* result) {
  DlgPelorinFind::OnDblclkListPackets(notify, result);
  if (notify.iItem >= 0) FindIpView();  // not a double click beside the rows
}

void DlgPelorinFindPkt::FindIpView() {
  ListControl* list = GetResultList();
  const int row = CurrentRow();
  if (list == nullptr || row < 0 || list->GetItemText(row, 0) == kNoLog) return;
  auto view = std::make_unique<DlgPelorinIpView>(this, m_application, LogGet(), this);
  if (!view->IsCreated()) return;
  view->OnInitStartup();
  m_views.push_back(std::move(view));
}

int DlgPelorinFindPkt::CurrentRow() const {
  ListControl* list = GetResultList();
  if (list == nullptr) return -1;
  const int selected = list->GetNextItem(-1, LVNI_SELECTED);
  if (selected >= 0) return selected;
  const int clicked = GetSelectedRow();
  return clicked < list->GetItemCount() ? clicked : -1;
}

void DlgPelorinFindPkt::SelectRow(int row) {
  ListControl* list = GetResultList();
  if (list == nullptr || row < 0 || row >= list->GetItemCount()) return;
  list->SetItemState(-1, 0, LVIS_SELECTED);
  list->SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  list->EnsureVisible(row, false);
}

void DlgPelorinFindPkt::ListDlgClose(Window* window) {
  const auto found =
      std::find_if(m_views.begin(), m_views.end(),
                   [window](const std::unique_ptr<DlgPelorinIpView>& view) { return view.get() == window; });
  if (found != m_views.end()) m_views.erase(found);
}

void DlgPelorinFindPkt::ListDlgCloseAll() { m_views.clear(); }

void DlgPelorinFindPkt::OnClose() {
  ListDlgCloseAll();
  DlgPelorinFind::OnClose();
}

void DlgPelorinFindPkt::OnCancel() {
  ListDlgCloseAll();
  DlgPelorinFind::OnCancel();
}

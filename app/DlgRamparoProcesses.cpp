#include "app/DlgRamparoProcesses.h"

#include "ui/UiServices.h"

namespace {
constexpr int kRunningGroup = 1412;
}  // namespace

DlgRamparoProcesses::DlgRamparoProcesses(Window* parent, std::string processFile)
    : Dialog(MakeTemplate(), parent), m_processFile(std::move(processFile)) {
  MapCommand(IDC_BUTTON_REFRESH, [this] {
    WaitCursor wait;
    if (m_view) m_view->Refresh();
  });
}

DlgRamparoProcesses::~DlgRamparoProcesses() {
  DestroyWindow();
  m_view.reset();
}

DialogTemplate DlgRamparoProcesses::MakeTemplate() {
  return DialogTemplate{
      "Processes",
      440,
      250,
      "MS Sans Serif",
      8,
      {GroupItem("Running", 4, 2, 432, 222, kRunningGroup),
       PushButtonItem(IDC_BUTTON_REFRESH, "Refresh", 266, 230, 50, 14), DefPushButtonItem(IDOK, "OK", 324, 230, 50, 14),
       PushButtonItem(IDCANCEL, "Cancel", 382, 230, 50, 14)}};
}

bool DlgRamparoProcesses::OnInitDialog() {
  WaitCursor wait;
  // The list lies over the client area inside the "Running" group.
  const Rect area = MapDialogRect(Rect{9, 12, 431, 219});
  m_view = std::make_unique<CRamparoListView>();
  if (!m_view->CreateView(this, IDC_LIST_PROCESSES, area)) {
    m_view.reset();
    return true;
  }
  m_view->ShowWindow(SW_SHOW);
  if (!m_view->SetProcessFile(m_processFile))
    MessageBox(this, CRamparoListView::UnreadText(m_processFile), CRamparoListView::kCaption, MB_OK);
  m_view->Refresh();
  return true;
}

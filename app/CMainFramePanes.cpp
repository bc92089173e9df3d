// The panes of the main frame: made on first show, hidden and shown again, started and stopped
// together.
#include "app/CMainFrame.h"
#include "app/MenuIds.h"
#include "controls/connections/MonListMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "ui/UiServices.h"

namespace {

constexpr UINT kPaneIds[kPaneCount] = {1024, 1027, 1025, 1026};  // connections, packets, protocol, IP
constexpr UINT kPaneCommands[kPaneCount] = {ID_VIEW_CONNECTIONS, ID_VIEW_PACKETS, ID_VIEW_PROTOCOL_STATS,
                                            ID_VIEW_IP_STATS};
// The order in which scanning starts and stops.
constexpr Pane kScanOrder[] = {Pane::Connections, Pane::ProtocolStats, Pane::IpStats, Pane::Packets};

template <class PaneClass>
std::unique_ptr<PelorinCListView> Created(std::unique_ptr<PaneClass> pane, Window* parent, UINT id, const Rect& client) {
  if (pane->MonListCreate(parent, id, client) != 0 || !pane->IsCreated()) return nullptr;
  return pane;
}

}  // namespace

MonListMon* CMainFrame::Connections() const { return dynamic_cast<MonListMon*>(GetPane(Pane::Connections)); }
MonListIpMon* CMainFrame::Packets() const { return dynamic_cast<MonListIpMon*>(GetPane(Pane::Packets)); }
MonListStat* CMainFrame::ProtocolStats() const { return dynamic_cast<MonListStat*>(GetPane(Pane::ProtocolStats)); }
MonListStatIp* CMainFrame::IpStats() const { return dynamic_cast<MonListStatIp*>(GetPane(Pane::IpStats)); }

std::unique_ptr<PelorinCListView> CMainFrame::MakePane(Pane pane, const Rect& client) {
  const UINT id = kPaneIds[Index(pane)];
  switch (pane) {
    case Pane::Connections:
      return Created(std::make_unique<MonListMon>(m_application, m_registryPath, kTitle), this, id, client);
    case Pane::Packets:
      return Created(std::make_unique<MonListIpMon>(m_application, m_registryPath, kTitle), this, id, client);
    case Pane::ProtocolStats:
      return Created(std::make_unique<MonListStat>(m_application, kTitle), this, id, client);
    case Pane::IpStats:
      return Created(std::make_unique<MonListStatIp>(m_application, kTitle), this, id, client);
  }
  return nullptr;
}

bool CMainFrame::CheckAdapter() {
  m_currentAdapter = m_application->GetProfileInt("", "AdapterCurr", 0);
  if (m_currentAdapter >= 0) return true;
  ShowNoAdapter();
  return false;
}

void CMainFrame::OnViewPane(Pane pane) {
  WaitCursor wait;
  if (pane == Pane::Packets && !CheckAdapter()) {
    // Without an adapter the packet pane is never made; one that exists may still be hidden.
    if (GetPane(pane) == nullptr) return;
  }
  const std::size_t index = Index(pane);
  if (GetPane(pane) == nullptr) {
    CreatePane(pane);
  } else if (m_visiblePanes >= 2 && !m_hidden[index]) {
    HidePane(pane);
    if (!m_scanning) SetStartStopText(kStartText);
  } else if (m_hidden[index]) {
    ReshowPane(pane);
    if (!m_scanning) SetStartStopText(kStartText);
  }
  StackPanes();
}

void CMainFrame::CreatePane(Pane pane) {
  if (Menu* menu = GetMenu()) menu->CheckMenuItem(kPaneCommands[Index(pane)], MF_CHECKED);
  if (m_scanning) SetStartStopText(kStopText);
  std::unique_ptr<PelorinCListView> view = MakePane(pane, GetClientRect());
  if (!view) {
    // A pane that cannot be made stays absent; the frame goes on without it.
    if (Menu* menu = GetMenu()) menu->CheckMenuItem(kPaneCommands[Index(pane)], MF_UNCHECKED);
    return;
  }
  view->ListCreateFont(10, "Courier New");
  m_panes[Index(pane)] = std::move(view);
  m_hidden[Index(pane)] = false;
  ++m_visiblePanes;
  if (m_scanning && !m_firstStartPending) GetPane(pane)->ListStart();
}

void CMainFrame::HidePane(Pane pane) {
  PelorinCListView* view = GetPane(pane);
  m_hidden[Index(pane)] = true;
  view->ListStop();
  --m_visiblePanes;
  view->ShowWindow(SW_HIDE);
  if (pane == Pane::Packets) CloseFiltersWindow();
}

void CMainFrame::ReshowPane(Pane pane) {
  PelorinCListView* view = GetPane(pane);
  m_hidden[Index(pane)] = false;
  if (m_scanning) {
    // The connections pane starts over: what it showed is stale after the pause.
    if (pane == Pane::Connections) view->ListDeleteAll();
    view->ListStart();
  }
  ++m_visiblePanes;
}

void CMainFrame::OnScanStartStop() {
  SetMessageText(kReadyText);
  if (GetStartStopText() == kStopText) {
    for (Pane pane : kScanOrder)
      if (IsPaneVisible(pane)) GetPane(pane)->ListStop();
    SetStartStopText(kStartText);
    m_scanning = false;
  } else {
    SetStartStopText(kStopText);
    for (Pane pane : kScanOrder) {
      if (!IsPaneVisible(pane)) continue;
      if (pane == Pane::Packets) {
        if (MonListIpMonCWinThread* thread = Packets()->GetCaptureThread())
          thread->SetMonitorExclusive(m_monitorExclusive ? 1 : 0);
      }
      GetPane(pane)->ListStart();
    }
    m_scanning = true;
  }
  if (m_firstStartPending && Connections() != nullptr) {
    m_showCurrentOnly = true;
    if (Menu* menu = GetMenu()) menu->CheckMenuItem(ID_VIEW_SHOW_CURRENT_ONLY, MF_CHECKED);
    Connections()->SetShowCurrentOnly(1);
  }
  m_firstStartPending = false;
}

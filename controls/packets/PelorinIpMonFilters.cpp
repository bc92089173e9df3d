#include "controls/packets/PelorinIpMonFilters.h"

#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"

PelorinIpMonFilters::PelorinIpMonFilters(Window* parent, AppProfile* app, MonListIpMon* monitorList,
                                         const std::string& registryPath)
    : DlgPelorinFilters(parent, app, monitorList, registryPath), m_list(monitorList) {}

void PelorinIpMonFilters::OnButtonApply() {
  CriticalSectionLock lock(ApplyLock());
  const HRESULT saved = SaveFilters();
  ReportFailure(saved, "Apply");
  if (saved != S_OK || m_list == nullptr) return;
  // The thread reloads under its filters lock, so no packet meets a half-loaded set.
  MonListIpMonCWinThread* thread = m_list->GetCaptureThread();
  if (thread && thread->IsStart()) thread->LoadFilters();
}

// The packet pane's Log Pages and Find commands: a page or a record of the packet log is chosen
// in a dialog, and the pane is reloaded from there. Find's result rows also open packet views,
// which close with it.
#include <string>

#include "app/CMainFrame.h"
#include "controls/inspect/DlgPelorinFindPkt.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "wincap/DlgPelorinLogPages.h"
#include "wincap/LogPageSize.h"

namespace {

// The page size the pane's thread was given, so the dialogs count pages as the pane shows them.
LONG PageSize(const AppProfile& application) {
  return ClampLogPageSize(application.GetProfileInt("", "LogPageSize", kLogPageSizeDefault));
}

}  // namespace

void CMainFrame::OnPacketLogPages() {
  if (!IsPaneVisible(Pane::Packets) || !IsPacketThreadIdle()) return;
  DlgPelorinLogPages dialog(this, Packets()->GetCaptureThread()->LogGet(), PageSize(*m_application));
  if (dialog.DoModal() == IDCANCEL) return;
  if (const auto page = dialog.GetSelectedPage()) LoadPacketPage(page->page, page->position, dialog.GetSelectedFile());
}

void CMainFrame::OnPacketFind() {
  if (!IsPaneVisible(Pane::Packets) || !IsPacketThreadIdle()) return;
  DlgPelorinFindPkt dialog(this, m_application, Packets()->GetCaptureThread()->LogGet(), PageSize(*m_application));
  dialog.DoModal();
  // "Load From" keeps its row; Done leaves nothing selected.
  if (const auto found = dialog.GetSelectedPage())
    LoadPacketPage(found->page, found->position, dialog.GetSelectedFile());
}

void CMainFrame::LoadPacketPage(LONG page, LONG position, std::uint32_t file) {
  SetMessageText("Page :" + std::to_string(page) + " - File Pos. :" + std::to_string(position));
  // The thread seeks to the position when it handles the reload and sets it back to -1 itself.
  Packets()->GetCaptureThread()->SetLoadStart(position, file);
  OnViewLoadLog();
}

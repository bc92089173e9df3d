#include "controls/packets/DlgPacketLogExport.h"

#include <filesystem>
#include <mutex>

#include "controls/packets/MonListIpMonCWinThread.h"
#include "ui/ProgressBar.h"
#include "ui/UiServices.h"

namespace {
constexpr UINT kProgressTimer = 1;
constexpr UINT kProgressMs = 100;  // how often the shown progress follows the export
}  // namespace

DlgPacketLogExport::DlgPacketLogExport(Window* parent, std::string logPath, std::string outPath)
    : Dialog(MakeTemplate(), parent), m_logPath(std::move(logPath)), m_outPath(std::move(outPath)) {}

DlgPacketLogExport::~DlgPacketLogExport() {
  Finish();
  DestroyWindow();
}

DialogTemplate DlgPacketLogExport::MakeTemplate() {
  return DialogTemplate{
      kCaption,
      220,
      74,
      "MS Sans Serif",
      8,
      {LabelItem("Exporting the packet log...", 10, 8, 200, 8), ProgressItem(IDC_PROGRESS, 10, 20, 200, 10),
       LabelItem("", 10, 34, 200, 8, IDC_STATIC_PROGRESS), PushButtonItem(IDCANCEL, "Cancel", 85, 52, 50, 14)}};
}

void DlgPacketLogExport::Run(Window* parent, MonListIpMonCWinThread& thread) {
  const std::string logPath = thread.LogGet();
  FileDialogRequest request;
  request.open = false;
  request.title = kCaption;
  request.filter = kFilter;
  request.defaultExt = "pcapng";
  request.fileName = std::filesystem::path(logPath).stem().string() + ".pcapng";
  request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
  std::string outPath;
  if (!UiServices::Current().FileDialog(parent, request, &outPath) || outPath.empty()) return;
  MessageBox(parent, Describe(Export(parent, thread, outPath), outPath), kCaption, MB_OK);
}

PacketLogExport::Result DlgPacketLogExport::Export(Window* parent, MonListIpMonCWinThread& thread,
                                                   const std::string& outPath) {
  // Taking the log lock writes out the records still gathered, so the export finds them all.
  { std::lock_guard<PacketLogLock> lock(thread.GetLogLock()); }
  DlgPacketLogExport dialog(parent, thread.LogGet(), outPath);
  dialog.DoModal();
  return dialog.GetResult();
}

std::string DlgPacketLogExport::Describe(const PacketLogExport::Result& result, const std::string& outPath) {
  if (!result.written) return result.error.empty() ? "The export was cancelled." : result.error;
  std::string text =
      std::to_string(result.records) + " packet" + (result.records == 1 ? "" : "s") + " exported to " + outPath + ".";
  if (result.stoppedEarly)
    text += "\nThe log is damaged at byte offset " + std::to_string(result.stoppedAt) +
            (result.stoppedFile == 0 ? std::string() : " of its file " + std::to_string(result.stoppedFile)) +
            "; the records after it in that file were not exported.";
  return text;
}

bool DlgPacketLogExport::OnInitDialog() {
  const HWND self = GetSafeHwnd();
  // The worker touches no window: it counts its progress and posts its end by handle, which is
  // dropped when the dialog has gone.
  m_worker = std::thread([this, self] {
    m_result = m_export.Run(m_logPath, m_outPath);
    ::PostMessage(self, WM_COMMAND, IDOK, 0);
  });
  SetTimer(kProgressTimer, kProgressMs);
  return true;
}

void DlgPacketLogExport::OnTimer(UINT id) {
  if (id != kProgressTimer) return;
  const std::int64_t total = m_export.total.load();
  const std::int64_t done = m_export.done.load();
  const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
  if (auto* bar = dynamic_cast<ProgressBar*>(GetDlgItem(IDC_PROGRESS))) bar->SetPos(percent);
  SetDlgItemText(IDC_STATIC_PROGRESS, std::to_string(done) + " of " + std::to_string(total) + " bytes");
}

void DlgPacketLogExport::OnOK() {
  KillTimer(kProgressTimer);
  Finish();
  EndDialog(IDOK);
}

void DlgPacketLogExport::OnCancel() {
  // The export stops before its next record; its end closes the dialog.
  m_export.cancel.store(true);
  SetDlgItemText(IDC_STATIC_PROGRESS, "Giving up...");
  if (Window* cancel = GetDlgItem(IDCANCEL)) cancel->EnableWindow(false);
}

void DlgPacketLogExport::Finish() {
  if (!m_worker.joinable()) return;
  m_worker.join();
}

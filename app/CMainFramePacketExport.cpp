// File > "Export Packet Log..." and "Import Capture File...": the packet log to and from the
// capture files other tools read.
#include "app/CMainFrame.h"
#include "app/MenuIds.h"
#include "controls/packets/CaptureFileImport.h"
#include "controls/packets/DlgPacketLogExport.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "ui/UiServices.h"

namespace {
constexpr char kImportCaption[] = "Import Capture File";
constexpr char kImportFilter[] = "Capture Files (*.pcap;*.pcapng)|*.pcap;*.pcapng|All Files (*.*)|*.*||";
}  // namespace

void CMainFrame::MapPacketExportCommands() {
  MapCommand(ID_FILE_EXPORT_PACKET_LOG, [this] { OnFileExportPacketLog(); });
  MapCommand(ID_FILE_IMPORT_CAPTURE, [this] { OnFileImportCaptureFile(); });
  MapUpdate(ID_FILE_EXPORT_PACKET_LOG, [this](CmdUI& cmd) { cmd.Enable(Packets() != nullptr); });
  // Imported records go between captured ones only while capture is stopped.
  MapUpdate(ID_FILE_IMPORT_CAPTURE,
            [this](CmdUI& cmd) { cmd.Enable(IsPaneVisible(Pane::Packets) && IsPacketThreadIdle()); });
}

void CMainFrame::OnFileExportPacketLog() {
  if (Packets() == nullptr) return;
  MonListIpMonCWinThread* thread = Packets()->GetCaptureThread();
  if (thread == nullptr) return;
  DlgPacketLogExport::Run(this, *thread);
}

void CMainFrame::OnFileImportCaptureFile() {
  if (!IsPaneVisible(Pane::Packets) || !IsPacketThreadIdle()) return;
  FileDialogRequest request;
  request.title = kImportCaption;
  request.filter = kImportFilter;
  request.flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  std::string path;
  if (!UiServices::Current().FileDialog(this, request, &path) || path.empty()) return;
  CaptureFileImport::Result result;
  {
    WaitCursor wait;
    result = CaptureFileImport::Run(*Packets()->GetCaptureThread(), path);
    if (result.imported > 0) Packets()->LoadLastLog(result.firstPosition);
  }
  MessageBox(this, CaptureFileImport::Describe(result), kImportCaption,
             result.status == CaptureFileReader::Status::End ? MB_OK : MB_OK | MB_ICONEXCLAMATION);
}

#pragma once
#include <string>
#include <thread>

#include "ui/Dialog.h"
#include "wincap/PacketLogExport.h"

class MonListIpMonCWinThread;

// Exports a packet log (or a connection link file) to pcapng while showing how far it has come.
// The export runs on a worker thread, so the program keeps painting however long the log is;
// Cancel gives up and leaves nothing under the chosen name.
class DlgPacketLogExport : public Dialog {
 public:
  static constexpr int IDC_STATIC_PROGRESS = 1421;
  static constexpr int IDC_PROGRESS = 1422;
  static constexpr char kCaption[] = "Export Packet Log";
  static constexpr char kFilter[] = "pcapng Capture Files (*.pcapng)|*.pcapng|All Files (*.*)|*.*||";

  DlgPacketLogExport(Window* parent, std::string logPath, std::string outPath);
  ~DlgPacketLogExport() override;

  // The whole command on a capture thread's log (LogGet: the packet log, or a link monitor's
  // file): asks for the file (proposing the log's name with ".pcapng"), exports with this
  // dialog and reports the outcome in a message box.
  static void Run(Window* parent, MonListIpMonCWinThread& thread);
  // Exports the thread's log to outPath under this dialog, asking nothing; the outcome.
  static PacketLogExport::Result Export(Window* parent, MonListIpMonCWinThread& thread, const std::string& outPath);

  static DialogTemplate MakeTemplate();
  bool OnInitDialog() override;
  void OnOK() override;      // the export has ended
  void OnCancel() override;  // the user gives up

  // After DoModal: the outcome, once the worker has ended (however the dialog was closed).
  const PacketLogExport::Result& GetResult() {
    Finish();
    return m_result;
  }
  // The lines of the message box that reports a finished export.
  static std::string Describe(const PacketLogExport::Result& result, const std::string& outPath);

 protected:
  void OnTimer(UINT id) override;

 private:
  void Finish();

  std::string m_logPath;
  std::string m_outPath;
  PacketLogExport m_export;
  PacketLogExport::Result m_result;
  std::thread m_worker;
};

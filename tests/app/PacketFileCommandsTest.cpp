// File > "Import Capture File..." and "Export Packet Log..." in the running frame: a replay capture
// imported into the pane and exported again, as the user meets them through the dialogs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "app/CPelorinProApp.h"
#include "app/MenuIds.h"
#include "common/ShowPacketReceivePackIp.h"
#include "controls/packets/DlgPacketLogExport.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"
#include "wincap/CaptureFileReader.h"

TEST(PacketFileCommands, ImportFillsThePaneAndExportWritesItBack) {
  char pattern[] = "/tmp/pelorin-files-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/";
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  setenv("PELORIN_REGISTRY", (folder + "registry.reg").c_str(), 1);
  UiPump::Instance().AttachToCurrentThread();
  ScriptedServices script;
  AppProfile profile{"DunmereIncProducts\\Setup", "PelorinPro"};
  profile.WriteProfileString("", "Layout", "16");  // the packet pane alone
  profile.WriteProfileInt("", "AdapterCurr", 0);
  profile.WriteProfileString("", "AdapterCurrName", "lo");
  {
    CPelorinProApp app;
    CMainFrame* frame = app.InitInstance();
    UiPump::Instance().PumpPending();
    MonListIpMon* pane = frame->Packets();
    ASSERT_NE(pane, nullptr);
    // The capture thread opens the log as it starts.
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetCaptureThread()->IsLogOpen() != 0; }, 5000));
    const std::string capture = std::string(PELORIN_TESTDATA) + "/pcap/zeek-http-get.pcap";
    CaptureFileReader reader;
    CaptureFileReader::Frame f;
    ASSERT_EQ(reader.Open(capture), CaptureFileReader::Status::Frame);
    while (reader.Next(f) == CaptureFileReader::Status::Frame) {
    }
    const auto frames = static_cast<int>(reader.FramesRead());

    script.AnswerFileDialog(capture);
    ASSERT_TRUE(frame->GetMenu()->Choose(ID_FILE_IMPORT_CAPTURE, frame));
    ASSERT_FALSE(script.Messages().empty());
    EXPECT_EQ(script.Messages().back().text, std::to_string(frames) + " frames imported into the packet log.");
    EXPECT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetItemCount() == frames; }, 5000));
    EXPECT_EQ(pane->GetItemText(0, 7), "Log");

    // The export asks for a name next to the log's and runs under its progress dialog.
    const std::string out = folder + "http.pcapng";
    script.AnswerFileDialog(out);
    script.OnNextModal([](Dialog&) {});  // the export's end closes it
    ASSERT_TRUE(frame->GetMenu()->Choose(ID_FILE_EXPORT_PACKET_LOG, frame));
    EXPECT_EQ(script.FileDialogs().back().fileName, "PelorinProLogPkt.pcapng");
    EXPECT_EQ(script.ModalCaptions().back(), DlgPacketLogExport::kCaption);
    EXPECT_EQ(script.Messages().back().text, std::to_string(frames) + " packets exported to " + out + ".");
    CaptureFileReader back;
    ASSERT_EQ(back.Open(out), CaptureFileReader::Status::Frame);
    while (back.Next(f) == CaptureFileReader::Status::Frame) {
    }
    EXPECT_EQ(back.FramesRead(), reader.FramesRead());
    EXPECT_TRUE(back.ErrorText().empty()) << back.ErrorText();
  }
  UiPump::Instance().PumpPending();
  std::filesystem::current_path(previous);
  unsetenv("PELORIN_REGISTRY");
  std::filesystem::remove_all(folder);
}

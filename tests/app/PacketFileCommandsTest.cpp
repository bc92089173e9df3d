// File > "Import Capture File..." and "Export Packet Log..." in the running frame, and the packet
// pane's "Open in Wireshark": a replay capture imported into the pane and handed on again, as the
// user meets them through the dialogs and menus.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/CPelorinProApp.h"
#include "app/MainMenu.h"
#include "app/MenuIds.h"
#include "common/ShowPacketReceivePackIp.h"
#include "controls/packets/DlgPacketLogExport.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/packets/WiresharkHandoff.h"
#include "ui/Menu.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"
#include "wincap/CaptureFileReader.h"

namespace {

constexpr char kCapture[] = "/pcap/zeek-http-get.pcap";

std::vector<std::vector<std::uint8_t>> Frames(const std::string& path) {
  std::vector<std::vector<std::uint8_t>> frames;
  CaptureFileReader reader;
  CaptureFileReader::Frame f;
  if (reader.Open(path) != CaptureFileReader::Status::Frame) return frames;
  while (reader.Next(f) == CaptureFileReader::Status::Frame) frames.emplace_back(f.data, f.data + f.length);
  return frames;
}

// The running frame in a folder of its own, the packet pane alone on "lo", with a replay capture
// imported into it through File > "Import Capture File...".
class PacketFileCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelorin-files-XXXXXX";
    folder = std::string(mkdtemp(pattern)) + "/";
    m_previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    setenv("PELORIN_REGISTRY", (folder + "registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
    AppProfile profile{"DunmereIncProducts\\Setup", "PelorinPro"};
    profile.WriteProfileString("", "Layout", "16");  // the packet pane alone
    profile.WriteProfileInt("", "AdapterCurr", 0);
    profile.WriteProfileString("", "AdapterCurrName", "lo");
    m_app = std::make_unique<CPelorinProApp>();
    frame = m_app->InitInstance();
    UiPump::Instance().PumpPending();
    pane = frame->Packets();
    ASSERT_NE(pane, nullptr);
    // The capture thread opens the log as it starts.
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetCaptureThread()->IsLogOpen() != 0; }, 5000));
    frames = Frames(capture);
    ASSERT_FALSE(frames.empty());
    script.AnswerFileDialog(capture);
    ASSERT_TRUE(frame->GetMenu()->Choose(ID_FILE_IMPORT_CAPTURE, frame));
    ASSERT_FALSE(script.Messages().empty());
    EXPECT_EQ(script.Messages().back().text, std::to_string(frames.size()) + " frames imported into the packet log.");
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return pane->GetItemCount() == static_cast<int>(frames.size()); }, 5000));
    EXPECT_EQ(pane->GetItemText(0, 7), "Log");
  }
  void TearDown() override {
    m_app.reset();
    UiPump::Instance().PumpPending();
    std::filesystem::current_path(m_previous);
    unsetenv("PELORIN_REGISTRY");
    std::filesystem::remove_all(folder);
  }

  ScriptedServices script;
  const std::string capture = std::string(PELORIN_TESTDATA) + kCapture;
  std::vector<std::vector<std::uint8_t>> frames;
  CMainFrame* frame = nullptr;
  MonListIpMon* pane = nullptr;
  std::string folder;

 private:
  std::filesystem::path m_previous;
  std::unique_ptr<CPelorinProApp> m_app;
};

}  // namespace

TEST_F(PacketFileCommands, ImportFillsThePaneAndExportWritesItBack) {
  CaptureFileReader::Frame f;
  // The export asks for a name next to the log's and runs under its progress dialog.
  const std::string out = folder + "http.pcapng";
  script.AnswerFileDialog(out);
  script.OnNextModal([](Dialog&) {});  // the export's end closes it
  ASSERT_TRUE(frame->GetMenu()->Choose(ID_FILE_EXPORT_PACKET_LOG, frame));
  EXPECT_EQ(script.FileDialogs().back().fileName, "PelorinProLogPkt.pcapng");
  EXPECT_EQ(script.ModalCaptions().back(), DlgPacketLogExport::kCaption);
  EXPECT_EQ(script.Messages().back().text, std::to_string(frames.size()) + " packets exported to " + out + ".");
  CaptureFileReader back;
  ASSERT_EQ(back.Open(out), CaptureFileReader::Status::Frame);
  while (back.Next(f) == CaptureFileReader::Status::Frame) {
  }
  EXPECT_EQ(back.FramesRead(), frames.size());
  EXPECT_TRUE(back.ErrorText().empty()) << back.ErrorText();
}

// The dissector is played by a program of the test's own on PATH that keeps a copy of the file
// it is handed, the mode of the folder holding it, and that folder's name.
TEST_F(PacketFileCommands, OpenInWiresharkHandsThePickedPacketsToTheDissectorInAPrivateFile) {
  const std::string bin = folder + "bin";
  const std::string seen = folder + "seen/";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(seen);
  {
    std::ofstream program(bin + "/wireshark");
    program << "#!/bin/sh\n[ \"$1\" = -r ] || exit 2\nname=$(/usr/bin/basename \"$2\")\n"
            << "/bin/cp \"$2\" " << seen << "\"$name\"\n"
            << "/usr/bin/stat -c %a \"$(/usr/bin/dirname \"$2\")\" > " << seen << "\"$name.mode\"\n"
            << "/usr/bin/dirname \"$2\" > " << seen << "\"$name.dir\"\n";
  }
  std::filesystem::permissions(bin + "/wireshark", std::filesystem::perms::owner_all);
  const std::string path = getenv("PATH");

  // Not installed: the sub-menu is grayed and its tooltip tells what to install.
  setenv("PATH", (folder + "seen").c_str(), 1);
  {
    auto menu = BuildPacketsContextMenu();
    const Menu::Item* item = nullptr;
    for (const Menu::Item& candidate : menu->Items())
      if (candidate.text == WiresharkHandoff::kMenuText) item = &candidate;
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item->flags & MF_GRAYED, 0u);
    EXPECT_EQ(item->toolTip, WiresharkHandoff::kNotInstalledTip);
  }
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  auto menu = BuildPacketsContextMenu();
  EXPECT_EQ(menu->GetMenuState(WiresharkHandoff::kSelectedId, MF_BYCOMMAND) & MF_GRAYED, 0u);
  // With no row selected there is nothing to hand over.
  EXPECT_FALSE(menu->Choose(WiresharkHandoff::kSelectedId, frame));

  const auto handed = [&](const std::string& name) {
    // The program writes the folder's name last; the folder goes once the program has ended.
    std::string dir;
    EXPECT_TRUE(UiPump::Instance().PumpUntil(
        [&] {
          std::ifstream(seen + name + ".dir") >> dir;
          return !dir.empty() && !std::filesystem::exists(dir);
        },
        10000))
        << name;
    std::string mode;
    std::ifstream(seen + name + ".mode") >> mode;
    EXPECT_EQ(mode, "700") << name;
    return Frames(seen + name);
  };
  pane->SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
  ASSERT_TRUE(menu->Choose(WiresharkHandoff::kSelectedId, frame));
  EXPECT_EQ(handed("PelorinProLogPkt-selected.pcapng"), std::vector<std::vector<std::uint8_t>>{frames[3]});

  ASSERT_TRUE(menu->Choose(WiresharkHandoff::kPageId, frame));
  EXPECT_EQ(handed("PelorinProLogPkt-page.pcapng"), frames);

  script.OnNextModal([](Dialog&) {});  // the export's end closes its progress dialog
  ASSERT_TRUE(menu->Choose(WiresharkHandoff::kLogId, frame));
  EXPECT_EQ(handed("PelorinProLogPkt.pcapng"), frames);
  setenv("PATH", path.c_str(), 1);
}

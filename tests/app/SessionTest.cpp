// The session and rule-folder commands of the File menu on the real panes: logs written into a
// session folder, reloaded from it and back on the defaults; the names refused; the rule folders
// handed to the engine's key and the rule editor.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "MainFrameTestSupport.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/framework/DlgPelorinDirSelect.h"

namespace frame_test {
namespace {

using Dir = DlgPelorinDirSelect;

class SessionTest : public MainFrameTest {
 protected:
  // Answers the next folder chooser by typing a name and pressing OK.
  void TypeFolder(const std::string& name) {
    m_script.OnNextModal([name](Dialog& d) {
      d.TypeInto(Dir::IDC_EDIT_CREATE, name);
      d.ClickButton(IDOK);
    });
  }
  std::uintmax_t Size(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
  }
  // Datagrams to a closed loopback port, for the packet monitor capturing on "lo".
  static void SendLoopback(int count) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) ::sendto(fd, "session", 7, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
  }
};

TEST_F(SessionTest, LogsGoToTheSessionFolderAreReloadedFromItAndGoBackToTheDefaults) {
  CMainFrame* frame = Start("18", 0);
  const std::string session = m_folder + "SessionLogs/monday/";
  TypeFolder("monday.rec");
  ASSERT_TRUE(Choose(frame, ID_FILE_SESSION_SELECT));
  ASSERT_TRUE(std::filesystem::is_directory(session));
  EXPECT_EQ(m_profile.GetProfileString("", "IpMonLogCurrent"), session + "PelorinProLogPkt.rec");
  EXPECT_EQ(m_profile.GetProfileString("", "IpConnectLogCurrent"), session + "PelorinProLogConnect.rec");
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1 ( " + m_folder + "SessionLogs/monday )");
  EXPECT_EQ(m_script.ModalCaptions().back(), "Dir(s)");

  // Both monitors now write into the session folder; the default logs stay as they were.
  const std::uintmax_t defaultPackets = Size(m_folder + "PelorinProLogPkt.rec");
  Choose(frame, ID_SCAN_START_STOP);
  EXPECT_FALSE(Enabled(frame, ID_FILE_SESSION_SELECT));
  EXPECT_FALSE(Enabled(frame, ID_FILE_SESSION_LOAD));
  EXPECT_FALSE(Enabled(frame, ID_FILE_DEFAULT_LOGS));
  ASSERT_TRUE(UiPump::Instance().PumpUntil(
      [&] {
        SendLoopback(1);
        return frame->Connections()->GetItemCount() > 0 && frame->Packets()->GetItemCount() >= 3;
      },
      10000));
  Choose(frame, ID_SCAN_START_STOP);
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return Enabled(frame, ID_FILE_DEFAULT_LOGS); }, 5000));
  EXPECT_GT(Size(session + "PelorinProLogConnect.rec"), 0u);
  EXPECT_GT(Size(session + "PelorinProLogPkt.rec"), 0u);
  EXPECT_EQ(Size(m_folder + "PelorinProLogPkt.rec"), defaultPackets);
  const int connectionRows = frame->Connections()->GetItemCount();

  // Back on the defaults: the title and both current values, and the panes show the default logs.
  Choose(frame, ID_FILE_DEFAULT_LOGS);
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1");
  EXPECT_EQ(m_profile.GetProfileString("", "IpConnectLogCurrent"), m_folder + "PelorinProLogConnect.rec");
  EXPECT_EQ(m_profile.GetProfileString("", "IpMonLogCurrent"), m_folder + "PelorinProLogPkt.rec");
  ASSERT_TRUE(UiPump::Instance().PumpUntil(
      [&] { return frame->Connections()->GetItemCount() == 0 && frame->Packets()->GetItemCount() == 0; }, 5000));

  // Loading the session (a double click on its entry) brings its rows back.
  m_script.OnNextModal([](Dialog& d) {
    EXPECT_EQ(d.GetDlgItemText(Dir::IDC_GROUP), "Select Session Log to load");
    d.DoubleClickListItem(Dir::IDC_LIST_DIRS, 0);
  });
  ASSERT_TRUE(Choose(frame, ID_FILE_SESSION_LOAD));
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1 ( " + m_folder + "SessionLogs/monday )");
  EXPECT_TRUE(UiPump::Instance().PumpUntil(
      [&] { return frame->Connections()->GetItemCount() == connectionRows && frame->Packets()->GetItemCount() >= 3; },
      5000));

  // Each time the File menu opens the title names the session of the connection log, cut at
  // its first dot.
  frame->SetTitle("elsewhere");
  Enabled(frame, ID_FILE_SESSION_LOAD);
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1 ( " + m_folder + "SessionLogs/monday )");
  m_profile.WriteProfileString("", "IpConnectLogCurrent", m_folder + "SessionLogs/v1.2/PelorinProLogConnect.rec");
  Enabled(frame, ID_FILE_SESSION_LOAD);
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1 ( " + m_folder + "SessionLogs )");
  EXPECT_EQ(m_script.UnscriptedModals(), 0);
  EXPECT_TRUE(m_script.Messages().empty());
}

TEST_F(SessionTest, NamesThatAreNotOneFolderBelowTheParentAreRefusedAndNothingIsCreated) {
  CMainFrame* frame = Start("2");
  const std::string parent = m_folder + "SessionLogs/";
  const auto refused = [&](const std::string& typed, const std::string& path) {
    const std::size_t before = m_script.Messages().size();
    TypeFolder(typed);
    Choose(frame, ID_FILE_SESSION_SELECT);
    if (m_script.Messages().size() != before + 1) return false;
    const auto& shown = m_script.Messages().back();
    return shown.caption == "Invalid Session Log Name" &&
           shown.text == "Could not create :" + path + "\n\nSpecify one name for a session log, no paths.\n\n";
  };
  EXPECT_TRUE(refused("a/b", parent + "a/b"));
  EXPECT_TRUE(refused("tab\there", parent + "tab\there"));
  EXPECT_TRUE(refused(std::string(256, 'n'), parent + std::string(256, 'n')));
  EXPECT_TRUE(refused("SessionLogs", m_folder + "SessionLogs"));  // the parent itself
  EXPECT_EQ(std::filesystem::directory_iterator(parent), std::filesystem::directory_iterator());
  EXPECT_EQ(m_profile.GetProfileString("", "IpConnectLogCurrent"), m_folder + "PelorinProLogConnect.rec");
  // The longest name a folder can have is taken.
  TypeFolder(std::string(255, 'n'));
  Choose(frame, ID_FILE_SESSION_SELECT);
  EXPECT_TRUE(std::filesystem::is_directory(parent + std::string(255, 'n')));

  // A parent folder that is gone: Create/Select reports it, Load ends without a word.
  std::filesystem::remove_all(parent);
  EXPECT_TRUE(refused("fresh", parent + "fresh"));
  const std::size_t before = m_script.Messages().size();
  TypeFolder("fresh");
  Choose(frame, ID_FILE_SESSION_LOAD);
  EXPECT_EQ(m_script.Messages().size(), before);

  // No parent value at all.
  m_profile.WriteProfileString("", "SessLogs", "");
  Choose(frame, ID_FILE_SESSION_SELECT);
  EXPECT_EQ(m_script.Messages().back().caption, "Invalid Session Logs");
  EXPECT_EQ(m_script.Messages().back().text,
            "Could not create logs, logs do not exist.\n\nRegistry entries have been tampered with.\n\n");
  EXPECT_EQ(m_script.UnscriptedModals(), 0);
}

TEST_F(SessionTest, RuleFoldersGoToTheEngineKeyAndTheRuleEditorOpensOnTheChosenFile) {
  AppProfile engine{"DunmereIncProducts\\Setup", "RamparoThreadApp"};
  AppProfile console{"DunmereIncProducts\\Setup", "IpRamparo"};
  engine.WriteProfileString("", "CfgFile", "");
  console.WriteProfileString("", "RamparoThreadAppLoc", "/opt/ramparo");
  CMainFrame* frame = Start("2");
  ASSERT_TRUE(frame->GetFirewall()->EngineInstalled());
  ASSERT_TRUE(Enabled(frame, ID_FILE_RULES_SELECT));
  ASSERT_TRUE(Enabled(frame, ID_FILE_DEFAULT_RULES));
  const std::string chosen = m_folder + "Cfg/office/PelorinFirewallCfgFile.cfg";
  std::string editorFile;
  const auto editor = [&](Dialog& d) {
    editorFile = dynamic_cast<DlgPelorinFirewallIp&>(d).GetRuleFilePath();
    d.ClickButton(DlgPelorinFirewallIp::IDC_BUTTON_DONE);
  };

  TypeFolder("office");
  m_script.OnNextModal(editor);
  ASSERT_TRUE(Choose(frame, ID_FILE_RULES_SELECT));
  EXPECT_EQ(editorFile, chosen);
  EXPECT_EQ(m_profile.GetProfileString("", "PelorinFirewallCfgFileCurrent"), chosen);
  EXPECT_EQ(engine.GetProfileString("", "CfgFile"), chosen);
  EXPECT_EQ(m_profile.GetProfileString("", "CfgFileRemote"), m_folder + "Ramparo.cfg");  // unchanged
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1 ( " + m_folder + "Cfg/office )");

  // "Default" returns to the file last chosen for the engine.
  m_script.OnNextModal(editor);
  ASSERT_TRUE(Choose(frame, ID_FILE_DEFAULT_RULES));
  EXPECT_EQ(editorFile, chosen);
  EXPECT_EQ(frame->GetWindowText(), "Pelorin Pro v3.1");
  engine.WriteProfileString("", "CfgFile", "");
  m_script.OnNextModal(editor);
  Choose(frame, ID_FILE_DEFAULT_RULES);
  EXPECT_EQ(editorFile, m_folder + "Ramparo.cfg");
  EXPECT_EQ(m_profile.GetProfileString("", "PelorinFirewallCfgFileCurrent"), m_folder + "Ramparo.cfg");
  EXPECT_EQ(m_script.UnscriptedModals(), 0);
}

}  // namespace
}  // namespace frame_test

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/FrameWindow.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"

namespace {

constexpr UINT kStartStop = 32776;
constexpr UINT kShowCurrentOnly = 32785;
constexpr UINT kLoadLog = 32783;
constexpr UINT kBlockAllow = 32795;
constexpr UINT kFeed = 32803;

// A frame whose menu items follow its state through update rules.
class MonitorFrame : public FrameWindow {
 public:
  bool scanning = false;
  bool showCurrentOnly = false;
  bool paneVisible = false;
  std::vector<UINT> commands;

  MonitorFrame() {
    auto menu = std::make_unique<Menu>();
    Menu* scan = menu->AppendPopup("&Scan");
    scan->AppendMenu(MF_STRING, kStartStop, "Start Scanning");
    Menu* view = menu->AppendPopup("&View");
    view->AppendMenu(MF_STRING, kShowCurrentOnly, "Show Current Only");
    view->AppendMenu(MF_SEPARATOR);
    view->AppendMenu(MF_STRING, kLoadLog, "Load Log");
    SetMenu(std::move(menu));
    MapCommand(kStartStop, [this] {
      scanning = GetMenu()->GetMenuString(kStartStop, MF_BYCOMMAND) != "Stop Scanning";
      GetMenu()->SetMenuItemText(kStartStop, scanning ? "Stop Scanning" : "Start Scanning");
      commands.push_back(kStartStop);
    });
    MapCommand(kShowCurrentOnly, [this] {
      showCurrentOnly = !showCurrentOnly;
      commands.push_back(kShowCurrentOnly);
    });
    MapUpdate(kShowCurrentOnly, [this](CmdUI& cmd) {
      cmd.Enable(paneVisible);
      cmd.SetCheck(showCurrentOnly);
    });
    MapUpdate(kLoadLog, [this](CmdUI& cmd) { cmd.Enable(paneVisible && !scanning); });
    MapCommand(kLoadLog, [this] { commands.push_back(kLoadLog); });
    MapCommand(kFeed, [this] { commands.push_back(kFeed); });
  }
};

TEST(MenuServicesTest, UpdateRulesRunEachTimeAMenuOpens) {
  MonitorFrame frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", Rect{0, 0, 800, 600}));
  Menu* view = frame.GetMenu()->GetSubMenu(1);
  // Disabled until the rule says otherwise; choosing a disabled item does nothing.
  EXPECT_FALSE(frame.GetMenu()->Choose(kShowCurrentOnly, &frame));
  EXPECT_FALSE(view->IsEnabled(kShowCurrentOnly));
  frame.paneVisible = true;
  EXPECT_TRUE(frame.GetMenu()->Choose(kShowCurrentOnly, &frame));
  frame.OnMenuOpening(*view);
  EXPECT_TRUE(view->IsChecked(kShowCurrentOnly));
  EXPECT_TRUE(view->IsEnabled(kLoadLog));

  // The scan command reads its own item's text, as the state the user sees.
  EXPECT_TRUE(frame.GetMenu()->Choose(kStartStop, &frame));
  EXPECT_EQ(frame.GetMenu()->GetMenuString(kStartStop, MF_BYCOMMAND), "Stop Scanning");
  EXPECT_FALSE(frame.GetMenu()->Choose(kLoadLog, &frame));  // not while scanning
  EXPECT_TRUE(frame.GetMenu()->Choose(kStartStop, &frame));
  EXPECT_TRUE(frame.GetMenu()->Choose(kLoadLog, &frame));
  EXPECT_EQ(frame.commands, (std::vector<UINT>{kShowCurrentOnly, kStartStop, kStartStop, kLoadLog}));

  // A command posted to the frame (the layout commands at start-up) arrives through the pump.
  frame.PostMessage(WM_COMMAND, kShowCurrentOnly, 0);
  UiPump::Instance().PumpPending();
  EXPECT_EQ(frame.commands.back(), kShowCurrentOnly);
  EXPECT_FALSE(frame.showCurrentOnly);
}

TEST(MenuServicesTest, ContextMenusAreScriptedAndRecorded) {
  ScriptedServices services;
  MonitorFrame frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", Rect{0, 0, 800, 600}));
  Menu context;
  context.CreatePopupMenu();
  context.AppendMenu(MF_STRING, kBlockAllow, "Block/Allow");
  context.AppendMenu(MF_SEPARATOR);
  context.AppendMenu(MF_STRING, kFeed, "Feed");
  frame.MapUpdate(kBlockAllow, [](CmdUI& cmd) { cmd.Enable(false); });
  services.AnswerMenu(kFeed);
  services.AnswerMenu(kBlockAllow);  // disabled: no command
  services.AnswerMenu(kFeed);
  EXPECT_EQ(context.TrackPopupMenu(TPM_LEFTALIGN | TPM_RIGHTBUTTON, 10, 20, &frame), kFeed);
  EXPECT_EQ(context.TrackPopupMenu(TPM_RIGHTBUTTON, 10, 20, &frame), 0u);
  EXPECT_EQ(context.TrackPopupMenu(TPM_RETURNCMD, 10, 20, &frame), kFeed);
  UiPump::Instance().PumpPending();
  EXPECT_EQ(frame.commands, (std::vector<UINT>{kFeed}));  // the returned choice was not sent
  ASSERT_EQ(services.Menus().size(), 3u);
  EXPECT_EQ(services.Menus()[0].items, (std::vector<std::string>{"Block/Allow", "-", "Feed"}));
  EXPECT_EQ(services.Menus()[0].enabledIds, (std::vector<UINT>{kFeed}));
}

TEST(MenuServicesTest, MessageBoxesFileDialogsAndCursorsAreScripted) {
  ScriptedServices services;
  services.AnswerMessageBox(IDNO);
  const std::string text = std::string("You are requesting to NOT log Pelorin's Ip Monitor\n") + "data packets.\n\n";
  EXPECT_EQ(MessageBox(nullptr, text, "Pelorin's Ip Data Packets", MB_YESNO), IDNO);
  // Unscripted: the default button answers.
  EXPECT_EQ(MessageBox(nullptr, "Sure?", "Q", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBox(nullptr, "Sure?", "Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(AfxMessageBox("Done"), IDOK);
  ASSERT_EQ(services.Messages().size(), 4u);
  EXPECT_EQ(services.Messages()[0].text, text);
  EXPECT_EQ(services.Messages()[0].caption, "Pelorin's Ip Data Packets");
  EXPECT_EQ(services.Messages()[0].type, MB_YESNO);

  FileDialogRequest request;
  request.open = false;
  request.filter = "Filter Files|*.flt||";
  request.initialDir = ".\\Filters";
  request.flags = OFN_PATHMUSTEXIST;
  services.AnswerFileDialog("/tmp/a.flt");
  services.AnswerFileDialog("");
  std::string path;
  EXPECT_TRUE(UiServices::Current().FileDialog(nullptr, request, &path));
  EXPECT_EQ(path, "/tmp/a.flt");
  path.clear();
  EXPECT_FALSE(UiServices::Current().FileDialog(nullptr, request, &path));
  EXPECT_TRUE(path.empty());
  ASSERT_EQ(services.FileDialogs().size(), 2u);
  EXPECT_EQ(services.FileDialogs()[0].initialDir, ".\\Filters");

  {
    WaitCursor wait;
    EXPECT_EQ(UiServices::Current().GetCursor(), CursorShape::Wait);
  }
  EXPECT_EQ(services.Cursors(), (std::vector<CursorShape>{CursorShape::Wait, CursorShape::Arrow}));
  EXPECT_FALSE(UiServices::Current().OpenHelpFile("/nonexistent/Pelorin.hlp", 3));
  EXPECT_EQ(services.HelpFiles(), (std::vector<std::string>{"/nonexistent/Pelorin.hlp"}));
}

TEST(MenuServicesTest, ServicesAreRestoredWhenTheScriptEnds) {
  UiServices* before = &UiServices::Current();
  {
    ScriptedServices services;
    EXPECT_EQ(&UiServices::Current(), &services);
  }
  EXPECT_EQ(&UiServices::Current(), before);
}

TEST(MenuServicesTest, StatusBarSitsAlongTheBottomOfTheClientArea) {
  MonitorFrame frame;
  ASSERT_TRUE(frame.Create("Pelorin Pro v3.1", Rect{0, 0, 800, 600}));
  StatusBar* bar = frame.CreateStatusBar({ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL});
  ASSERT_NE(bar, nullptr);
  frame.SetMessageText("For Help, Press F1");
  EXPECT_EQ(bar->GetPaneText(0), "For Help, Press F1");
  EXPECT_EQ(bar->GetCount(), 4);
  EXPECT_EQ(bar->GetRectInParent(), (Rect{0, 580, 800, 600}));
  frame.MoveWindow(Rect{0, 0, 640, 480});
  EXPECT_EQ(bar->GetRectInParent(), (Rect{0, 460, 640, 480}));
}

}  // namespace

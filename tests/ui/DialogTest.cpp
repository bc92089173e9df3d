#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ui/Button.h"
#include "ui/Dialog.h"
#include "ui/Edit.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"

namespace {

// A link dialog: two addresses and two ports, saved on OK.
class LinkDialog : public Dialog {
 public:
  LinkDialog()
      : Dialog(DialogTemplate{"Set Connections Link", 235, 82, "MS Sans Serif", 8,
                              {GroupItem("Connections Link Ip Addresses", 7, 7, 221, 50),
                               LabelItem("From : ", 14, 20, 22, 8), IpAddressItem(2088, 38, 18, 100, 14),
                               LabelItem("Port : ", 144, 20, 20, 8), EditItem(2090, 166, 18, 54, 14, ES_NUMBER),
                               LabelItem("To : ", 14, 38, 22, 8), IpAddressItem(2089, 38, 36, 100, 14),
                               LabelItem("Port : ", 144, 38, 20, 8), EditItem(2091, 166, 36, 54, 14, ES_NUMBER),
                               DefPushButtonItem(IDOK, "OK", 124, 62, 50, 14), PushButtonItem(IDCANCEL, "Cancel", 178, 62, 50, 14)}}) {}
  std::string from, fromPort, to, toPort;
  int changes = 0;

  bool OnInitDialog() override {
    GetDlgItemAs<Edit>(2090)->LimitText(7);
    GetDlgItemAs<Edit>(2091)->LimitText(7);
    SetDlgItemText(2088, "0.0.0.0");
    MapCommand(2090, [this] { ++changes; }, EN_CHANGE);
    return true;
  }
  void OnOK() override {
    from = GetDlgItemText(2088);
    fromPort = GetDlgItemText(2090);
    to = GetDlgItemText(2089);
    toPort = GetDlgItemText(2091);
    Dialog::OnOK();
  }
};

TEST(DialogTest, ModalRunsAreDrivenByControlId) {
  ScriptedServices services;
  services.OnNextModal([](Dialog& dialog) {
    EXPECT_TRUE(dialog.TypeInto(2088, "10.0.0.1"));
    EXPECT_FALSE(dialog.TypeInto(2090, "80a25"));    // the letter is refused, the digits stay
    EXPECT_FALSE(dialog.TypeInto(2091, "123456789"));  // cut at 7 characters
    EXPECT_FALSE(dialog.TypeInto(4242, "nothing"));
    EXPECT_TRUE(dialog.ClickButton(IDOK));
  });
  LinkDialog link;
  EXPECT_EQ(link.DoModal(), IDOK);
  EXPECT_EQ(link.from, "10.0.0.1");
  EXPECT_EQ(link.fromPort, "8025");
  EXPECT_EQ(link.to, "0.0.0.0");  // an empty address field reads 0.0.0.0
  EXPECT_EQ(link.toPort, "1234567");
  EXPECT_EQ(link.changes, 1);
  EXPECT_FALSE(link.IsCreated());  // the run destroys the window
  EXPECT_EQ(services.ModalCaptions(), (std::vector<std::string>{"Set Connections Link"}));

  // Escape cancels; an unscripted run ends as cancelled rather than hanging.
  services.OnNextModal([](Dialog& dialog) { EXPECT_TRUE(dialog.PressEscape()); });
  LinkDialog cancelled;
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  EXPECT_EQ(cancelled.from, "");
  LinkDialog unscripted;
  EXPECT_EQ(unscripted.DoModal(), IDCANCEL);
  EXPECT_EQ(services.UnscriptedModals(), 1);

  // Enter presses the default button; a run may also be ended by a posted command.
  services.OnNextModal([](Dialog& dialog) { dialog.PostMessage(WM_COMMAND, IDOK, 0); });
  LinkDialog posted;
  EXPECT_EQ(posted.DoModal(), IDOK);
  services.OnNextModal([](Dialog& dialog) { EXPECT_TRUE(dialog.PressEnter()); });
  LinkDialog entered;
  EXPECT_EQ(entered.DoModal(), IDOK);
  EXPECT_TRUE(services.AllAnswersUsed());
}

// Buttons the user cannot reach cannot be clicked; radio groups keep one button checked.
class RuleDialog : public Dialog {
 public:
  RuleDialog()
      : Dialog(DialogTemplate{"Pelorin Firewall Properties", 300, 200, "MS Sans Serif", 8,
                              {CheckBoxItem(10, "Active", 5, 5, 50, 10), RadioButtonItem(11, "Allow", 5, 20, 50, 10, true).Hidden().Disabled(),
                               RadioButtonItem(12, "Block", 5, 35, 50, 10), RadioButtonItem(13, "Incoming", 5, 50, 50, 10, true),
                               RadioButtonItem(14, "Outgoing", 5, 65, 50, 10), PushButtonItem(20, "Save Rule", 5, 80, 50, 14).Disabled(),
                               PushButtonItem(21, "Add Rule", 60, 80, 50, 14), EditItem(30, 5, 100, 100, 14)}}) {}
  int added = 0;
  bool OnInitDialog() override {
    MapCommand(21, [this] { ++added; });
    CheckRadioButton(11, 12, 12);
    return true;
  }
};

TEST(DialogTest, ClicksFollowEnablingVisibilityAndRadioGroups) {
  RuleDialog dialog;
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  EXPECT_TRUE(dialog.IsWindowVisible());
  EXPECT_FALSE(dialog.ClickButton(20));  // disabled
  EXPECT_FALSE(dialog.ClickButton(11));  // hidden
  EXPECT_TRUE(dialog.ClickButton(21));
  EXPECT_EQ(dialog.added, 1);
  EXPECT_TRUE(dialog.ClickButton(10));
  EXPECT_EQ(dialog.IsDlgButtonChecked(10), BST_CHECKED);
  EXPECT_TRUE(dialog.ClickButton(10));
  EXPECT_EQ(dialog.IsDlgButtonChecked(10), BST_UNCHECKED);
  EXPECT_TRUE(dialog.ClickButton(13));
  EXPECT_TRUE(dialog.ClickButton(14));
  EXPECT_EQ(dialog.GetCheckedRadioButton(13, 14), 14);
  EXPECT_EQ(dialog.GetCheckedRadioButton(11, 12), 12);  // the other group is untouched
  dialog.GetDlgItem(20)->EnableWindow(true);
  EXPECT_TRUE(dialog.ClickButton(20));

  dialog.SetDlgItemText(30, " 42 ");
  bool translated = false;
  EXPECT_EQ(dialog.GetDlgItemInt(30, &translated), 42);
  EXPECT_TRUE(translated);
  dialog.SetDlgItemText(30, "4x2");
  EXPECT_EQ(dialog.GetDlgItemInt(30, &translated), 0);
  EXPECT_FALSE(translated);
  dialog.SetDlgItemText(30, "99999999999");
  EXPECT_EQ(dialog.GetDlgItemInt(30, &translated), 0);
  EXPECT_FALSE(translated);
  dialog.SetDlgItemInt(30, -7);
  EXPECT_EQ(dialog.GetDlgItemInt(30, &translated), -7);

  // Ending a modeless dialog hides it; its owner destroys it.
  dialog.EndDialog(IDOK);
  EXPECT_FALSE(dialog.IsWindowVisible());
  EXPECT_TRUE(dialog.IsCreated());
  EXPECT_EQ(dialog.GetResult(), IDOK);
}

TEST(DialogTest, TemplatesMapDialogUnitsWithTheirFont) {
  RuleDialog dialog;
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  // Headless base units of an 8-point dialog font: 6 by 13 pixels per 4 by 8 units.
  EXPECT_EQ(dialog.MapDialogRect(Rect{4, 8, 8, 16}), (Rect{6, 13, 12, 26}));
  EXPECT_EQ(dialog.GetClientRect(), (Rect{0, 0, 450, 325}));
  EXPECT_EQ(dialog.GetDlgItem(21)->GetRectInParent(), (Rect{90, 130, 165, 153}));
}

TEST(DialogTest, DirectoryListingShowsSubFoldersInBrackets) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("pelorin-dirs-" + std::to_string(::getpid()));
  fs::create_directories(root / "Session2");
  fs::create_directories(root / "alpha");
  { std::ofstream(root / "file.txt") << "x"; }
  Dialog dialog(DialogTemplate{"Dir(s)", 200, 150, "MS Sans Serif", 8,
                               {ListBoxItem(2003, 5, 5, 100, 100), LabelItem("", 5, 110, 190, 10, 2004), EditItem(2005, 5, 125, 100, 14)}});
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  ASSERT_TRUE(dialog.DlgDirList(root.string(), 2003, 2004));
  auto* list = dialog.GetDlgItemAs<ListBox>(2003);
  EXPECT_EQ(list->Lines(), (std::vector<std::string>{"[..]", "[alpha]", "[Session2]"}));
  EXPECT_EQ(dialog.GetDlgItemText(2004), root.string());
  EXPECT_FALSE(dialog.DlgDirList((root / "missing").string(), 2003, 2004));
  fs::remove_all(root);
}

}  // namespace

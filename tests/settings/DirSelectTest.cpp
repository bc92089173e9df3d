// The folder chooser on a real folder: what it lists, and the folder each way of choosing yields.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "controls/framework/DlgPelorinDirSelect.h"
#include "ui/ListBox.h"
#include "ui/ScriptedServices.h"

namespace settings_test {
namespace {

using Dlg = DlgPelorinDirSelect;

class settings_DirSelect : public SettingsTest {
 protected:
  // Runs the chooser on <dir>/SessionLogs with the given flag; script acts in the open dialog.
  std::string Run(int flag, const std::function<void(Dialog&)>& script, int* result = nullptr) {
    m_script.OnNextModal(script);
    Dlg dialog(nullptr, m_dir + "/SessionLogs/", "Select Session Log", flag);
    const int code = dialog.DoModal();
    if (result != nullptr) *result = code;
    return dialog.GetSel();
  }
  static std::vector<std::string> Lines(Dialog& d) { return d.GetDlgItemAs<ListBox>(Dlg::IDC_LIST_DIRS)->Lines(); }

  ScriptedServices m_script;
};

TEST_F(settings_DirSelect, ListsSubFoldersInBracketsAndYieldsTheChosenOrTypedFolder) {
  const std::string parent = m_dir + "/SessionLogs";
  std::filesystem::create_directories(parent + "/alpha");
  std::filesystem::create_directories(parent + "/beta.v2");
  std::ofstream(parent + "/notes.txt") << "not a folder";

  // Flag 0: no way up; the caption, the empty field and the listed path.
  std::vector<std::string> lines;
  EXPECT_EQ(Run(0, [&](Dialog& d) {
              lines = Lines(d);
              EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_GROUP), "Select Session Log");
              EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_STATIC_PATH), parent);
              EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_EDIT_CREATE), "");
              d.ClickButton(IDOK);  // nothing chosen: no folder, not the listed folder itself
            }),
            "");
  EXPECT_EQ(lines, (std::vector<std::string>{"[alpha]", "[beta.v2]"}));
  Run(1, [&](Dialog& d) { lines = Lines(d); d.ClickButton(IDCANCEL); });
  EXPECT_EQ(lines, (std::vector<std::string>{"[..]", "[alpha]", "[beta.v2]"}));

  // A double click chooses the entry; one with a dot names the folder before it.
  EXPECT_EQ(Run(0, [](Dialog& d) { d.DoubleClickListItem(Dlg::IDC_LIST_DIRS, 0); }), parent + "/alpha");
  EXPECT_EQ(Run(0, [](Dialog& d) {
              d.SelectListItem(Dlg::IDC_LIST_DIRS, 1);
              EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_EDIT_CREATE), "beta");
              d.ClickButton(IDOK);
            }),
            parent + "/beta");
  // Clicking one entry and then another chooses the second.
  EXPECT_EQ(Run(0, [](Dialog& d) {
              d.SelectListItem(Dlg::IDC_LIST_DIRS, 1);
              d.DoubleClickListItem(Dlg::IDC_LIST_DIRS, 0);
            }),
            parent + "/alpha");

  // Typed names: cut at the first dot, brackets dropped; a typed name goes below a chosen entry.
  const auto typed = [&](const std::string& text) {
    return Run(0, [&](Dialog& d) {
      d.TypeInto(Dlg::IDC_EDIT_CREATE, text);
      d.ClickButton(IDOK);
    });
  };
  EXPECT_EQ(typed("monday.rec"), parent + "/monday");
  EXPECT_EQ(typed("[run]"), parent + "/run");
  EXPECT_EQ(typed("../escape"), "");
  EXPECT_EQ(typed(".hidden"), "");
  EXPECT_EQ(typed("a/b"), parent + "/a/b");  // the caller refuses a path
  EXPECT_EQ(Run(0, [](Dialog& d) {
              d.TypeInto(Dlg::IDC_EDIT_CREATE, "night");
              d.SelectListItem(Dlg::IDC_LIST_DIRS, 0);
              EXPECT_EQ(d.GetDlgItemText(Dlg::IDC_EDIT_CREATE), "alpha/night");
              d.ClickButton(IDOK);
            }),
            parent + "/alpha/night");

  // Cancel ends without a choice.
  int code = 0;
  EXPECT_EQ(Run(0, [](Dialog& d) { d.ClickButton(IDCANCEL); }, &code), "");
  EXPECT_EQ(code, IDCANCEL);
}

TEST_F(settings_DirSelect, AFolderThatCannotBeListedStillNamesWhereTheNewFolderGoes) {
  // No SessionLogs folder at all: the path shown is still the parent, never the root.
  EXPECT_EQ(Run(0, [](Dialog& d) {
              EXPECT_TRUE(Lines(d).empty());
              d.TypeInto(Dlg::IDC_EDIT_CREATE, "first");
              d.ClickButton(IDOK);
            }),
            m_dir + "/SessionLogs/first");
}

}  // namespace
}  // namespace settings_test

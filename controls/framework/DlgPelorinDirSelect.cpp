#include "controls/framework/DlgPelorinDirSelect.h"

#include <algorithm>

#include "ui/ListBox.h"

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A list entry or a typed name up to its first "." ("run.rec" names the folder "run"), without
// the brackets of the listing.
std::string NameOf(const std::string& text) {
  std::string name = text.substr(0, text.find('.'));
  name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '[' || c == ']'; }), name.end());
  return name;
}

}  // namespace

DlgPelorinDirSelect::DlgPelorinDirSelect(Window* parent, std::string folder, std::string caption, int flag)
    : Dialog(MakeTemplate(), parent), m_folder(std::move(folder)), m_caption(std::move(caption)), m_flag(flag) {
  MapCommand(IDC_LIST_DIRS, [this] { OnSelChangeList(); }, LBN_SELCHANGE);
  MapCommand(IDC_LIST_DIRS, [this] { OnOK(); }, LBN_DBLCLK);
  MapCommand(IDC_EDIT_CREATE, [this] { m_typed = !m_settingName; }, EN_CHANGE);
}

DlgPelorinDirSelect::~DlgPelorinDirSelect() { DestroyWindow(); }

DialogTemplate DlgPelorinDirSelect::MakeTemplate() {
  return DialogTemplate{"Dir(s)",
                        186,
                        170,
                        "MS Sans Serif",
                        8,
                        {GroupItem("", 7, 4, 172, 120, IDC_GROUP),
                         ListBoxItem(IDC_LIST_DIRS, 14, 16, 158, 88),
                         LabelItem("", 14, 108, 158, 10, IDC_STATIC_PATH),
                         LabelItem("Create :", 7, 131, 30, 10),
                         EditItem(IDC_EDIT_CREATE, 40, 129, 139, 12),
                         DefPushButtonItem(IDOK, "OK", 74, 150, 50, 14),
                         PushButtonItem(IDCANCEL, "Cancel", 129, 150, 50, 14)}};
}

void DlgPelorinDirSelect::SetTitle(const std::string& text) { SetDlgItemText(IDC_GROUP, text); }

void DlgPelorinDirSelect::UpClean() {
  auto* list = GetDlgItemAs<ListBox>(IDC_LIST_DIRS);
  if (list == nullptr) return;
  for (int i = list->GetCount() - 1; i >= 0; --i)
    if (list->GetText(i).find("..") != std::string::npos) list->DeleteString(i);
}

bool DlgPelorinDirSelect::OnInitDialog() {
  SetTitle(m_caption);
  SetName("");
  // A folder that cannot be listed still names where a new folder would go.
  if (!DlgDirList(m_folder, IDC_LIST_DIRS, IDC_STATIC_PATH)) {
    std::string shown = m_folder;
    while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    SetDlgItemText(IDC_STATIC_PATH, shown);
  }
  if (m_flag == 0) UpClean();
  return true;
}

void DlgPelorinDirSelect::SetName(const std::string& name) {
  m_settingName = true;
  SetDlgItemText(IDC_EDIT_CREATE, name);
  m_settingName = false;
  m_typed = false;
}

void DlgPelorinDirSelect::OnSelChangeList() {
  const auto* list = GetDlgItemAs<ListBox>(IDC_LIST_DIRS);
  if (list == nullptr || list->GetCurSel() < 0) return;
  std::string name = NameOf(list->GetText(list->GetCurSel()));
  name.erase(std::remove(name.begin(), name.end(), '/'), name.end());
  // A name the user typed goes below the chosen entry; a name an earlier choice put there is
  // replaced, so clicking one entry after another chooses the last one.
  const std::string typed = GetDlgItemText(IDC_EDIT_CREATE);
  if (m_typed && !EndsWith(name, typed)) {
    if (!EndsWith(name, "/")) name += '/';
    name += typed;
  }
  SetName(name);
  m_sel = name;
}

void DlgPelorinDirSelect::OnOK() {
  std::string path = GetDlgItemText(IDC_STATIC_PATH);
  const std::string name = NameOf(GetDlgItemText(IDC_EDIT_CREATE));
  SetName(name);
  if (name.empty()) {
    // Nothing chosen or typed: no folder, rather than the listed folder itself.
    m_sel.clear();
  } else {
    if (path != name && !EndsWith(path, "/" + name)) {
      if (!EndsWith(path, "/")) path += '/';
      path += name;
    }
    m_sel = path;
  }
  EndDialog(IDOK);
}

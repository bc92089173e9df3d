#include "ui/ScriptedServices.h"

#include "ui/Dialog.h"
#include "ui/Menu.h"

ScriptedServices::ScriptedServices() { m_previous = UiServices::Install(this); }

ScriptedServices::~ScriptedServices() { UiServices::Install(m_previous); }

int ScriptedServices::MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type) {
  int answer;
  if (m_answers.empty()) {
    answer = UiServices::MessageBox(owner, text, caption, type);
  } else {
    answer = m_answers.front();
    m_answers.pop_front();
  }
  m_messages.push_back(ShownMessage{text, caption, type, answer});
  return answer;
}

bool ScriptedServices::FileDialog(Window*, const FileDialogRequest& request, std::string* path) {
  m_fileDialogs.push_back(request);
  if (m_files.empty()) return false;
  const std::string chosen = m_files.front();
  m_files.pop_front();
  if (chosen.empty()) return false;
  *path = chosen;
  return true;
}

UINT ScriptedServices::TrackPopupMenu(Menu& menu, Point, Window*) {
  ShownMenu shown;
  for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
    const UINT state = menu.GetMenuState(static_cast<UINT>(i), MF_BYPOSITION);
    shown.items.push_back((state & MF_SEPARATOR) ? std::string("-") : menu.GetMenuString(static_cast<UINT>(i), MF_BYPOSITION));
    // A sub-menu has no command of its own to list.
    if ((state & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_POPUP)) == 0) shown.enabledIds.push_back(menu.GetMenuItemID(i));
  }
  if (!m_menus.empty()) {
    shown.choice = m_menus.front();
    m_menus.pop_front();
  }
  m_menusShown.push_back(shown);
  return shown.choice;
}

void ScriptedServices::ModalStarted(Dialog& dialog) {
  m_modalCaptions.push_back(dialog.GetWindowText());
  if (m_modals.empty()) {
    ++m_unscriptedModals;
    UiServices::ModalStarted(dialog);
    return;
  }
  ModalScript script = std::move(m_modals.front());
  m_modals.pop_front();
  script(dialog);
}

void ScriptedServices::SetCursor(CursorShape shape) {
  UiServices::SetCursor(shape);
  m_cursors.push_back(shape);
}

bool ScriptedServices::OpenHelpFile(const std::string& path, UINT command) {
  m_helpFiles.push_back(path);
  return UiServices::OpenHelpFile(path, command);
}

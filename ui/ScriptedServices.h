#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/UiServices.h"

// Services for tests: every answer is queued in advance and everything shown is recorded, so a
// test can assert the exact message, caption and buttons a window shows. Installed while it
// lives. An unscripted message box gets its default button, an unscripted file dialog or menu is
// cancelled, an unscripted modal dialog ends as cancelled; each is recorded all the same.
class ScriptedServices : public UiServices {
 public:
  struct ShownMessage {
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
  };
  struct ShownMenu {
    std::vector<std::string> items;  // text of each item, "-" for a separator
    std::vector<UINT> enabledIds;
    UINT choice = 0;
  };
  using ModalScript = std::function<void(Dialog&)>;

  ScriptedServices();
  ~ScriptedServices() override;

  void AnswerMessageBox(int answer) { m_answers.push_back(answer); }
  void AnswerFileDialog(const std::string& path) { m_files.push_back(path); }  // "" cancels
  void AnswerMenu(UINT commandId) { m_menus.push_back(commandId); }            // 0 cancels
  // Runs when the next modal dialog starts: it types and clicks by control id and so ends the run.
  void OnNextModal(ModalScript script) { m_modals.push_back(std::move(script)); }

  const std::vector<ShownMessage>& Messages() const { return m_messages; }
  const std::vector<FileDialogRequest>& FileDialogs() const { return m_fileDialogs; }
  const std::vector<ShownMenu>& Menus() const { return m_menusShown; }
  const std::vector<std::string>& ModalCaptions() const { return m_modalCaptions; }
  const std::vector<std::string>& HelpFiles() const { return m_helpFiles; }
  const std::vector<CursorShape>& Cursors() const { return m_cursors; }
  int UnscriptedModals() const { return m_unscriptedModals; }
  bool AllAnswersUsed() const { return m_answers.empty() && m_files.empty() && m_menus.empty() && m_modals.empty(); }

  int MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type) override;
  bool FileDialog(Window* owner, const FileDialogRequest& request, std::string* path) override;
  UINT TrackPopupMenu(Menu& menu, Point screen, Window* owner) override;
  void ModalStarted(Dialog& dialog) override;
  void SetCursor(CursorShape shape) override;
  bool OpenHelpFile(const std::string& path, UINT command) override;

 private:
  UiServices* m_previous = nullptr;
  std::deque<int> m_answers;
  std::deque<std::string> m_files;
  std::deque<UINT> m_menus;
  std::deque<ModalScript> m_modals;
  std::vector<ShownMessage> m_messages;
  std::vector<FileDialogRequest> m_fileDialogs;
  std::vector<ShownMenu> m_menusShown;
  std::vector<std::string> m_modalCaptions;
  std::vector<std::string> m_helpFiles;
  std::vector<CursorShape> m_cursors;
  int m_unscriptedModals = 0;
};

#pragma once
#include "ui/UiServices.h"

// The desktop's answers through Qt: message boxes, file dialogs, context menus, the wait cursor,
// the help file with the desktop's handler, text measured in real fonts.
class QtServices : public UiServices {
 public:
  int MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type) override;
  bool FileDialog(Window* owner, const FileDialogRequest& request, std::string* path) override;
  UINT TrackPopupMenu(Menu& menu, Point screen, Window* owner) override;
  void ModalStarted(Dialog&) override {}
  void SetCursor(CursorShape shape) override;
  bool OpenHelpFile(const std::string& path, UINT command) override;
  IconImage ProgramIcon(const std::string& executablePath) override;
  int TextWidth(const Font& font, const std::string& text) override;
  int LineHeight(const Font& font) override;
  Size DialogBaseUnits(const Font& font) override;
  int ScreenDpi() override;
  Rect WorkArea() override;
  Point GetCursorPos() override;
  void SetClipboardText(const std::string& text) override;
  std::string GetClipboardText() const override;

 private:
  bool m_overridden = false;
};

#pragma once
#include <string>

#include "ui/FileDialogRequest.h"
#include "ui/Font.h"
#include "ui/IconImage.h"
#include "ui/UiTypes.h"

class Dialog;
class Menu;
class Window;

enum class CursorShape { Arrow, Wait };

// What the framework asks of the desktop: message boxes, file dialogs, context menus, cursors,
// the help file, text measures. One set is installed per process: the toolkit's (ui/qt), the
// scripted one of the tests (ScriptedServices), or these headless defaults, which answer every
// message box with its default button, cancel every file dialog and menu, and estimate text
// sizes from a fixed pitch.
class UiServices {
 public:
  virtual ~UiServices() = default;

  static UiServices& Current();
  // Installs services (null restores the headless defaults); returns the previous ones.
  static UiServices* Install(UiServices* services);

  // IDOK, IDCANCEL, IDYES or IDNO.
  virtual int MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type);
  // Fills path and returns true when the user chose a file.
  virtual bool FileDialog(Window* owner, const FileDialogRequest& request, std::string* path);
  // Shows a context menu at a screen point; the chosen command id, or 0.
  virtual UINT TrackPopupMenu(Menu& menu, Point screen, Window* owner);
  // A modal dialog's run has begun (it is initialised and shown). Scripted services drive it
  // here; the toolkit leaves it to the user.
  virtual void ModalStarted(Dialog& dialog);
  virtual void SetCursor(CursorShape shape);
  virtual CursorShape GetCursor() const { return m_cursor; }
  // Opens a help file with the desktop's handler for its type.
  virtual bool OpenHelpFile(const std::string& path, UINT command);
  // The icon the desktop shows for a program.
  virtual IconImage ProgramIcon(const std::string& executablePath);

  // Measures in pixels.
  virtual int TextWidth(const Font& font, const std::string& text);
  virtual int LineHeight(const Font& font);
  // Average character width and height of a dialog's font, from which dialog units are scaled.
  virtual Size DialogBaseUnits(const Font& font);
  virtual int ScreenDpi() { return 96; }
  // The part of the screen windows may take (without the desktop's panels), in pixels.
  virtual Rect WorkArea() { return Rect{0, 0, 1024, 768}; }
  virtual Point GetCursorPos() { return Point{}; }

  // The desktop's clipboard, as text; the defaults keep it within the process.
  virtual void SetClipboardText(const std::string& text) { m_clipboard = text; }
  virtual std::string GetClipboardText() const { return m_clipboard; }

 protected:
  CursorShape m_cursor = CursorShape::Arrow;
  std::string m_clipboard;
};

// The platform's message box call: the installed services show it and answer.
int AfxMessageBox(const std::string& text, UINT type = MB_OK);
int MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type = MB_OK);
void BeginWaitCursor();
void EndWaitCursor();  // back to the arrow

// Shows the wait cursor while it lives, then the arrow again.
class WaitCursor {
 public:
  WaitCursor() { BeginWaitCursor(); }
  ~WaitCursor() { EndWaitCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  void Restore() { BeginWaitCursor(); }
};

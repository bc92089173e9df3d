#pragma once
#include <functional>
#include <memory>

#include "ui/FrameWindow.h"
#include "ui/UiTypes.h"

class QWidget;

// Connects the window framework to a running QApplication while it lives: windows created
// from then on get Qt widgets, the posted-message pump and the window timers run from Qt's event
// loop, modal dialogs run nested Qt loops, mouse presses reach the mouse hooks and the Qt
// services answer message boxes and file dialogs. One at a time, on the Qt main thread, created
// after the QApplication and destroyed before it.
class QtUiSession {
 public:
  QtUiSession();
  ~QtUiSession();
  QtUiSession(const QtUiSession&) = delete;
  QtUiSession& operator=(const QtUiSession&) = delete;

  static QtUiSession* Current();
  // The widget that draws a window (null when it has none).
  static QWidget* WidgetOf(const Window* window);
  // Called when a window's widget goes with it.
  void OnWindowDestroyed(std::function<void(HWND)> callback);

  struct Parts;

 private:
  std::unique_ptr<Parts> m_parts;
};

// Runs the program's windows: creates the Qt application, connects the framework to it, lets
// createMainWindow build and show the main frame, and runs the event loop until that frame is
// destroyed. Returns the event loop's exit code (1 when no frame was made).
int RunApplication(int& argc, char** argv, const std::function<FrameWindow*()>& createMainWindow);

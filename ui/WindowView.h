#pragma once

class Window;

// What a toolkit attaches to one window to draw it. The framework calls Sync on the
// user-interface thread with the change bits (Window::kChange...) gathered since the last call;
// changes made by other threads are gathered and handed over by the pump, never directly.
class WindowView {
 public:
  virtual ~WindowView() = default;
  virtual void Sync(unsigned changes) = 0;
  // Gives the keyboard focus to the drawn window (the framework's focus moved).
  virtual void Focus() {}
};

// Creates and destroys the views of windows as they are created and destroyed. One renderer per
// process; without one the framework runs headless.
class WindowRenderer {
 public:
  virtual ~WindowRenderer() = default;
  virtual void WindowCreated(Window& window) = 0;
  virtual void WindowDestroyed(Window& window) = 0;
};

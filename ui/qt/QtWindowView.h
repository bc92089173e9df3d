#pragma once
#include <QPointer>
#include <QWidget>

#include "ui/Window.h"

// The Qt side of one window: its widget, kept in step with the window by Sync. Widgets carry the
// window's handle in the property "pelorinHwnd", by which events find their window again; a
// widget never calls its window through a pointer kept across events.
class QtWindowView : public WindowView {
 public:
  QtWindowView(Window& window, QWidget* widget);
  ~QtWindowView() override;

  void Sync(unsigned changes) override;
  void Focus() override;

  QWidget* Widget() const { return m_widget; }
  HWND Handle() const { return m_hwnd; }
  // The window behind the view, or null once it is gone.
  Window* Model() const { return Window::FromHandle(m_hwnd); }
  // The widget that holds the window's children.
  virtual QWidget* ClientWidget() const { return m_widget; }
  // Called once the view is attached to its window: draws everything.
  void SyncAll() { Sync(Window::kChangeAll); }

  static HWND HandleOf(const QObject* object);

 protected:
  virtual void SyncKind(unsigned changes) = 0;
  virtual bool OwnsGeometry() const { return true; }
  bool Syncing() const { return m_syncing; }

 private:
  HWND m_hwnd;
  QPointer<QWidget> m_widget;
  bool m_syncing = false;
};

#include "ui/qt/QtUiSession.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QEventLoop>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include "ui/Dialog.h"
#include "ui/ListControl.h"
#include "ui/MouseHook.h"
#include "ui/UiPump.h"
#include "ui/WindowView.h"
#include "ui/qt/QtControlViews.h"
#include "ui/qt/QtFocusFrame.h"
#include "ui/qt/QtListView.h"
#include "ui/qt/QtServices.h"
#include "ui/qt/QtSplitterView.h"
#include "ui/qt/QtTopLevelViews.h"
#include "ui/qt/QtWindowView.h"

namespace {

QtUiSession* g_session = nullptr;

// Creates the widget of every window as the window is created.
class QtRenderer : public WindowRenderer {
 public:
  void WindowCreated(Window& window) override { EnsureView(window); }
  void WindowDestroyed(Window& window) override {
    if (m_destroyed) m_destroyed(window.GetSafeHwnd());
  }
  std::function<void(HWND)> m_destroyed;

 private:
  static QtWindowView* ViewOf(Window* window) { return window != nullptr ? dynamic_cast<QtWindowView*>(window->GetView()) : nullptr; }

  QtWindowView* EnsureView(Window& window) {
    if (QtWindowView* existing = ViewOf(&window)) return existing;
    std::unique_ptr<QtWindowView> view;
    Window* parent = window.GetParent();
    if (window.Kind() == WindowKind::Frame) {
      view = MakeFrameView(static_cast<FrameWindow&>(window));
    } else if (window.Kind() == WindowKind::Dialog) {
      Window* owner = window.GetOwner();
      QtWindowView* ownerView = owner != nullptr ? EnsureView(*owner->GetTopLevelParent()) : nullptr;
      view = MakeDialogView(static_cast<Dialog&>(window), ownerView != nullptr ? ownerView->Widget()->window() : nullptr);
    } else if (parent == nullptr) {
      view = MakeControlView(window, nullptr);
    } else {
      QtWindowView* parentView = EnsureView(*parent);
      if (parentView == nullptr) return nullptr;
      if (window.Kind() == WindowKind::StatusBar && parent->Kind() == WindowKind::Frame) {
        view = MakeStatusBarView(static_cast<StatusBar&>(window), static_cast<QMainWindow*>(parentView->Widget()));
      } else if (auto* splitter = dynamic_cast<Splitter*>(&window)) {
        view = MakeSplitterView(*splitter, parentView->ClientWidget());
      } else if (window.Kind() == WindowKind::ListControl) {
        view = std::make_unique<QtListView>(static_cast<ListControl&>(window), parentView->ClientWidget());
      } else {
        view = MakeControlView(window, parentView->ClientWidget());
      }
    }
    if (!view) return nullptr;
    QtWindowView* raw = view.get();
    window.SetView(std::move(view));
    raw->SyncAll();
    return raw;
  }
};

// Reports mouse presses to the mouse hooks and focus changes to the windows.
class EventWatcher : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType()) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      // The same press travels up the widget tree when a child ignores it: report it once.
      if (mouse != m_lastPress || mouse->timestamp() != m_lastStamp) {
        m_lastPress = mouse;
        m_lastStamp = mouse->timestamp();
        Report(static_cast<QWidget*>(watched), mouse);
      }
    } else if (event->type() == QEvent::FocusIn && watched->isWidgetType()) {
      Window* window = Window::FromHandle(QtWindowView::HandleOf(watched));
      if (window != nullptr && window->GetParent() != nullptr) window->SetFocusFromView();
    }
    return false;
  }

 private:
  static void Report(QWidget* widget, QMouseEvent* mouse) {
    if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) return;
    const bool left = mouse->button() == Qt::LeftButton;
    MouseHookEvent hook;
    hook.hwnd = QtWindowView::HandleOf(widget);
    const QPoint global = mouse->globalPosition().toPoint();
    hook.pt = Point{global.x(), global.y()};
    // Scroll bars are the non-client part of a list or a text pane.
    if (auto* bar = qobject_cast<QAbstractSlider*>(widget); bar != nullptr && qobject_cast<QScrollBar*>(widget) != nullptr) {
      hook.hitTest = bar->orientation() == Qt::Vertical ? HTVSCROLL : 6;  // 6: horizontal scroll bar
      hook.message = left ? WM_NCLBUTTONDOWN : WM_NCRBUTTONDOWN;
    } else {
      hook.hitTest = HTCLIENT;
      hook.message = left ? WM_LBUTTONDOWN : WM_RBUTTONDOWN;
    }
    MouseHook::Dispatch(hook);
  }

  const QMouseEvent* m_lastPress = nullptr;
  quint64 m_lastStamp = 0;
};

}  // namespace

struct QtUiSession::Parts {
  QtRenderer renderer;
  QtServices services;
  UiServices* previousServices = nullptr;
  QObject driver;
  QTimer timers;
  EventWatcher watcher;
  QtFocusFrame focusFrame;

  void Pump() {
    UiPump::Instance().PumpPending();
    const int next = UiPump::Instance().MillisecondsToNextTimer();
    if (next < 0) {
      timers.stop();
    } else {
      timers.start(next);
    }
  }
};

QtUiSession::QtUiSession() : m_parts(std::make_unique<Parts>()) {
  g_session = this;
  UiPump& pump = UiPump::Instance();
  pump.AttachToCurrentThread();
  m_parts->previousServices = UiServices::Install(&m_parts->services);
  pump.SetRenderer(&m_parts->renderer);
  Parts* parts = m_parts.get();
  m_parts->timers.setSingleShot(true);
  m_parts->timers.setTimerType(Qt::PreciseTimer);
  QObject::connect(&m_parts->timers, &QTimer::timeout, &m_parts->driver, [parts] { parts->Pump(); });
  pump.SetModalLoop([](const std::function<bool()>& done) {
    QEventLoop loop;
    while (!done()) loop.processEvents(QEventLoop::WaitForMoreEvents);
  });
  pump.SetWakeHook([parts] { QMetaObject::invokeMethod(&parts->driver, [parts] { parts->Pump(); }, Qt::QueuedConnection); });
  qApp->installEventFilter(&m_parts->watcher);
}

QtUiSession::~QtUiSession() {
  UiPump& pump = UiPump::Instance();
  qApp->removeEventFilter(&m_parts->watcher);
  pump.SetWakeHook(nullptr);
  pump.SetModalLoop(nullptr);
  pump.SetRenderer(nullptr);
  UiServices::Install(m_parts->previousServices);
  g_session = nullptr;
}

QtUiSession* QtUiSession::Current() { return g_session; }

QWidget* QtUiSession::WidgetOf(const Window* window) {
  auto* view = window != nullptr ? dynamic_cast<QtWindowView*>(window->GetView()) : nullptr;
  return view != nullptr ? view->Widget() : nullptr;
}

void QtUiSession::OnWindowDestroyed(std::function<void(HWND)> callback) { m_parts->renderer.m_destroyed = std::move(callback); }

int RunApplication(int& argc, char** argv, const std::function<FrameWindow*()>& createMainWindow) {
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QtUiSession session;
  FrameWindow* frame = createMainWindow ? createMainWindow() : nullptr;
  if (frame == nullptr || !frame->IsCreated()) return 1;
  const HWND main = frame->GetSafeHwnd();
  // exit, not quit: a quit request first asks every window to close, and a frame window leaves
  // that answer to its own close handling, so the request would be refused.
  session.OnWindowDestroyed([main](HWND hwnd) {
    if (hwnd == main) QCoreApplication::exit(0);
  });
  const int result = QApplication::exec();
  UiPump::Instance().PumpPending();
  return result;
}

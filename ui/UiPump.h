#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ui/UiTypes.h"
#include "ui/WindowMessage.h"

class WindowRenderer;

// The process's one user-interface message pump: the queue of posted window messages, the window
// timers and the hand-over of changes made by other threads to the windows' views.
//
// Any thread may post. Messages, timers and view syncs are run on the user-interface thread:
// by the toolkit's event loop (which installs a wake hook and calls PumpPending whenever woken,
// see ui/qt), or by hand in tests with PumpPending / PumpUntil.
class UiPump {
 public:
  static UiPump& Instance();

  // Makes the calling thread the user-interface thread (by default the first thread that used
  // the pump).
  void AttachToCurrentThread();
  bool IsUiThread() const;

  // Any thread.
  bool Post(const WindowMessage& message);
  void MarkDirty(HWND hwnd);
  // Wakes a waiting loop so that it re-checks its condition (EndDialog, a finished worker).
  void Wake();
  std::size_t PendingMessages() const;

  // Window timers; SetTimer replaces an existing timer of the same window and id.
  void SetTimer(HWND hwnd, UINT id, UINT elapseMs);
  bool KillTimer(HWND hwnd, UINT id);
  void KillTimers(HWND hwnd);
  // Milliseconds until the next timer is due, 0 when one is due, -1 when there is none.
  int MillisecondsToNextTimer() const;

  // User-interface thread. Delivers the messages queued now, syncs the views of changed windows
  // and fires the timers that are due; returns the number of messages and timers run.
  int PumpPending();
  // Pumps until condition() holds or timeoutMs pass; returns condition().
  bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);
  // Runs a nested loop until done() holds: the toolkit's loop when one is installed, otherwise
  // the pump itself for at most headlessLimitMs. Returns done().
  bool RunModalLoop(const std::function<bool()>& done, DWORD headlessLimitMs);
  int ModalDepth() const { return m_modalDepth.load(); }

  // Toolkit integration.
  using ModalLoop = std::function<void(const std::function<bool()>& done)>;
  void SetWakeHook(std::function<void()> wake);
  void SetModalLoop(ModalLoop loop);
  void SetRenderer(WindowRenderer* renderer) { m_renderer.store(renderer); }
  WindowRenderer* Renderer() const { return m_renderer.load(); }

 private:
  UiPump();
  struct Timer {
    UINT elapseMs = 0;
    std::chrono::steady_clock::time_point due;
  };
  void RequestWake();

  mutable std::mutex m_mutex;  // queue, dirty list, timers
  std::condition_variable m_changed;
  std::deque<WindowMessage> m_queue;
  std::vector<HWND> m_dirty;
  std::map<std::pair<HWND, UINT>, Timer> m_timers;
  std::atomic<std::thread::id> m_uiThread;
  std::atomic<bool> m_wakeRequested{false};
  std::mutex m_hookLock;  // wake hook and modal loop
  std::function<void()> m_wake;
  ModalLoop m_modalLoop;
  std::atomic<WindowRenderer*> m_renderer{nullptr};
  std::atomic<int> m_modalDepth{0};
};

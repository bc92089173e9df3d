#pragma once
#include <atomic>
#include <thread>

#include "ui/UiTypes.h"

// Turns SIGTERM, SIGINT and SIGHUP into a close request for the main window, so a session
// ending or a kill from a shell runs the same orderly shutdown as File > Exit. Create it before
// any other thread: the signals are blocked in every thread started after it and taken here
// (SIGUSR2 too, which the watch uses to end itself).
class TerminationWatch {
 public:
  TerminationWatch();
  ~TerminationWatch();
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;

  // The window that gets WM_CLOSE; until it is set a signal ends the program at once.
  void SetTarget(HWND window) { m_target.store(window); }

 private:
  void Run();
  std::atomic<HWND> m_target{kNoWindow};
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

#include "app/TerminationWatch.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>

#include "ui/Window.h"

namespace {

// SIGUSR2 only wakes the watch when it is to end.
constexpr int kWake = SIGUSR2;

sigset_t Watched() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, kWake);
  return set;
}

}  // namespace

TerminationWatch::TerminationWatch() {
  const sigset_t set = Watched();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  m_thread = std::thread([this] { Run(); });
}

TerminationWatch::~TerminationWatch() {
  m_stop.store(true);
  pthread_kill(m_thread.native_handle(), kWake);
  m_thread.join();
}

void TerminationWatch::Run() {
  const sigset_t set = Watched();
  while (!m_stop.load()) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0 || signal == kWake) continue;
    const HWND target = m_target.load();
    if (target == kNoWindow || !::PostMessage(target, WM_CLOSE)) std::_Exit(128 + signal);
  }
}

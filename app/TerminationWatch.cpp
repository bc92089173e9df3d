#include "app/TerminationWatch.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "ui/Window.h"

namespace {

sigset_t Watched() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
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
  m_thread.join();
}

void TerminationWatch::Run() {
  const sigset_t set = Watched();
  const timespec poll{0, 100 * 1000 * 1000};  // the longest the destructor waits for this thread
  while (!m_stop.load()) {
    const int signal = sigtimedwait(&set, nullptr, &poll);
    if (signal < 0) continue;  // timeout or interruption
    const HWND target = m_target.load();
    if (target == kNoWindow || !::PostMessage(target, WM_CLOSE)) std::_Exit(128 + signal);
  }
}

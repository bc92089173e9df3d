#include "platform/WorkerThread.h"

#include <pthread.h>

#include <chrono>
#include <system_error>

WorkerThread::WorkerThread(std::string name) : m_name(std::move(name)) {}

WorkerThread::~WorkerThread() { EndThread(); }

bool WorkerThread::CreateThread(bool suspended) {
  if (m_thread.joinable()) return false;
  m_ending.store(false, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_suspendCount = suspended ? 1 : 0;
    UpdateAttention();
  }
  m_quiet = false;
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // The system has no thread to give (a limit reached): the caller is told, nothing runs.
    m_quiet = true;
    return false;
  }
  pthread_setname_np(m_thread.native_handle(), m_name.substr(0, 15).c_str());
  return true;
}

DWORD WorkerThread::SuspendThread() {
  if (!m_thread.joinable()) return 0xFFFFFFFFu;
  std::lock_guard<std::mutex> lock(m_mutex);
  const DWORD previous = m_suspendCount++;
  UpdateAttention();
  return previous;
}

DWORD WorkerThread::ResumeThread() {
  if (!m_thread.joinable()) return 0xFFFFFFFFu;
  std::lock_guard<std::mutex> lock(m_mutex);
  const DWORD previous = m_suspendCount;
  if (m_suspendCount > 0 && --m_suspendCount == 0) m_changed.notify_all();
  UpdateAttention();
  return previous;
}

DWORD WorkerThread::SuspendCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_suspendCount;
}

bool WorkerThread::PostThreadMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (!m_thread.joinable() || IsEnding()) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_queue.push_back(ThreadMessage{message, wParam, lParam});
  UpdateAttention();
  m_changed.notify_all();
  return true;
}

void WorkerThread::Wake() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_wake = true;
  m_changed.notify_all();
}

void WorkerThread::EndThread() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ending.store(true, std::memory_order_release);
    UpdateAttention();
    m_changed.notify_all();
  }
  if (m_thread.joinable() && !IsCurrentThread()) m_thread.join();
}

bool WorkerThread::OnIdle(long) { return false; }
bool WorkerThread::PreTranslateMessage(const ThreadMessage&) { return false; }
void WorkerThread::OnThreadMessage(const ThreadMessage&) {}
bool WorkerThread::IsIdleMessage(const ThreadMessage&) { return true; }

bool WorkerThread::Pause(DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  const bool cut = m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                      [this] { return IsEnding() || m_wake || !m_queue.empty(); });
  m_wake = false;
  return !cut;
}

void WorkerThread::WaitWhileSuspended(std::unique_lock<std::mutex>& lock) {
  if (IsEnding() || m_suspendCount == 0) return;
  SetQuiet(true);
  m_changed.wait(lock, [this] { return IsEnding() || m_suspendCount == 0; });
  SetQuiet(false);
}

void WorkerThread::UpdateAttention() {
  m_attention.store(IsEnding() || m_suspendCount > 0 || !m_queue.empty(), std::memory_order_release);
}

void WorkerThread::SetQuiet(bool quiet) {
  m_quiet = quiet;
  m_changed.notify_all();
}

bool WorkerThread::WaitForQuiet(DWORD milliseconds) {
  if (IsCurrentThread()) return false;
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return m_quiet || !m_thread.joinable(); });
}

void WorkerThread::Run() {
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitWhileSuspended(lock);
  }
  if (IsEnding() || !InitInstance()) {
    ExitInstance();
    MarkFinished();
    return;
  }
  bool idle = true;
  long idleCount = 0;
  for (;;) {
    while (idle) {
      if (m_attention.load(std::memory_order_acquire)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitWhileSuspended(lock);
        if (IsEnding() || !m_queue.empty()) break;
      }
      if (!OnIdle(idleCount++)) idle = false;
    }
    ThreadMessage message;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      SetQuiet(true);
      m_changed.wait(lock, [this] { return IsEnding() || (!m_queue.empty() && m_suspendCount == 0); });
      if (IsEnding()) break;
      SetQuiet(false);
      message = m_queue.front();
      m_queue.pop_front();
      UpdateAttention();
    }
    if (!PreTranslateMessage(message)) OnThreadMessage(message);
    if (IsIdleMessage(message)) {
      idle = true;
      idleCount = 0;
    }
  }
  ExitInstance();
  MarkFinished();
}

void WorkerThread::MarkFinished() {
  std::lock_guard<std::mutex> lock(m_mutex);
  SetQuiet(true);
}

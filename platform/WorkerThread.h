#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "common/WinTypes.h"
#include "platform/ThreadMessage.h"

// A worker thread with its own message queue and idle processing:
//
//   while the queue is empty, OnIdle(0), OnIdle(1), ... is called until it returns false;
//   then the thread waits for the next message, offers it to PreTranslateMessage and, when
//   that does not take it, to OnThreadMessage; after a message idle processing starts again
//   from count 0.
//
// A suspend count holds the thread at the next safe point (before an idle call or a message)
// while it is above zero; SuspendThread and ResumeThread return the previous count.
//
// The most-derived class must call EndThread() in its destructor, before its own members go,
// because the loop calls its virtual handlers until then.
class WorkerThread {
 public:
  explicit WorkerThread(std::string name = "worker");
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts the platform thread, held before its first step when suspended is true.
  bool CreateThread(bool suspended);
  bool IsCreated() const { return m_thread.joinable(); }

  DWORD SuspendThread();  // 0xFFFFFFFF when there is no thread
  DWORD ResumeThread();   // 0xFFFFFFFF when there is no thread
  DWORD SuspendCount() const;

  bool PostThreadMessage(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

  // Interrupts the current Pause at once (or the next one, when none is running).
  void Wake();

  // Asks the loop to end, wakes it, resumes it if suspended and waits for it. Safe to repeat;
  // from the thread itself it only asks.
  void EndThread();

  // Waits up to milliseconds until the thread runs none of its handlers: it waits for a message,
  // is held by its suspend count, or has ended. True when that holds.
  bool WaitForQuiet(DWORD milliseconds);

  bool IsCurrentThread() const { return std::this_thread::get_id() == m_thread.get_id(); }
  const std::string& Name() const { return m_name; }

 protected:
  virtual bool InitInstance() { return true; }
  virtual int ExitInstance() { return 0; }
  virtual bool OnIdle(long count);
  virtual bool PreTranslateMessage(const ThreadMessage& message);
  virtual void OnThreadMessage(const ThreadMessage& message);
  virtual bool IsIdleMessage(const ThreadMessage& message);

  // Sleeps up to milliseconds; returns false when cut short by a posted message, Wake() or
  // the end of the thread.
  bool Pause(DWORD milliseconds);
  bool IsEnding() const { return m_ending.load(std::memory_order_acquire); }

 private:
  void Run();
  void WaitWhileSuspended(std::unique_lock<std::mutex>& lock);
  void SetQuiet(bool quiet);  // under m_mutex
  void UpdateAttention();     // under m_mutex
  void MarkFinished();

  std::string m_name;
  std::thread m_thread;
  mutable std::mutex m_mutex;  // queue, suspend count, wake flag
  std::condition_variable m_changed;
  std::deque<ThreadMessage> m_queue;
  DWORD m_suspendCount = 0;
  bool m_wake = false;
  bool m_quiet = true;  // no handler running (see WaitForQuiet)
  // A message queued, a suspension or the end asked for: written under m_mutex, read by the idle
  // loop without it, so that a busy idle handler (one frame per turn) takes no lock per turn.
  std::atomic<bool> m_attention{false};
  std::atomic<bool> m_ending{false};
};

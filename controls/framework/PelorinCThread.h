#pragma once
#include <atomic>

#include "common/WinTypes.h"
#include "platform/CriticalSection.h"
#include "platform/WorkerThread.h"
#include "ui/UiTypes.h"

class PelorinCListView;
class Window;

// The base of every monitor pane's worker thread: a thread with its own message queue whose
// idle handler scans, plus the flags and counters by which the pane on the user-interface
// thread starts, pauses and closes it. Every flag has its own lock and no accessor takes two;
// the scan counter and the close flag, read on every idle turn, are atomics instead.
//
// The pane owns the thread object and deletes it; deleting it ends the platform thread.
// A derived thread whose handlers use its own members must call EndThread() in its destructor.
class PelorinCThread : public WorkerThread {
 public:
  PelorinCThread();  // no owner: every member zero
  PelorinCThread(Window* owner, PelorinCListView* listView);
  ~PelorinCThread() override;

  // Scan counter 1, start flag on, then resumes the thread until it runs. Always 0.
  virtual LONG Start(const char* text);
  // Suspends the thread once and clears the start flag.
  virtual void Stop();

  void SetScan(DWORD milliseconds);
  DWORD GetScan();
  void IncreCount();
  DWORD GetCount();
  void SetCount(LONG count);
  // Close flag on, then scan counter 0; wakes a worker pausing between scans.
  void SetClose();
  BOOL IsClose();
  void SetStart(BOOL start);
  BOOL IsStart();
  void SetStop(BOOL stop);
  BOOL IsStop();

  Window* GetMainWnd() const { return m_owner; }
  PelorinCListView* GetListView() const { return m_listView; }

 protected:
  bool InitInstance() override { return true; }
  bool OnIdle(long count) override;

  // Tells the owner list that the worker has seen the stop flag (wParam 1, lParam this thread).
  void PostStopAck();
  // The scan counter as an idle result: non-zero keeps idle processing going.
  bool CountAsIdleResult() { return GetCount() != 0; }

 private:
  Window* m_owner = nullptr;
  HWND m_ownerHwnd = kNoWindow;  // posts go by handle: the list may be gone by then
  PelorinCListView* m_listView = nullptr;

  std::atomic<DWORD> m_count{0};  // a capture thread's idle turn is one frame
  CriticalSection m_scanLock;
  DWORD m_scan = 0;  // ms
  std::atomic<BOOL> m_close{0};
  CriticalSection m_startLock;
  BOOL m_start = 0;
  CriticalSection m_stopLock;
  BOOL m_stop = 0;
};

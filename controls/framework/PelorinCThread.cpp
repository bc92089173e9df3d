#include "controls/framework/PelorinCThread.h"

#include "common/Messages.h"
#include "ui/Window.h"

PelorinCThread::PelorinCThread() : WorkerThread("pelorin-worker") {}

PelorinCThread::PelorinCThread(Window* owner, PelorinCListView* listView)
    : WorkerThread("pelorin-worker"),
      m_owner(owner),
      m_ownerHwnd(owner ? owner->GetSafeHwnd() : kNoWindow),
      m_listView(listView) {}

PelorinCThread::~PelorinCThread() {
  EndThread();
  m_owner = nullptr;
}

LONG PelorinCThread::Start(const char*) {
  SetCount(1);
  SetStart(1);
  // Resume until the previous count says the thread now runs (0 or 1), or the call fails.
  for (;;) {
    const DWORD previous = ResumeThread();
    if (previous == 0xFFFFFFFFu || previous <= 1) break;
  }
  return 0;
}

void PelorinCThread::Stop() {
  SuspendThread();
  SetStart(0);
}

void PelorinCThread::SetScan(DWORD milliseconds) {
  CriticalSectionLock lock(m_scanLock);
  m_scan = milliseconds;
}

DWORD PelorinCThread::GetScan() {
  CriticalSectionLock lock(m_scanLock);
  return m_scan;
}

void PelorinCThread::IncreCount() { m_count.fetch_add(1, std::memory_order_relaxed); }

DWORD PelorinCThread::GetCount() { return m_count.load(std::memory_order_relaxed); }

void PelorinCThread::SetCount(LONG count) { m_count.store(static_cast<DWORD>(count), std::memory_order_relaxed); }

void PelorinCThread::SetClose() {
  m_close.store(1);
  SetCount(0);
  Wake();  // a worker pausing between scans sees the close at once
}

BOOL PelorinCThread::IsClose() { return m_close.load(); }

void PelorinCThread::SetStart(BOOL start) {
  CriticalSectionLock lock(m_startLock);
  m_start = start;
}

BOOL PelorinCThread::IsStart() {
  CriticalSectionLock lock(m_startLock);
  return m_start;
}

void PelorinCThread::SetStop(BOOL stop) {
  {
    CriticalSectionLock lock(m_stopLock);
    m_stop = stop;
  }
  if (stop) Wake();
}

BOOL PelorinCThread::IsStop() {
  CriticalSectionLock lock(m_stopLock);
  return m_stop;
}

bool PelorinCThread::OnIdle(long) { return true; }

void PelorinCThread::PostStopAck() {
  ::PostMessage(m_ownerHwnd, WM_PELORIN_STOP_ACK, 1, reinterpret_cast<LPARAM>(this));
}

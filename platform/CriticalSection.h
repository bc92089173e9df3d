#pragma once
#include <mutex>

// A lock owned by one flag or setting. Usable with std::lock_guard / std::unique_lock.
class CriticalSection {
 public:
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }
  bool try_lock() { return m_mutex.try_lock(); }

 private:
  std::mutex m_mutex;
};

using CriticalSectionLock = std::lock_guard<CriticalSection>;

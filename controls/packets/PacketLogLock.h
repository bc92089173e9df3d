#pragma once
#include <mutex>

#include "controls/packets/PacketLogBuffer.h"

// The capture thread's log lock as the packet windows take it: taking it also writes out the
// records the capture thread still holds in its buffer, so a reader that seeks by a record
// position it was just told about (message 1524, a row's item data) always finds the record.
// Usable with std::lock_guard / std::unique_lock.
//
// The capture thread's own writes take the bare lock (LockForWrite) and leave the batch pending.
class PacketLogLock {
 public:
  explicit PacketLogLock(PacketLogBuffer& pending) : m_pending(pending) {}
  PacketLogLock(const PacketLogLock&) = delete;
  PacketLogLock& operator=(const PacketLogLock&) = delete;

  void lock() {
    m_mutex.lock();
    m_pending.Flush();
  }
  bool try_lock() {
    if (!m_mutex.try_lock()) return false;
    m_pending.Flush();
    return true;
  }
  void unlock() { m_mutex.unlock(); }

  // The lock without writing out the pending batch.
  std::mutex& Bare() { return m_mutex; }

 private:
  std::mutex m_mutex;
  PacketLogBuffer& m_pending;
};

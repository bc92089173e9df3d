#pragma once
#include <string>

// An advisory lock on a file, held from construction until destruction. Every open of the
// lock counts on its own, so two threads of one process exclude each other too; a process
// that dies drops its lock.
class FileLock {
 public:
  // TryExclusive does not wait: the lock is not held when another open holds it.
  enum class Mode { Shared, Exclusive, TryExclusive };
  FileLock(const std::string& path, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool IsHeld() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

#pragma once
#include <string>

// An advisory lock on a file, held from construction until destruction. Every open of the
// lock counts on its own, so two threads of one process exclude each other too; a process
// that dies drops its lock.
class FileLock {
 public:
  // TryExclusive does not wait: the lock is not held when another open holds it, nor when the
  // name came to another file while it was being locked, so a lock held is on the named file.
  enum class Mode { Shared, Exclusive, TryExclusive };
  // Opens the file for reading and writing (created when missing) and locks it.
  FileLock(const std::string& path, Mode mode);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool IsHeld() const { return m_fd >= 0; }
  // Why the lock is not held: another open holds it (TryExclusive), or the file cannot be
  // written (its permissions, an immutable file, a read-only file system).
  bool IsBusy() const { return m_busy; }
  bool IsReadOnly() const { return m_readOnly; }

  // Whether another open holds the file exclusively; false for a missing file. Creates nothing.
  static bool IsLockedExclusive(const std::string& path);

 private:
  int m_fd = -1;
  bool m_busy = false;
  bool m_readOnly = false;
};

#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// A firewall file (the rule file, the process file) opened with the sharing that the console and
// the engine agree on. The console opens these files alone, under an exclusive advisory lock, for
// each load and each save; the engine reads them under a shared lock. So each side fails to open
// a file while the other holds it, as with files opened without sharing.
//
// A save writes a temporary file beside the target and renames it over the target while it holds
// the lock on the old file, so a failed save leaves the old file whole. A reader that waited for
// the lock of a file replaced meanwhile opens the new file instead of reading the old one.
class FirewallLockedFile {
 public:
  enum class Sharing { Exclusive, Shared };

  // How long an open waits for a holder to let go: a holder keeps a file for one load or save.
  static constexpr int kLockWaitMs = 250;

  FirewallLockedFile() = default;
  ~FirewallLockedFile() { Close(); }
  FirewallLockedFile(const FirewallLockedFile&) = delete;
  FirewallLockedFile& operator=(const FirewallLockedFile&) = delete;

  // Opens an existing file for reading under the lock; false when it is missing, stays held or
  // cannot be read. WasMissing() then tells a file that is not there from one that is held.
  bool OpenRead(const std::string& path, Sharing sharing, int waitMs = kLockWaitMs);
  bool WasMissing() const { return m_missing; }
  // Reads up to size bytes; fewer only at the end of the file or on an error.
  std::size_t Read(void* buffer, std::size_t size);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // Replaces the whole file (creating it when missing) under the exclusive lock, keeping the mode
  // and owner of the file replaced. False when another holder keeps it or it cannot be written;
  // it is unchanged then.
  static bool Replace(const std::string& path, std::string_view bytes, int waitMs = kLockWaitMs);

 private:
  int m_fd = -1;
  bool m_missing = false;
};

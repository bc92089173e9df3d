#include "controls/firewall/FirewallLockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/FileContents.h"

namespace {

using Clock = std::chrono::steady_clock;

// Opens the file that the path names now and locks it; -1 when it cannot be opened or the lock
// stays held past the deadline. A file that was replaced while we waited for its lock is given
// up for the one that replaced it. missing, when given, tells that the file was not there.
int OpenLocked(const std::string& path, int flags, int operation, int waitMs, bool* missing = nullptr) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (missing) *missing = errno == ENOENT;
      return -1;
    }
    int rc;
    while ((rc = ::flock(fd, operation | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
      struct stat held {
      }, named{};
      if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino)
        return fd;
    }
    ::close(fd);
    if ((rc != 0 && errno != EWOULDBLOCK) || Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

bool FirewallLockedFile::OpenRead(const std::string& path, Sharing sharing, int waitMs) {
  Close();
  m_missing = false;
  m_fd = OpenLocked(path, O_RDONLY, sharing == Sharing::Exclusive ? LOCK_EX : LOCK_SH, waitMs, &m_missing);
  return m_fd >= 0;
}

std::size_t FirewallLockedFile::Read(void* buffer, std::size_t size) {
  std::size_t done = 0;
  while (m_fd >= 0 && done < size) {
    const ssize_t n = ::read(m_fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void FirewallLockedFile::Close() {
  if (m_fd >= 0) ::close(m_fd);  // drops the lock
  m_fd = -1;
}

bool FirewallLockedFile::Replace(const std::string& path, std::string_view bytes, int waitMs) {
  // The lock is taken on the file as it stands (made empty when missing) and held until the new
  // file has taken its name.
  struct stat before {};
  const bool existed = ::stat(path.c_str(), &before) == 0;
  const int fd = OpenLocked(path, O_RDWR | O_CREAT, LOCK_EX, waitMs);
  if (fd < 0) return false;
  const bool saved = ReplaceFileContents(path, bytes);
  if (!saved && !existed) ::unlink(path.c_str());
  ::close(fd);
  return saved;
}

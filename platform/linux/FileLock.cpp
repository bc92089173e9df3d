#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

int LockRetrying(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

bool IsNamedBy(int fd, const std::string& path) {
  struct stat opened {};
  struct stat named {};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

}  // namespace

FileLock::FileLock(const std::string& path, Mode mode) {
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_fd < 0) {
    m_readOnly = errno == EACCES || errno == EPERM || errno == EROFS;
    return;
  }
  const int operation = mode == Mode::Shared ? LOCK_SH : (mode == Mode::Exclusive ? LOCK_EX : LOCK_EX | LOCK_NB);
  const int rc = LockRetrying(m_fd, operation);
  if (rc != 0) m_busy = errno == EWOULDBLOCK;
  // A file renamed onto the name between the open and the lock (a save puts its copy in place so)
  // leaves this lock on a file nobody reaches by the name: the name is busy.
  if (rc == 0 && mode == Mode::TryExclusive && !IsNamedBy(m_fd, path)) m_busy = true;
  if (rc != 0 || m_busy) {
    ::close(m_fd);
    m_fd = -1;
  }
}

FileLock::~FileLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing drops the lock
}

bool FileLock::IsLockedExclusive(const std::string& path) {
  // A shared try fails only against an exclusive holder, and read-only it needs no write access.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // never waits on a pipe
  if (fd < 0) return false;
  const bool locked = LockRetrying(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

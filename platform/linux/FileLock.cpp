#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

FileLock::FileLock(const std::string& path, Mode mode) {
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_fd < 0) return;
  int rc;
  do {
    rc = ::flock(m_fd, mode == Mode::Shared ? LOCK_SH : (mode == Mode::Exclusive ? LOCK_EX : LOCK_EX | LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

FileLock::~FileLock() {
  if (m_fd >= 0) ::close(m_fd);  // closing drops the lock
}

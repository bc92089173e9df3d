#include "setup/FileTransaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

FileTransaction::~FileTransaction() {
  if (!m_finished) Rollback();
}

bool FileTransaction::Fail(const std::string& what, const std::string& path) {
  m_error = "cannot " + what + " " + path + ": " + std::strerror(errno);
  return false;
}

bool FileTransaction::MakeFolder(const std::string& path, mode_t mode) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), mode) == 0) {
      ::chmod(part.c_str(), mode);  // whatever the umask
      m_createdFolders.push_back(part);
      continue;
    }
    struct stat info {};
    if (errno == EEXIST && ::stat(part.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
    if (errno == EEXIST) errno = ENOTDIR;
    return Fail("create the folder", part);
  }
  return true;
}

bool FileTransaction::Stage(const std::string& target, int sourceFd, std::string_view bytes, mode_t mode) {
  const std::string staged = StagedName(target);
  ::unlink(staged.c_str());  // left by an installation that was stopped
  const int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return Fail("write", target);
  m_entries.push_back({target});
  bool written = true;
  if (sourceFd >= 0) {
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = ::read(sourceFd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) break;
      if (n < 0 || !WriteAll(fd, buffer, static_cast<std::size_t>(n))) {
        written = false;
        break;
      }
    }
  } else {
    written = WriteAll(fd, bytes.data(), bytes.size());
  }
  written = written && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  if (::close(fd) != 0) written = false;
  return written || Fail("write", target);
}

bool FileTransaction::StageCopy(const std::string& source, const std::string& target, mode_t mode) {
  const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail("read", source);
  const bool staged = Stage(target, fd, {}, mode);
  ::close(fd);
  return staged;
}

bool FileTransaction::StageBytes(const std::string& target, std::string_view bytes, mode_t mode) {
  return Stage(target, -1, bytes, mode);
}

bool FileTransaction::Commit() {
  for (Entry& entry : m_entries) {
    if (Exists(entry.target)) {
      if (::rename(entry.target.c_str(), OldName(entry.target).c_str()) != 0) return Fail("replace", entry.target);
      entry.hadOld = true;
    }
    entry.state = State::OldMoved;
    if (::rename(StagedName(entry.target).c_str(), entry.target.c_str()) != 0) return Fail("place", entry.target);
    entry.state = State::Placed;
  }
  return true;
}

void FileTransaction::Finish() {
  for (const Entry& entry : m_entries)
    if (entry.hadOld) ::unlink(OldName(entry.target).c_str());
  m_entries.clear();
  m_createdFolders.clear();
  m_finished = true;
}

void FileTransaction::Rollback() {
  for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
    const std::string& target = it->target;
    ::unlink((it->state == State::Placed ? target : StagedName(target)).c_str());
    if (it->hadOld) ::rename(OldName(target).c_str(), target.c_str());
  }
  for (auto it = m_createdFolders.rbegin(); it != m_createdFolders.rend(); ++it) ::rmdir(it->c_str());
  m_entries.clear();
  m_createdFolders.clear();
  m_finished = true;
}

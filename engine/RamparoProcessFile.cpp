#include "RamparoProcessFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kLockWait{500};  // the processes window holds it for one save

bool LockShared(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ReadRecord(int fd, _FirewallProcessRecord& record) {
  auto* bytes = reinterpret_cast<char*>(&record);
  std::size_t done = 0;
  while (done < sizeof record) {
    const ssize_t n = ::read(fd, bytes + done, sizeof record - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<_FirewallProcessRecord> RamparoProcessFile::Read(const std::string& path, bool* opened) {
  std::vector<_FirewallProcessRecord> records;
  if (opened) *opened = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return records;
  if (LockShared(fd)) {
    if (opened) *opened = true;
    _FirewallProcessRecord record;
    while (records.size() < kMaxRecords && ReadRecord(fd, record)) records.push_back(record);
  }
  ::close(fd);
  return records;
}

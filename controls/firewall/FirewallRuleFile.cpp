#include "controls/firewall/FirewallRuleFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kLockWait{500};  // a writer holds the file for one save

// Reads up to size bytes; fewer only at the end of the file or on an error.
std::size_t ReadSome(int fd, void* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool LockShared(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

FirewallRuleFile::Contents FirewallRuleFile::Read(const std::string& path, std::size_t maxRecords) {
  Contents contents;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return contents;
  if (!LockShared(fd)) {
    ::close(fd);
    return contents;
  }
  contents.opened = true;

  std::uint8_t count[4];
  if (ReadSome(fd, count, sizeof count) == sizeof count) {
    contents.declaredCount = static_cast<std::uint32_t>(count[0]) | static_cast<std::uint32_t>(count[1]) << 8 |
                             static_cast<std::uint32_t>(count[2]) << 16 | static_cast<std::uint32_t>(count[3]) << 24;
  }
  if (contents.declaredCount != 0) {
    _FirewallRule rule;
    while (contents.rules.size() < maxRecords && ReadSome(fd, &rule, sizeof rule) == sizeof rule) {
      contents.rules.push_back(rule);
    }
  }
  ::close(fd);  // drops the lock
  return contents;
}

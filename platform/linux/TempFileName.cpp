#include "platform/TempFileName.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {

constexpr unsigned kNumbers = 0x10000;  // four hex digits, as the platform's names have

std::atomic<unsigned> g_next{0};

}  // namespace

std::string GetTempFileName(const std::string& folder, const std::string& prefix) {
  // Start from a number that differs between processes and calls, then walk every number once.
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const unsigned start = static_cast<unsigned>(getpid()) * 31u + static_cast<unsigned>(now.tv_nsec) +
                         g_next.fetch_add(1) * 7919u;
  const std::string stem = folder + prefix.substr(0, 3);
  for (unsigned i = 0; i < kNumbers; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", (start + i) % kNumbers);
    const std::string path = stem + hex + ".tmp";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      close(fd);
      return path;
    }
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

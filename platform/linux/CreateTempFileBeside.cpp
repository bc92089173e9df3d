#include "platform/CreateTempFileBeside.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

int CreateTempFileBeside(const std::string& target, const char* suffix, mode_t mode, std::string& path) {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  constexpr std::uint64_t kBase = sizeof kDigits - 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint64_t number = 0;
    if (::getrandom(&number, sizeof number, 0) != static_cast<ssize_t>(sizeof number)) return -1;
    std::string name = target + ".";
    for (int i = 0; i < 8; ++i, number /= kBase) name += kDigits[number % kBase];
    name += suffix;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      path = std::move(name);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;  // errno is EEXIST
}

#pragma once
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

// A private folder removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/pelorin-firewall-XXXXXX";
    m_path = ::mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(m_path); }
  const std::string& Path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Polls the condition until it holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A 32-bit field of the interface file read without attaching (no lock is taken).
inline std::uint32_t PeekBlock(const std::string& file, std::size_t offset) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::uint32_t value = 0;
  if (::pread(fd, &value, sizeof value, static_cast<off_t>(offset)) != sizeof value) value = 0;
  ::close(fd);
  return value;
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

#include "platform/linux/SocketOwners.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// Directory entries straight from the kernel into one buffer: no per-entry allocation.
class DirectoryReader {
 public:
  explicit DirectoryReader(int fd) : m_fd(fd) {}
  ~DirectoryReader() {
    if (m_fd >= 0) ::close(m_fd);
  }
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  int Fd() const { return m_fd; }

  // The next entry's name, or null at the end or on a read error (a vanished process).
  const char* Next() {
    while (m_pos >= m_size) {
      if (m_fd < 0) return nullptr;
      const long n = ::syscall(SYS_getdents64, m_fd, m_buffer, sizeof m_buffer);
      if (n <= 0) return nullptr;
      m_size = static_cast<std::size_t>(n);
      m_pos = 0;
    }
    // Each record: inode (8), offset (8), record length (2), type (1), zero-terminated name.
    constexpr std::size_t kNameOffset = 19;
    unsigned short length = 0;
    std::memcpy(&length, m_buffer + m_pos + 16, sizeof length);
    if (length <= kNameOffset || length > m_size - m_pos) {
      m_pos = m_size;  // a malformed record ends this buffer
      return Next();
    }
    const char* name = m_buffer + m_pos + kNameOffset;
    m_pos += length;
    return name;
  }

 private:
  int m_fd;
  alignas(8) char m_buffer[32768];
  std::size_t m_size = 0;
  std::size_t m_pos = 0;
};

bool ParseDecimal(const char* text, std::uint32_t& value) {
  if (*text < '0' || *text > '9') return false;
  std::uint64_t v = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
    v = v * 10 + static_cast<unsigned>(*text - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  value = static_cast<std::uint32_t>(v);
  return true;
}

// "socket:[12345]" -> 12345.
bool SocketInode(const char* link, std::size_t length, std::uint32_t& inode) {
  constexpr char kPrefix[] = "socket:[";
  constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
  if (length < kPrefixLength + 2 || std::memcmp(link, kPrefix, kPrefixLength) != 0 || link[length - 1] != ']')
    return false;
  std::uint64_t v = 0;
  for (std::size_t i = kPrefixLength; i + 1 < length; ++i) {
    if (link[i] < '0' || link[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(link[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  inode = static_cast<std::uint32_t>(v);
  return true;
}

// The socket inodes the last walk of this thread met, each with its lowest owner. A scan reads
// the tables of both families and protocols one after the other, and each would otherwise walk
// every process's files again for the same sockets. Kept only briefly: an inode is not reused
// so soon.
struct RecentWalk {
  std::chrono::steady_clock::time_point began;
  std::unordered_map<std::uint32_t, std::uint32_t> owners;
};
thread_local RecentWalk t_recent;
constexpr auto kRecentFor = std::chrono::milliseconds(200);

}  // namespace

void FindSocketOwners(std::unordered_map<std::uint32_t, std::uint32_t>& owners) {
  std::size_t wanted = 0;
  for (const auto& entry : owners)
    if (entry.second == 0) ++wanted;
  if (wanted == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - t_recent.began < kRecentFor) {
    for (auto& entry : owners) {
      if (entry.second != 0) continue;
      const auto seen = t_recent.owners.find(entry.first);
      if (seen == t_recent.owners.end()) continue;
      entry.second = seen->second;
      if (--wanted == 0) return;
    }
  } else {
    t_recent.began = now;
    t_recent.owners.clear();
  }

  DirectoryReader proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (proc.Fd() < 0) return;
  char path[32];
  char link[64];
  while (const char* name = proc.Next()) {
    std::uint32_t pid = 0;
    if (!ParseDecimal(name, pid) || pid == 0) continue;
    std::snprintf(path, sizeof path, "%u/fd", pid);
    DirectoryReader files(::openat(proc.Fd(), path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (files.Fd() < 0) continue;  // gone, or not ours to read
    while (const char* file = files.Next()) {
      if (file[0] == '.') continue;
      const ssize_t n = ::readlinkat(files.Fd(), file, link, sizeof link);
      if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) continue;
      std::uint32_t inode = 0;
      if (!SocketInode(link, static_cast<std::size_t>(n), inode)) continue;
      t_recent.owners.emplace(inode, pid);  // the first met is the lowest owner
      auto it = owners.find(inode);
      if (it == owners.end() || it->second != 0) continue;
      it->second = pid;
      if (--wanted == 0) return;
    }
  }
}

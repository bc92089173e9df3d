#include "controls/packets/PacketLogBuffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/LogRecMarker.h"
#include "wincap/PacketLogFile.h"

namespace {

// Captured traffic may hold other people's data: the log is readable by its owner only.
constexpr mode_t kLogFileMode = 0600;

}  // namespace

PacketLogBuffer::PacketLogBuffer() : m_buffer(new std::uint8_t[kCapacity]) {}

PacketLogBuffer::~PacketLogBuffer() { Close(); }

std::int64_t PacketLogBuffer::NowMs() {
  timespec now{};
  // The coarse clock costs a few ns; its tick of a few ms is fine for a 20 ms age.
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool PacketLogBuffer::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kLogFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  m_fd = fd;
  return true;
}

void PacketLogBuffer::Close() {
  if (m_fd < 0) return;
  Flush();
  ::close(m_fd);
  m_fd = -1;
}

LONG PacketLogBuffer::Write(const void* data, LONG length, const char* source,
                            const char* destination, const char* time, DWORD* position) {
  if (m_fd < 0 || data == nullptr || length < 1 || length > PacketLogFile::kMaxDataLength) return 0;
  const std::size_t record = sizeof(_LogRecMarker) + static_cast<std::size_t>(length);
  if (m_used + record > kCapacity) Flush();
  if (m_used == 0) {
    // A new batch starts at the present end of the file.
    struct stat st{};
    if (::fstat(m_fd, &st) != 0) return 0;
    m_base = st.st_size;
    m_firstAtMs = NowMs();
  }
  const std::int64_t at = m_base + static_cast<std::int64_t>(m_used);
  if (at > PacketLogFile::kMaxRecordPosition) return 0;

  _LogRecMarker header;
  PacketLogFile::BuildHeader(header, static_cast<DWORD>(at), length, source, destination, time);
  std::memcpy(m_buffer.get() + m_used, &header, sizeof header);
  std::memcpy(m_buffer.get() + m_used + sizeof header, data, static_cast<std::size_t>(length));
  m_used += record;
  if (position) *position = static_cast<DWORD>(at);
  return length;
}

bool PacketLogBuffer::Flush() {
  if (m_used == 0 || m_fd < 0) return true;
  const std::uint8_t* p = m_buffer.get();
  std::size_t left = m_used;
  std::int64_t at = m_base;
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::pwrite(m_fd, p, left, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok) {
    ++m_batches;
  } else {
    // Cut the partial batch off so readers never meet half a record.
    [[maybe_unused]] const int rc = ::ftruncate(m_fd, m_base);
    ++m_lostBatches;
  }
  m_used = 0;
  return ok;
}

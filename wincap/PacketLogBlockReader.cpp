#include "wincap/PacketLogBlockReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wincap/PacketLogFile.h"

namespace {

// Room for a whole block plus the largest record that may straddle its end.
constexpr std::size_t kLargestRecord = PacketLogFile::kHeaderLength + PacketLogFile::kMaxDataLength;

}  // namespace

PacketLogBlockReader::~PacketLogBlockReader() { Close(); }

bool PacketLogBlockReader::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  m_fd = fd;
  ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  m_capacity = kBlockBytes + kLargestRecord;
  if (!m_buffer) m_buffer = std::make_unique<std::uint8_t[]>(m_capacity);
  return true;
}

bool PacketLogBlockReader::OpenLike(const PacketLogBlockReader& other) {
  Close();
  if (other.m_fd < 0) return false;
  m_fd = ::fcntl(other.m_fd, F_DUPFD_CLOEXEC, 0);
  if (m_fd < 0) return false;
  m_capacity = kBlockBytes + kLargestRecord;
  if (!m_buffer) m_buffer = std::make_unique<std::uint8_t[]>(m_capacity);
  return true;
}

void PacketLogBlockReader::SeekTo(std::int64_t position) {
  m_bufferOffset = position;
  m_at = m_end = 0;
}

std::int64_t PacketLogBlockReader::FindHeaderFrom(std::int64_t from, std::int64_t before) {
  constexpr std::size_t kMarker = sizeof kLogRecordMarker;  // the text and its zero
  for (SeekTo(from); Position() < before && Ensure(PacketLogFile::kHeaderLength);) {
    const std::uint8_t* at = m_buffer.get() + m_at;
    const std::size_t span = m_end - m_at - PacketLogFile::kHeaderLength + 1;  // starts with a whole header
    const void* hit = ::memmem(at, span + kMarker - 1, kLogRecordMarker, kMarker);
    if (hit == nullptr) {
      m_at += span;
      continue;
    }
    m_at += static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - at);
    if (Position() >= before) break;
    _LogRecMarker header;
    std::memcpy(&header, m_buffer.get() + m_at, sizeof header);
    if (PacketLogFile::IsRecordHeader(header) && static_cast<std::int64_t>(header.position) == Position())
      return Position();
    ++m_at;
  }
  return -1;
}

void PacketLogBlockReader::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_bufferOffset = 0;
  m_at = m_end = 0;
}

std::int64_t PacketLogBlockReader::Length() const {
  if (m_fd < 0) return -1;
  struct stat st{};
  if (::fstat(m_fd, &st) != 0) return -1;
  return st.st_size;
}

bool PacketLogBlockReader::Ensure(std::size_t n) {
  if (m_end - m_at >= n) return true;
  if (m_fd < 0) return false;
  // Keep the unread tail and fill the buffer up behind it.
  const std::size_t kept = m_end - m_at;
  if (m_at > 0) {
    std::memmove(m_buffer.get(), m_buffer.get() + m_at, kept);
    m_bufferOffset += static_cast<std::int64_t>(m_at);
    m_at = 0;
    m_end = kept;
  }
  while (m_end < n) {
    const ssize_t got = ::pread(m_fd, m_buffer.get() + m_end, m_capacity - m_end,
                                m_bufferOffset + static_cast<std::int64_t>(m_end));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // end of file (for now) or an error
    m_end += static_cast<std::size_t>(got);
  }
  return true;
}

bool PacketLogBlockReader::Next(Record& record) {
  if (!Ensure(PacketLogFile::kHeaderLength)) return false;
  std::memcpy(&record.header, m_buffer.get() + m_at, sizeof record.header);
  if (!PacketLogFile::IsRecordHeader(record.header)) return false;
  const std::int64_t position = Position();
  if (position > PacketLogFile::kMaxRecordPosition) return false;
  const std::size_t size = PacketLogFile::kHeaderLength + static_cast<std::size_t>(record.header.dataLength);
  if (!Ensure(size)) return false;
  record.data = m_buffer.get() + m_at + PacketLogFile::kHeaderLength;
  record.position = position;
  m_at += size;
  return true;
}

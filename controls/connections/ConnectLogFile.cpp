#include "controls/connections/ConnectLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/LogRecMarker.h"
#include "common/LogRecMarkerConnect.h"

namespace {

constexpr std::size_t kPositionField = offsetof(_LogRecMarkerConnect, position);
// The byte the writers of one file take turns on: far past any record, so a reader that locks
// records (none does today) would never meet it.
constexpr off_t kWriterLockByte = off_t{1} << 62;
constexpr std::int64_t kMaxData = 0xFFFF;  // bytes of data a record may carry
constexpr std::size_t kWalkBlock = 1 << 20;

bool IsMarkerStart(const _LogRecMarkerConnect& header, std::size_t bytes) {
  char marker[sizeof header.marker] = {};
  std::memcpy(marker, kLogRecordMarker, sizeof kLogRecordMarker);
  return std::memcmp(header.marker, marker, std::min(bytes, sizeof marker)) == 0;
}

// Where a record cut short by the end of the file begins, or -1 when the records reach the end
// whole (or end at bytes that are no record's beginning, which are damage and are left alone).
std::int64_t TornTailStart(int fd, std::int64_t length) {
  std::vector<unsigned char> block;
  std::int64_t blockStart = 0, at = 0;
  _LogRecMarkerConnect header{};
  for (;;) {
    const std::int64_t left = length - at;
    if (left <= 0) return -1;
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, sizeof header));
    if (at < blockStart || at + static_cast<std::int64_t>(want) > blockStart + static_cast<std::int64_t>(block.size())) {
      block.resize(kWalkBlock);
      const ssize_t got = ::pread(fd, block.data(), block.size(), at);
      if (got < static_cast<ssize_t>(want)) return -1;
      block.resize(static_cast<std::size_t>(got));
      blockStart = at;
    }
    std::memcpy(&header, block.data() + (at - blockStart), want);
    if (!IsMarkerStart(header, want)) return -1;
    if (want < sizeof header) return at;
    if (header.dataLength < 0 || header.dataLength > kMaxData) return -1;
    const std::int64_t next = at + static_cast<std::int64_t>(sizeof header) + header.dataLength;
    if (next > length) return at;
    at = next;
  }
}

}  // namespace

ConnectLogFile::~ConnectLogFile() { Close(); }

bool ConnectLogFile::Open(const std::string& path, Mode mode) {
  Close();
  if (path.empty()) return false;
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Append: flags |= O_RDWR | O_CREAT; break;
    case Mode::ReadOnly: flags |= O_RDONLY; break;
    case Mode::Truncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return false;
  m_fd = fd;
  m_writable = mode != Mode::ReadOnly;
  m_position = 0;
  m_pending.clear();
  m_pendingRecords.clear();
  m_lastBlock = 0;
  DropReadAhead();
  if (mode == Mode::Append) CutTornTail();
  return true;
}

void ConnectLogFile::CutTornTail() {
  // Under the writers' lock: another writer's block is never in flight while the tail is judged.
  const bool locked = LockWriter(true);
  const std::int64_t length = static_cast<std::int64_t>(FileSize());
  const std::int64_t torn = length > 0 ? TornTailStart(m_fd, length) : -1;
  if (torn >= 0) {
    [[maybe_unused]] const int rc = ::ftruncate(m_fd, static_cast<off_t>(torn));
  }
  if (locked) LockWriter(false);
}

void ConnectLogFile::Close() {
  if (m_fd < 0) return;
  Flush();
  ::close(m_fd);
  m_fd = -1;
  m_writable = false;
  m_position = 0;
  m_pending.clear();
  m_pending.shrink_to_fit();
  m_pendingRecords.clear();
  m_pendingRecords.shrink_to_fit();
  m_read.clear();
  m_read.shrink_to_fit();
  DropReadAhead();
}

std::uint64_t ConnectLogFile::FileSize() {
  struct stat info{};
  if (m_fd < 0 || ::fstat(m_fd, &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

bool ConnectLogFile::AppendRecord(const void* header, std::size_t headerBytes, const void* data,
                                  std::size_t dataBytes) {
  if (m_fd < 0 || !m_writable || headerBytes < kPositionField + 4) return false;
  if (m_pending.empty()) {
    m_pendingSince = std::chrono::steady_clock::now();
    // A block of its usual size without growing step by step.
    if (m_pending.capacity() < kWriteBlock + headerBytes + dataBytes) m_pending.reserve(kWriteBlock + 64 * 1024);
  }
  m_pendingRecords.push_back(m_pending.size());
  const auto* a = static_cast<const unsigned char*>(header);
  const auto* b = static_cast<const unsigned char*>(data);
  m_pending.insert(m_pending.end(), a, a + headerBytes);
  if (dataBytes > 0) m_pending.insert(m_pending.end(), b, b + dataBytes);
  return true;
}

bool ConnectLogFile::LockWriter(bool lock) {
  struct flock range{};
  range.l_type = lock ? F_WRLCK : F_UNLCK;
  range.l_whence = SEEK_SET;
  range.l_start = kWriterLockByte;
  range.l_len = 1;
  int rc;
  do {
    rc = ::fcntl(m_fd, lock ? F_OFD_SETLKW : F_OFD_SETLK, &range);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool ConnectLogFile::Flush() {
  if (m_pending.empty()) return true;
  if (m_fd < 0) {
    DiscardPending();
    return false;
  }
  DropReadAhead();  // the end of the file changes under the read-ahead block
  // Where the block lands is only known under the writers' lock. A file system without such
  // locks is written as by a single writer.
  const bool locked = LockWriter(true);
  const std::uint64_t base = FileSize();
  for (const std::size_t record : m_pendingRecords) {
    const auto position = static_cast<std::uint32_t>(base + record);
    std::memcpy(m_pending.data() + record + kPositionField, &position, sizeof position);
  }
  std::size_t done = 0;
  bool ok = true;
  while (done < m_pending.size()) {
    const ssize_t n =
        ::pwrite(m_fd, m_pending.data() + done, m_pending.size() - done, static_cast<off_t>(base + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Leave the file as it was before these records rather than with a piece of one.
      if (::ftruncate(m_fd, static_cast<off_t>(base)) != 0) {
        // nothing more can be done; the reader stops at the damaged record
      }
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (locked) LockWriter(false);
  m_lastBlock = base;
  m_position = ok ? base + m_pending.size() : base;
  DiscardPending();
  return ok;
}

void ConnectLogFile::DiscardPending() {
  m_pending.clear();
  m_pendingRecords.clear();
}

std::size_t ConnectLogFile::Read(void* buffer, std::size_t bytes) {
  if (m_fd < 0 || bytes == 0) return 0;
  Flush();
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < bytes) {
    if (m_position >= m_readBase && m_position < m_readBase + m_readLength) {
      const std::size_t offset = static_cast<std::size_t>(m_position - m_readBase);
      const std::size_t n = std::min(bytes - done, m_readLength - offset);
      std::memcpy(out + done, m_read.data() + offset, n);
      done += n;
      m_position += n;
      continue;
    }
    if (bytes - done >= kReadBlock) {
      // A large piece goes straight into the caller's buffer.
      const ssize_t n = ::pread(m_fd, out + done, bytes - done, static_cast<off_t>(m_position));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
      m_position += static_cast<std::uint64_t>(n);
      continue;
    }
    if (m_read.size() < kReadBlock) m_read.resize(kReadBlock);
    const ssize_t n = ::pread(m_fd, m_read.data(), kReadBlock, static_cast<off_t>(m_position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      DropReadAhead();
      break;
    }
    m_readBase = m_position;
    m_readLength = static_cast<std::size_t>(n);
  }
  return done;
}

std::uint64_t ConnectLogFile::Skip(std::uint64_t bytes) {
  if (m_fd < 0 || bytes == 0) return 0;
  Flush();
  const std::uint64_t readAheadEnd = m_readBase + m_readLength;
  std::uint64_t end = 0;
  if (m_position >= m_readBase && m_position + bytes <= readAheadEnd) {
    end = readAheadEnd;  // inside the block: the file reaches at least this far
  } else {
    end = FileSize();
  }
  const std::uint64_t moved = m_position >= end ? 0 : std::min(bytes, end - m_position);
  m_position += moved;
  return moved;
}

void ConnectLogFile::Seek(std::uint64_t position) {
  Flush();
  m_position = position;
}

std::uint64_t ConnectLogFile::Tell() {
  Flush();
  return m_position;
}

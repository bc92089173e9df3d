#include "controls/packets/PacketLogBuffer.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/LogRecMarker.h"
#include "wincap/PacketLogBlockReader.h"
#include "wincap/PacketLogFile.h"

namespace {

// Captured traffic may hold other people's data: the log is readable by its owner only.
constexpr mode_t kLogFileMode = 0600;

// Where a record cut short by the end of the file begins, or -1 when the file ends with a whole
// record (or with bytes that are no record's beginning, which are damage and are left alone).
// Such a tail is all a writer that was killed mid-write leaves behind.
std::int64_t TornTailStart(const std::string& path, std::int64_t length) {
  PacketLogBlockReader reader;
  if (!reader.Open(path)) return -1;
  PacketLogBlockReader::Record record{};
  while (reader.Next(record)) {
  }
  const std::int64_t end = reader.Position();
  if (end >= length) return -1;
  _LogRecMarker header{};
  const std::size_t left = static_cast<std::size_t>(std::min<std::int64_t>(length - end, sizeof header));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t got = ::pread(fd, &header, left, end);
  ::close(fd);
  if (got != static_cast<ssize_t>(left)) return -1;
  // The bytes there must be the start of a header: its marker (as far as it goes) and, once the
  // header is whole, a valid data length that reaches past the end of the file.
  const std::size_t markerBytes = std::min(left, sizeof header.marker);
  char marker[sizeof header.marker] = {};
  std::memcpy(marker, kLogRecordMarker, sizeof kLogRecordMarker);
  if (std::memcmp(header.marker, marker, markerBytes) != 0) return -1;
  if (left < sizeof header) return end;
  const bool torn = header.dataLength >= 1 && header.dataLength <= PacketLogFile::kMaxDataLength &&
                    end + static_cast<std::int64_t>(sizeof header) + header.dataLength > length;
  return torn ? end : -1;
}

}  // namespace

PacketLogBuffer::PacketLogBuffer() {
  for (Batch& batch : m_batches) batch.bytes.reset(new std::uint8_t[kCapacity]);
  m_current = &m_batches[0];
  for (int i = 1; i < kBatches; ++i) m_free.push_back(&m_batches[static_cast<std::size_t>(i)]);
}

PacketLogBuffer::~PacketLogBuffer() { Close(); }

std::int64_t PacketLogBuffer::NowMs() {
  timespec now{};
  // The coarse clock costs a few ns; its tick of a few ms is fine for a 20 ms age.
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

PacketLogBuffer::File::~File() {
  if (fd >= 0) ::close(fd);
}

namespace {

int OpenForAppend(const std::string& path, int extra) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | extra, kLogFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

bool PacketLogBuffer::Open(const std::string& path, const PacketLogSet::Limits& limits) {
  Close();
  if (path.empty()) return false;
  m_first = path;
  m_limits = limits;
  if (m_limits.fileBytes <= 0 || m_limits.fileBytes > PacketLogSet::kDefaultFileBytes)
    m_limits.fileBytes = PacketLogSet::kDefaultFileBytes;
  const std::uint32_t number = PacketLogSet::Newest(path);
  const std::string current = PacketLogSet::FileName(path, number);
  const int fd = OpenForAppend(current, 0);
  if (fd < 0) return false;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    // A run that was killed while writing may have left part of a record at the end: it is cut
    // off, so the records this run appends follow the last whole one and readers reach them.
    const std::int64_t torn = TornTailStart(current, st.st_size);
    if (torn >= 0) {
      [[maybe_unused]] const int rc = ::ftruncate(fd, torn);
    }
  }
  m_file = std::make_shared<File>();
  m_file->fd = fd;
  m_file->number = number;
  m_fd = fd;
  m_end = -1;
  m_stopped = false;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = m_failed = m_loss = false;
    m_lostFrom = Place{};
    m_prunedFor = number;
    m_lossSeen.store(false);
  }
  CountSet(number);
  m_writer = std::thread([this] { WriterLoop(); });
  pthread_setname_np(m_writer.native_handle(), "pelorin-logwr");
  return true;
}

void PacketLogBuffer::Close() {
  if (m_fd < 0) return;
  Flush();
  StopWriter();
  m_current->file.reset();
  m_file.reset();
  m_fd = -1;
}

bool PacketLogBuffer::Roll() {
  Submit();  // the old file's records go to the writer with their file
  const std::uint32_t number = m_file->number + 1;
  // A file of that number left from an older set would hold records no row names.
  const int fd = OpenForAppend(PacketLogSet::FileName(m_first, number), O_TRUNC);
  if (fd < 0) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_loss) m_lostFrom = Place{m_file->number, m_end};
    m_failed = m_loss = true;
    m_lossSeen.store(true, std::memory_order_release);
    return false;
  }
  // Counted at once for the status bar; the writer counts again after the ring's removals.
  m_olderBytes.store(m_olderBytes.load() + m_end);
  m_files.store(m_files.load() + 1);
  m_file = std::make_shared<File>();
  m_file->fd = fd;
  m_file->number = number;
  m_fd = fd;
  m_end = 0;
  return true;
}

void PacketLogBuffer::SetRing(std::uint32_t maxFiles, std::int64_t maxBytes) {
  std::lock_guard<std::mutex> lock(m_lock);  // the writer reads them under it
  m_limits.maxFiles = maxFiles;
  m_limits.maxBytes = maxBytes;
}

void PacketLogBuffer::CountSet(std::uint32_t current) {
  std::int64_t older = 0;
  std::uint32_t files = 1;
  for (const PacketLogSet::Member& member : PacketLogSet::Files(m_first)) {
    if (member.number >= current) continue;
    older += member.bytes;
    ++files;
  }
  m_olderBytes.store(older);
  m_files.store(files);
}

void PacketLogBuffer::StopWriter() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stop = true;
  }
  m_changed.notify_all();
  if (m_writer.joinable()) m_writer.join();
}

void PacketLogBuffer::WaitIdle(std::unique_lock<std::mutex>& lock) {
  m_changed.wait(lock, [this] { return m_queued.empty() && !m_writing; });
}

PacketLogBuffer::Place PacketLogBuffer::TakeLoss() {
  std::unique_lock<std::mutex> lock(m_lock);
  WaitIdle(lock);
  if (!m_loss) return Place{};
  m_current->used = 0;
  m_end = -1;
  m_stopped = true;
  m_loss = false;
  m_lossSeen.store(false);
  const Place from = m_lostFrom;
  m_lostFrom = Place{};
  return from;
}

void PacketLogBuffer::Resume() {
  m_stopped = false;
  m_end = -1;
}

LONG PacketLogBuffer::Write(const void* data, LONG length, std::string_view source, std::string_view destination,
                            std::string_view time, DWORD* position, std::uint32_t* file) {
  if (m_fd < 0 || data == nullptr || length < 1 || length > PacketLogFile::kMaxDataLength) return 0;
  if (m_stopped || LossPending()) return 0;
  const std::size_t record = sizeof(_LogRecMarker) + static_cast<std::size_t>(length);
  if (m_current->used + record > kCapacity) Submit();
  if (m_end < 0) {
    // The first record since the log was opened (or resumed) goes to the file's end.
    struct stat st{};
    if (::fstat(m_fd, &st) != 0) return 0;
    m_end = st.st_size;
  }
  // A record that would pass the bound begins the next file; an empty file takes any record.
  if (m_end > 0 && m_end + static_cast<std::int64_t>(record) > m_limits.fileBytes && !Roll()) return 0;
  if (m_current->used == 0) {
    m_current->base = m_end;
    m_current->file = m_file;
    m_firstAtMs = NowMs();
  }
  if (m_end > PacketLogFile::kMaxRecordPosition) return 0;

  _LogRecMarker header;
  PacketLogFile::BuildHeader(header, static_cast<DWORD>(m_end), length, source, destination, time);
  std::uint8_t* at = m_current->bytes.get() + m_current->used;
  std::memcpy(at, &header, sizeof header);
  std::memcpy(at + sizeof header, data, static_cast<std::size_t>(length));
  m_current->used += record;
  if (position) *position = static_cast<DWORD>(m_end);
  if (file) *file = m_file->number;
  m_end += static_cast<std::int64_t>(record);
  return length;
}

void PacketLogBuffer::Submit() {
  if (m_current->used == 0 || m_fd < 0) return;
  std::unique_lock<std::mutex> lock(m_lock);
  m_queued.push_back(m_current);
  m_changed.notify_all();
  // All batches queued or being written: the disk is behind, and gathering waits for it.
  m_changed.wait(lock, [this] { return !m_free.empty(); });
  m_current = m_free.back();
  m_free.pop_back();
  m_current->used = 0;
}

bool PacketLogBuffer::Flush() {
  if (m_fd < 0) return true;
  Submit();
  std::unique_lock<std::mutex> lock(m_lock);
  WaitIdle(lock);
  const bool ok = !m_failed;
  m_failed = false;
  return ok;
}

bool PacketLogBuffer::WriteBatch(const Batch& batch) {
  const int fd = batch.file->fd;
  const std::uint8_t* p = batch.bytes.get();
  std::size_t left = batch.used;
  std::int64_t at = batch.base;
  while (left > 0) {
    const ssize_t n = ::pwrite(fd, p, left, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Cut the partial batch off so readers never meet half a record.
      [[maybe_unused]] const int rc = ::ftruncate(fd, batch.base);
      return false;
    }
    p += n;
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

void PacketLogBuffer::WriterLoop() {
  std::unique_lock<std::mutex> lock(m_lock);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stop || !m_queued.empty(); });
    if (m_queued.empty()) return;  // stopping, and everything written
    Batch* batch = m_queued.front();
    m_queued.pop_front();
    bool ok = false;
    if (!m_loss) {
      // Batches after a lost one are dropped: their positions lay beyond the cut.
      m_writing = true;
      const PacketLogSet::Limits limits = m_limits;
      lock.unlock();
      ok = WriteBatch(*batch);
      const std::uint32_t number = batch->file->number;
      if (ok && number > m_prunedFor) {
        // The new file has begun: the ring drops the oldest beyond its limits. The capture thread
        // never waits for the removal.
        m_prunedFor = number;
        PacketLogSet::Prune(m_first, limits, number);
        CountSet(number);
      }
      lock.lock();
      m_writing = false;
    }
    if (ok) {
      ++m_written;
    } else {
      ++m_lost;
      if (!m_loss) m_lostFrom = Place{batch->file->number, batch->base};
      m_failed = m_loss = true;
      m_lossSeen.store(true, std::memory_order_release);
    }
    batch->used = 0;
    batch->file.reset();  // the last batch of an old file closes it
    m_free.push_back(batch);
    m_changed.notify_all();
  }
}

std::uint64_t PacketLogBuffer::Batches() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_written;
}

std::uint64_t PacketLogBuffer::LostBatches() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_lost;
}

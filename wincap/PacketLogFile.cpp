#include "wincap/PacketLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/FieldText.h"
#include "wincap/DecodedPacket.h"

namespace {

// Captured traffic may hold other people's data: the log is readable by its owner only.
constexpr mode_t kLogFileMode = 0600;

// Never a null pointer, even for an empty text.
std::string_view TextOrEmpty(const char* text) { return std::string_view(text ? text : ""); }

void CopyTexts(const _LogRecMarker& header, const void* data, std::size_t length, std::string* source,
               std::string* destination, std::string* time) {
  PacketLogFile::RecordAddressTexts(header, data, length, source, destination);
  if (time) *time = GetFieldText(header.time);
}

constexpr std::uint32_t kIpHeader = 14;  // after the Ethernet header

}  // namespace

PacketLogFile::~PacketLogFile() { Close(); }

bool PacketLogFile::OpenWith(const std::string& path, int flags, bool writable) {
  Close();
  m_path = path;
  if (path.empty()) return false;
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, kLogFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  m_fd = fd;
  m_writable = writable;
  m_position = 0;
  RefreshLength();
  return true;
}

bool PacketLogFile::OpenShared(const std::string& path) { return OpenWith(path, O_RDWR | O_CREAT, true); }

bool PacketLogFile::OpenReadOnly(const std::string& path) { return OpenWith(path, O_RDONLY, false); }

bool PacketLogFile::OpenTruncate(const std::string& path) {
  return OpenWith(path, O_RDWR | O_CREAT | O_TRUNC, true);
}

void PacketLogFile::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_writable = false;
  m_position = 0;
  m_knownLength = 0;
}

bool PacketLogFile::Truncate() {
  if (!IsWritable()) return false;
  if (::ftruncate(m_fd, 0) != 0) return false;
  m_position = 0;
  m_knownLength = 0;
  return true;
}

bool PacketLogFile::Seek(std::int64_t position) {
  if (m_fd < 0 || position < 0) return false;
  m_position = position;
  return true;
}

std::int64_t PacketLogFile::Length() const {
  if (m_fd < 0) return -1;
  struct stat st{};
  if (::fstat(m_fd, &st) != 0) return -1;
  return st.st_size;
}

void PacketLogFile::RefreshLength() {
  const std::int64_t length = Length();
  m_knownLength = length < 0 ? 0 : length;
}

bool PacketLogFile::DataInFile(std::int64_t end) {
  if (end <= m_knownLength) return true;
  RefreshLength();  // another writer may have appended since
  return end <= m_knownLength;
}

bool PacketLogFile::ReadAt(std::int64_t offset, void* buffer, std::size_t length) const {
  auto* out = static_cast<char*>(buffer);
  while (length > 0) {
    const ssize_t n = ::pread(m_fd, out, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // error or end of file
    out += n;
    offset += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

void PacketLogFile::BuildHeader(_LogRecMarker& header, DWORD position, LONG dataLength, std::string_view source,
                                std::string_view destination, std::string_view time) {
  // Every packet gets a header: the fixed parts come from a ready blank, and the texts are
  // copied into its zeroed fields, each cut to leave its last byte zero.
  static const _LogRecMarker blank = [] {
    _LogRecMarker h{};
    SetFieldText(h.marker, kLogRecordMarker);
    h.cr = 0x0D;
    h.lf = 0x0A;
    return h;
  }();
  header = blank;
  auto copy = [](auto& field, std::string_view text) {
    const std::size_t n = std::min(text.size(), sizeof field - 1);
    if (n > 0) std::memcpy(field, text.data(), n);
  };
  header.position = position;
  copy(header.source, source);
  copy(header.destination, destination);
  copy(header.time, time);
  header.dataLength = dataLength;
  header.recordLength = dataLength + kHeaderLength;
}

void PacketLogFile::RecordAddressTexts(const _LogRecMarker& header, const void* data, std::size_t length,
                                       std::string* source, std::string* destination) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const auto held = static_cast<std::uint32_t>(std::min<std::size_t>(length, kMaxDataLength));
  if ((source || destination) && IsIpv6Frame(bytes, held, kIpHeader)) {
    const DecodedPacket packet = DecodeFrame(bytes, held, kIpHeader);
    if (source) *source = packet.sourceText;
    if (destination) *destination = packet.destinationText;
    return;
  }
  if (source) *source = GetFieldText(header.source);
  if (destination) *destination = GetFieldText(header.destination);
}

std::string_view PacketLogFile::HeaderAddressText(std::string_view text) {
  return text.size() < sizeof(_LogRecMarker::source) ? text : std::string_view();
}

bool PacketLogFile::IsRecordHeader(const _LogRecMarker& header) {
  // The marker compares as a zero-terminated text: its 14 characters and the zero after them.
  return std::memcmp(header.marker, kLogRecordMarker, sizeof kLogRecordMarker) == 0 &&
         header.dataLength >= 1 && header.dataLength <= kMaxDataLength;
}

bool PacketLogFile::ReadValidHeader(std::int64_t at, _LogRecMarker& header) {
  if (at < 0) return false;
  if (!ReadAt(at, &header, sizeof header)) return false;  // end of file or a short header
  if (!IsRecordHeader(header)) return false;
  return DataInFile(at + kHeaderLength + header.dataLength);
}

LONG PacketLogFile::Write(const void* data, LONG length, const char* source,
                          const char* destination, const char* time, DWORD* position) {
  if (!IsWritable() || data == nullptr || length < 1 || length > kMaxDataLength) return 0;
  const off_t end = ::lseek(m_fd, 0, SEEK_END);
  if (end < 0 || end > kMaxRecordPosition) return 0;

  _LogRecMarker header;
  BuildHeader(header, static_cast<DWORD>(end), length, TextOrEmpty(source), TextOrEmpty(destination),
              TextOrEmpty(time));
  iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(data), static_cast<std::size_t>(length)}};
  std::size_t left = sizeof header + static_cast<std::size_t>(length);
  off_t at = end;
  int index = 0;
  while (left > 0) {
    const ssize_t n = ::pwritev(m_fd, parts + index, 2 - index, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Cut the partial record off so readers never meet half a record from us.
      [[maybe_unused]] const int rc = ::ftruncate(m_fd, end);
      return 0;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
    std::size_t done = static_cast<std::size_t>(n);
    while (index < 2 && done >= parts[index].iov_len) {
      done -= parts[index].iov_len;
      ++index;
    }
    if (index < 2) {
      parts[index].iov_base = static_cast<char*>(parts[index].iov_base) + done;
      parts[index].iov_len -= done;
    }
  }
  m_position = at;
  m_knownLength = std::max<std::int64_t>(m_knownLength, at);
  if (position) *position = static_cast<DWORD>(end);
  return length;
}

LONG PacketLogFile::ReadNext(LONG* position, void* buffer, LONG size, std::string* source,
                             std::string* destination, std::string* time, _LogRecMarker* header) {
  if (m_fd < 0) return 0;
  RefreshLength();
  _LogRecMarker record;
  if (buffer == nullptr) {
    // Walk to the end; report the last valid record walked over.
    bool found = false;
    _LogRecMarker last;
    while (ReadValidHeader(m_position, record)) {
      last = record;
      found = true;
      m_position += kHeaderLength + record.dataLength;
    }
    if (found) {
      if (position) *position = static_cast<LONG>(last.position);
      CopyTexts(last, nullptr, 0, source, destination, time);
      if (header) *header = last;
    }
    return -1;
  }
  if (size < 1) return 0;
  if (!ReadValidHeader(m_position, record)) return -1;
  const LONG copied = std::min(record.dataLength, size);
  std::memset(buffer, 0, static_cast<std::size_t>(size));
  if (!ReadAt(m_position + kHeaderLength, buffer, static_cast<std::size_t>(copied))) {
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    return -1;  // the file shrank under us
  }
  if (position) *position = static_cast<LONG>(record.position);
  CopyTexts(record, buffer, static_cast<std::size_t>(copied), source, destination, time);
  if (header) *header = record;
  m_position += kHeaderLength + record.dataLength;
  return copied;
}

LONG PacketLogFile::Read(LONG position, void* buffer, LONG size, std::string* source,
                         std::string* destination, std::string* time, _LogRecMarker* header) {
  if (m_fd < 0 || buffer == nullptr || size < 1) return 0;
  if (position < 0) return -1;
  RefreshLength();
  _LogRecMarker record;
  std::int64_t at = position;
  while (ReadValidHeader(at, record)) {
    if (record.position != static_cast<DWORD>(position)) {
      at += kHeaderLength + record.dataLength;  // a record that is not the one sought
      continue;
    }
    const LONG copied = std::min(record.dataLength, size);
    if (!ReadAt(at + kHeaderLength, buffer, static_cast<std::size_t>(copied))) return -1;
    CopyTexts(record, buffer, static_cast<std::size_t>(copied), source, destination, time);
    if (header) *header = record;
    return copied;
  }
  return -1;
}

LONG PacketLogFile::ReadNextHeader(_LogRecMarker* header) {
  if (m_fd < 0) return 0;
  _LogRecMarker record;
  if (!ReadValidHeader(m_position, record)) return -1;
  m_position += kHeaderLength + record.dataLength;
  if (header) *header = record;
  return 1;
}

LONG PacketLogFile::GetMaxRecNum() {
  if (m_fd < 0) return m_path.empty() ? 0 : GetMaxRecNum(m_path);
  const std::int64_t saved = m_position;
  m_position = 0;
  LONG last = 0;
  ReadNext(&last, nullptr, 0, nullptr, nullptr, nullptr);
  m_position = saved;
  return last;
}

LONG PacketLogFile::GetMaxRecNum(const std::string& path) {
  PacketLogFile file;
  if (!file.OpenReadOnly(path)) return 0;
  return file.GetMaxRecNum();
}

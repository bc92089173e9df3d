#include "wincap/PcapFileReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::uint32_t kMicroMagic = 0xa1b2c3d4;
constexpr std::uint32_t kNanoMagic = 0xa1b23c4d;
constexpr std::size_t kFileHeader = 24;
constexpr std::size_t kRecordHeader = 16;
constexpr std::uint32_t kEthernet = 1;
constexpr std::uint32_t kLinkTypeMask = 0x03FFFFFF;  // the bits above carry frame check sequence flags

}  // namespace

PcapFileReader::~PcapFileReader() { Close(); }

void PcapFileReader::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_block.reset();
  m_at = m_end = 0;
}

std::uint32_t PcapFileReader::Field(const std::uint8_t* at) const {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return m_swapped ? __builtin_bswap32(value) : value;
}

bool PcapFileReader::Open(const char* path) {
  Close();
  do {
    m_fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (m_fd < 0 && errno == EINTR);
  if (m_fd < 0) return false;
  m_block = std::make_unique<std::uint8_t[]>(kBlockSize);
  if (!Have(kFileHeader)) {
    Close();
    return false;
  }
  const std::uint8_t* header = m_block.get();
  std::uint32_t magic;
  std::memcpy(&magic, header, sizeof magic);
  m_swapped = magic == __builtin_bswap32(kMicroMagic) || magic == __builtin_bswap32(kNanoMagic);
  m_nanoseconds = magic == kNanoMagic || magic == __builtin_bswap32(kNanoMagic);
  const bool classic = m_swapped || magic == kMicroMagic || magic == kNanoMagic;
  const auto half = [&](std::size_t at) {
    const std::uint16_t value = static_cast<std::uint16_t>(header[at] | header[at + 1] << 8);
    return m_swapped ? __builtin_bswap16(value) : value;
  };
  // Version 2.4 only: older writers stored the two lengths in either order.
  if (!classic || half(4) != 2 || half(6) != 4 || (Field(header + 20) & kLinkTypeMask) != kEthernet) {
    Close();
    return false;
  }
  const std::uint32_t snapshot = Field(header + 16);
  m_snapshot = snapshot == 0 || snapshot > kMaxSnapshot ? kMaxSnapshot : snapshot;
  m_at = kFileHeader;
  return true;
}

bool PcapFileReader::Have(std::size_t count) {
  if (m_end - m_at >= count) return true;
  // The part of a record already read moves to the front; the rest of the block fills from the file.
  std::memmove(m_block.get(), m_block.get() + m_at, m_end - m_at);
  m_end -= m_at;
  m_at = 0;
  while (m_end < count) {
    const ssize_t n = ::read(m_fd, m_block.get() + m_end, kBlockSize - m_end);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    m_end += static_cast<std::size_t>(n);
  }
  return true;
}

bool PcapFileReader::Next(_PelorinAdapterPacket* frame) {
  if (m_fd < 0 || !Have(kRecordHeader)) return false;
  const std::uint8_t* record = m_block.get() + m_at;
  const std::uint32_t seconds = Field(record);
  const std::uint32_t fraction = Field(record + 4);
  const std::uint32_t captured = Field(record + 8);
  if (captured > kMaxSnapshot || !Have(kRecordHeader + captured)) return false;
  record = m_block.get() + m_at;  // the block may have moved
  frame->seconds = seconds;
  frame->microseconds = m_nanoseconds ? fraction / 1000 : fraction;
  frame->data = record + kRecordHeader;
  // Bytes beyond the file's snapshot are passed over, as the library does.
  frame->length = captured < m_snapshot ? captured : m_snapshot;
  m_at += kRecordHeader + captured;
  return true;
}

#include "wincap/PcapngWriter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/CreateTempFileBeside.h"
#include "wincap/PcapngFormat.h"

namespace {

using namespace pcapng;

constexpr std::size_t kBufferSize = 1 << 20;    // bytes gathered before each write
constexpr std::uint32_t kSectionLength = 28;    // no options
constexpr std::uint32_t kInterfaceLength = 20;  // no options
constexpr std::uint32_t kPacketOverhead = 32;   // block frame and the fixed fields
const std::uint8_t kPadding[4] = {};

// Exported traffic may hold other people's data, as the log does: readable by its owner only.
constexpr mode_t kFileMode = 0600;

}  // namespace

PcapngWriter::~PcapngWriter() { Abandon(); }

bool PcapngWriter::Fail(const std::string& what) {
  if (!m_failed) m_error = what + ": " + std::strerror(errno);
  m_failed = true;
  return false;
}

bool PcapngWriter::Open(const std::string& path, std::uint16_t linkType, std::uint32_t snapLength) {
  Abandon();
  m_failed = false;
  m_error.clear();
  m_path = path;
  m_fd = CreateTempFileBeside(path, kPartSuffix, kFileMode, m_partPath);
  if (m_fd < 0) return Fail("Cannot create a file beside " + path);
  m_buffer.reserve(kBufferSize);
  const std::uint16_t version[2] = {1, 0};
  const std::int64_t unknownLength = -1;
  PutU32(kSectionHeaderBlock);
  PutU32(kSectionLength);
  PutU32(kByteOrderMagic);
  Put(version, sizeof version);
  Put(&unknownLength, 8);
  PutU32(kSectionLength);
  const std::uint16_t linkAndReserved[2] = {linkType, 0};
  PutU32(kInterfaceBlock);
  PutU32(kInterfaceLength);
  Put(linkAndReserved, sizeof linkAndReserved);
  PutU32(snapLength);
  return PutU32(kInterfaceLength);
}

bool PcapngWriter::WritePacket(std::int64_t micros, const std::uint8_t* data, std::uint32_t length) {
  if (m_fd < 0 || m_failed) return false;
  const std::uint32_t padded = (length + 3u) & ~3u;
  const std::uint32_t blockLength = kPacketOverhead + padded;
  const auto stamp = static_cast<std::uint64_t>(micros);
  PutU32(kEnhancedPacketBlock);
  PutU32(blockLength);
  PutU32(0);  // interface 0
  PutU32(static_cast<std::uint32_t>(stamp >> 32));
  PutU32(static_cast<std::uint32_t>(stamp));
  PutU32(length);  // captured
  PutU32(length);  // original: the log keeps no other length
  Put(data, length);
  Put(kPadding, padded - length);
  return PutU32(blockLength);
}

bool PcapngWriter::Put(const void* data, std::size_t length) {
  if (m_failed) return false;
  if (m_buffer.size() + length > kBufferSize && !Drain()) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  m_buffer.insert(m_buffer.end(), bytes, bytes + length);
  return true;
}

bool PcapngWriter::Drain() {
  std::size_t done = 0;
  while (done < m_buffer.size()) {
    const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail("Cannot write " + m_partPath);
    done += static_cast<std::size_t>(n);
  }
  m_buffer.clear();
  return true;
}

bool PcapngWriter::Commit() {
  if (m_fd < 0) return false;
  if (m_failed || !Drain()) {
    Abandon();
    return false;
  }
  if (::fsync(m_fd) != 0) Fail("Cannot write " + m_partPath);
  if (::close(m_fd) != 0) Fail("Cannot write " + m_partPath);
  m_fd = -1;
  if (!m_failed && std::rename(m_partPath.c_str(), m_path.c_str()) != 0) Fail("Cannot rename to " + m_path);
  if (m_failed) {
    ::unlink(m_partPath.c_str());
    return false;
  }
  return true;
}

void PcapngWriter::Abandon() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
  ::unlink(m_partPath.c_str());
  m_buffer.clear();
}

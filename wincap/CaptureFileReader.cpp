#include "wincap/CaptureFileReader.h"

#include <algorithm>
#include <cstring>

#include "wincap/PcapngFormat.h"

namespace {

using namespace pcapng;

constexpr std::uint32_t kPcapMagicMicros = 0xA1B2C3D4;
constexpr std::uint32_t kPcapMagicNanos = 0xA1B23C4D;
constexpr std::size_t kPcapFileHeader = 24;
constexpr std::size_t kPcapRecordHeader = 16;

constexpr std::uint32_t kBlockFrame = 12;     // type, length before the body; length after it
constexpr std::uint32_t kEnhancedFixed = 20;  // interface, time high, time low, captured, original
constexpr std::uint32_t kSimpleFixed = 4;     // original length
constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionTimeResolution = 9;
constexpr std::uint16_t kOptionTimeOffset = 14;

std::uint32_t Swap32(std::uint32_t v) { return __builtin_bswap32(v); }

std::uint32_t Padded(std::uint32_t length) { return (length + 3u) & ~3u; }

std::string At(std::uint64_t frame, std::int64_t offset) {
  return " (frame " + std::to_string(frame) + ", byte offset " + std::to_string(offset) + ")";
}

}  // namespace

CaptureFileReader::~CaptureFileReader() {
  if (m_file) std::fclose(m_file);
}

std::uint16_t CaptureFileReader::U16(const std::uint8_t* p) const {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return m_swapped ? static_cast<std::uint16_t>((v >> 8) | (v << 8)) : v;
}

std::uint32_t CaptureFileReader::U32(const std::uint8_t* p) const {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return m_swapped ? Swap32(v) : v;
}

CaptureFileReader::Status CaptureFileReader::Stop(Status status, const std::string& what) {
  m_stopped = true;
  m_stopStatus = status;
  if (status != Status::End) m_error = what + At(m_frames + 1, m_offset);
  return status;
}

bool CaptureFileReader::ReadExact(void* buffer, std::size_t length) {
  return length == 0 || std::fread(buffer, 1, length, m_file) == length;
}

CaptureFileReader::Status CaptureFileReader::Open(const std::string& path) {
  if (m_file) std::fclose(m_file);
  m_pcapng = m_swapped = m_nanos = m_stopped = false;
  m_interfaces.clear();
  m_offset = m_fileLength = 0;
  m_frames = 0;
  m_error.clear();
  m_file = std::fopen(path.c_str(), "rb");
  if (m_file == nullptr) return Stop(Status::Refused, "The file cannot be opened");
  if (std::fseek(m_file, 0, SEEK_END) == 0) m_fileLength = std::ftell(m_file);
  std::rewind(m_file);
  std::uint8_t header[kPcapFileHeader];
  if (!ReadExact(header, 4)) return Stop(Status::Refused, "The file is not a pcap or pcapng capture");
  std::uint32_t magic;
  std::memcpy(&magic, header, 4);
  if (magic == kSectionHeaderBlock) {
    m_pcapng = true;
    return ReadSection();
  }
  if (magic != kPcapMagicMicros && magic != kPcapMagicNanos && Swap32(magic) != kPcapMagicMicros &&
      Swap32(magic) != kPcapMagicNanos)
    return Stop(Status::Refused, "The file is not a pcap or pcapng capture");
  if (!ReadExact(header + 4, kPcapFileHeader - 4)) return Stop(Status::Damaged, "The file header is cut short");
  return OpenPcap(header);
}

CaptureFileReader::Status CaptureFileReader::OpenPcap(const std::uint8_t* header) {
  std::uint32_t magic;
  std::memcpy(&magic, header, 4);
  m_swapped = magic != kPcapMagicMicros && magic != kPcapMagicNanos;
  m_nanos = (m_swapped ? Swap32(magic) : magic) == kPcapMagicNanos;
  // The upper bits of the link type word may carry the frame check sequence length.
  m_linkType = U32(header + 20) & 0xFFFF;
  m_offset = kPcapFileHeader;
  if (m_linkType != kLinkTypeEthernet)
    return Stop(Status::Refused, "The capture's link type is " + std::to_string(m_linkType) + ", not Ethernet");
  return Status::Frame;
}

CaptureFileReader::Status CaptureFileReader::Next(Frame& frame) {
  if (m_file == nullptr) return Status::Refused;
  if (m_stopped) return m_stopStatus;
  return m_pcapng ? NextPcapng(frame) : NextPcap(frame);
}

CaptureFileReader::Status CaptureFileReader::NextPcap(Frame& frame) {
  std::uint8_t record[kPcapRecordHeader];
  const std::size_t got = std::fread(record, 1, sizeof record, m_file);
  if (got == 0) return Stop(Status::End, "");
  if (got < sizeof record) return Stop(Status::Damaged, "A record header is cut short");
  const std::uint32_t captured = U32(record + 8);
  if (captured > kMaxFrameLength)
    return Stop(Status::Damaged, "A record claims " + std::to_string(captured) + " captured bytes, above the limit");
  if (static_cast<std::int64_t>(captured) > m_fileLength - m_offset - static_cast<std::int64_t>(kPcapRecordHeader))
    return Stop(Status::Damaged, "A record is cut short");
  m_block.resize(captured);
  if (!ReadExact(m_block.data(), captured)) return Stop(Status::Damaged, "A record is cut short");
  const std::uint32_t fraction = U32(record + 4);
  const std::uint32_t perSecond = m_nanos ? 1000000000u : 1000000u;
  frame.data = m_block.data();
  frame.length = captured;
  frame.seconds = static_cast<std::int64_t>(U32(record)) + fraction / perSecond;
  frame.nanoseconds = (fraction % perSecond) * (m_nanos ? 1u : 1000u);
  m_offset += static_cast<std::int64_t>(kPcapRecordHeader + captured);
  ++m_frames;
  return Status::Frame;
}

// A section header block whose type word has been read: its length, the byte order, then the rest.
CaptureFileReader::Status CaptureFileReader::ReadSection() {
  std::uint8_t start[8];
  if (!ReadExact(start, sizeof start)) return Stop(Status::Damaged, "A section header is cut short");
  std::uint32_t order;
  std::memcpy(&order, start + 4, 4);
  if (order != kByteOrderMagic && Swap32(order) != kByteOrderMagic)
    return Stop(Status::Damaged, "A section header has no byte-order mark");
  m_swapped = order != kByteOrderMagic;
  const std::uint32_t length = U32(start);
  if (length < 28 || length % 4 != 0 || length > kMaxBlockLength ||
      static_cast<std::int64_t>(length) > m_fileLength - m_offset)
    return Stop(Status::Damaged, "A section header has a bad block length");
  m_block.resize(length - kBlockFrame);
  // The byte-order mark (read above) is the first word of the body.
  if (!ReadExact(m_block.data() + 4, length - kBlockFrame - 4))
    return Stop(Status::Damaged, "A section header is cut short");
  std::uint8_t trailer[4];
  if (!ReadExact(trailer, 4) || U32(trailer) != length)
    return Stop(Status::Damaged, "A section header's closing length does not match");
  m_interfaces.clear();
  m_offset += length;
  return Status::Frame;
}

CaptureFileReader::Status CaptureFileReader::NextPcapng(Frame& frame) {
  for (;;) {
    std::uint8_t head[8];
    const std::size_t got = std::fread(head, 1, sizeof head, m_file);
    if (got == 0) return Stop(Status::End, "");
    if (got < sizeof head) return Stop(Status::Damaged, "A block header is cut short");
    std::uint32_t type;
    std::memcpy(&type, head, 4);
    if (type == kSectionHeaderBlock) {
      // A new section: the block's length word is read again with the section's byte order.
      if (std::fseek(m_file, -4, SEEK_CUR) != 0) return Stop(Status::Damaged, "A section header cannot be read");
      const Status section = ReadSection();
      if (section != Status::Frame) return section;
      continue;
    }
    type = U32(head);
    const std::uint32_t length = U32(head + 4);
    if (length < kBlockFrame || length % 4 != 0 || length > kMaxBlockLength)
      return Stop(Status::Damaged, "A block has a bad block length (" + std::to_string(length) + ")");
    if (static_cast<std::int64_t>(length) > m_fileLength - m_offset)
      return Stop(Status::Damaged, "A block is cut short");
    const std::uint32_t bodyLength = length - kBlockFrame;
    m_block.resize(bodyLength);
    std::uint8_t trailer[4];
    if (!ReadExact(m_block.data(), bodyLength) || !ReadExact(trailer, 4))
      return Stop(Status::Damaged, "A block is cut short");
    if (U32(trailer) != length) return Stop(Status::Damaged, "A block's closing length does not match");
    const std::uint8_t* body = m_block.data();
    Status status = Status::End;  // End here: a block without a frame, go on
    if (type == kInterfaceBlock) {
      status = AddInterface(body, bodyLength);
      if (status != Status::End) return status;
    } else if (type == kEnhancedPacketBlock) {
      if (bodyLength < kEnhancedFixed) return Stop(Status::Damaged, "A packet block is too short");
      const std::uint32_t interface = U32(body);
      const std::uint32_t captured = U32(body + 12);
      if (interface >= m_interfaces.size()) return Stop(Status::Damaged, "A packet names an undeclared interface");
      if (captured > bodyLength - kEnhancedFixed)
        return Stop(Status::Damaged, "A packet's captured length runs past its block");
      const std::uint64_t stamp = (static_cast<std::uint64_t>(U32(body + 4)) << 32) | U32(body + 8);
      status = PacketFrom(m_interfaces[interface], stamp, body + kEnhancedFixed, captured, frame);
    } else if (type == kSimplePacketBlock) {
      if (bodyLength < kSimpleFixed) return Stop(Status::Damaged, "A packet block is too short");
      if (m_interfaces.empty()) return Stop(Status::Damaged, "A packet names an undeclared interface");
      // The captured part is what the block holds, at most the original length and the snapshot.
      std::uint32_t captured = std::min(U32(body), bodyLength - kSimpleFixed);
      if (m_interfaces[0].snapLength > 0) captured = std::min(captured, m_interfaces[0].snapLength);
      status = PacketFrom(m_interfaces[0], 0, body + kSimpleFixed, captured, frame);
    }
    if (status == Status::Frame) {
      m_offset += length;
      ++m_frames;
      return status;
    }
    if (status != Status::End) return status;
    m_offset += length;
  }
}

CaptureFileReader::Status CaptureFileReader::AddInterface(const std::uint8_t* body, std::uint32_t length) {
  if (length < 8) return Stop(Status::Damaged, "An interface block is too short");
  Interface in;
  in.linkType = U16(body);
  in.snapLength = U32(body + 4);
  if (in.linkType != kLinkTypeEthernet)
    return Stop(Status::Refused, "Interface " + std::to_string(m_interfaces.size()) + " has link type " +
                                     std::to_string(in.linkType) + ", not Ethernet");
  // Options: code, length, value padded to 32 bits; a malformed list ends the options, which are
  // only about times.
  std::uint32_t at = 8;
  while (at + 4 <= length) {
    const std::uint16_t code = U16(body + at);
    const std::uint16_t size = U16(body + at + 2);
    at += 4;
    if (code == kOptionEnd || size > length - at) break;
    if (code == kOptionTimeResolution && size >= 1) {
      const std::uint8_t r = body[at];
      const unsigned power = r & 0x7F;
      std::uint64_t units = 1;
      if (r & 0x80) {
        if (power > 63) return Stop(Status::Damaged, "An interface has a time resolution out of range");
        units <<= power;
      } else {
        if (power > 19) return Stop(Status::Damaged, "An interface has a time resolution out of range");
        for (unsigned i = 0; i < power; ++i) units *= 10;
      }
      in.unitsPerSecond = units;
    } else if (code == kOptionTimeOffset && size >= 8) {
      std::uint64_t v;
      std::memcpy(&v, body + at, 8);
      if (m_swapped) v = __builtin_bswap64(v);
      in.offsetSeconds = static_cast<std::int64_t>(v);
    }
    at += Padded(size);
  }
  m_interfaces.push_back(in);
  return Status::End;
}

CaptureFileReader::Status CaptureFileReader::PacketFrom(const Interface& in, std::uint64_t stamp,
                                                        const std::uint8_t* data, std::uint32_t length, Frame& frame) {
  if (length > kMaxFrameLength)
    return Stop(Status::Damaged, "A packet claims " + std::to_string(length) + " captured bytes, above the limit");
  __extension__ typedef unsigned __int128 Wide;
  frame.data = data;
  frame.length = length;
  frame.seconds = static_cast<std::int64_t>(stamp / in.unitsPerSecond) + in.offsetSeconds;
  frame.nanoseconds =
      static_cast<std::uint32_t>(static_cast<Wide>(stamp % in.unitsPerSecond) * 1000000000u / in.unitsPerSecond);
  return Status::Frame;
}

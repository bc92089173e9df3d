#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// Read-only view of captured packet bytes. Every field is read through a check against the
// captured length, written as `len <= size - offset` so the check itself cannot overflow; a field
// that was not captured reads as absent, never from beyond the bytes.
class PacketBytes {
 public:
  PacketBytes(const std::uint8_t* bytes, std::size_t size) : m_bytes(bytes), m_size(bytes ? size : 0) {}

  std::size_t Size() const { return m_size; }

  // True when len bytes from offset were captured.
  bool Has(std::size_t offset, std::size_t len) const {
    return offset <= m_size && len <= m_size - offset;
  }

  // Bytes from offset to the end of the capture; 0 when offset lies beyond it.
  std::size_t Left(std::size_t offset) const { return offset <= m_size ? m_size - offset : 0; }

  bool U8(std::size_t offset, std::uint8_t& out) const {
    if (!Has(offset, 1)) return false;
    out = m_bytes[offset];
    return true;
  }

  // A 16-bit field in network byte order, returned in host order.
  bool Be16(std::size_t offset, std::uint16_t& out) const {
    if (!Has(offset, 2)) return false;
    out = static_cast<std::uint16_t>((m_bytes[offset] << 8) | m_bytes[offset + 1]);
    return true;
  }

  // A 32-bit field kept exactly as it lies in memory (addresses stay in network byte order).
  bool Raw32(std::size_t offset, std::uint32_t& out) const {
    if (!Has(offset, 4)) return false;
    std::memcpy(&out, m_bytes + offset, 4);
    return true;
  }

  // Pointer to offset; only valid after Has(offset, n) for the n bytes to be used.
  const std::uint8_t* At(std::size_t offset) const { return m_bytes + offset; }

 private:
  const std::uint8_t* m_bytes;
  std::size_t m_size;
};

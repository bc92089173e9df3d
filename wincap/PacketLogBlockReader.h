#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/LogRecMarker.h"

// Walks a packet log from its first record to its last in large blocks, for the readers that
// visit every record (the log search and the log page browser). It opens the file by name,
// read-only, on a descriptor of its own, so it takes nothing from the capture thread, which may
// go on appending meanwhile: the walk then also meets the records written since it began.
//
// Records come out of the block buffer without a copy of their data. The walk ends at the end of
// the file and at the first record that is not valid: a header that is short or does not begin
// with the marker, a data length outside 1..65535, data that is not all in the file yet, or a
// record beyond the last position a record can be named by (2^31 - 1).
class PacketLogBlockReader {
 public:
  // 256 KiB: a block is searched while it is still in the cache it was read into.
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 18;

  struct Record {
    _LogRecMarker header;        // a copy: the block holds headers at any alignment
    const std::uint8_t* data;    // header.dataLength bytes, valid until the next call
    std::int64_t position;       // file offset of the header
  };

  PacketLogBlockReader() = default;
  ~PacketLogBlockReader();
  PacketLogBlockReader(const PacketLogBlockReader&) = delete;
  PacketLogBlockReader& operator=(const PacketLogBlockReader&) = delete;

  bool Open(const std::string& path);
  // Opens the file other has open, on a descriptor of its own, for a walk of another part of it.
  bool OpenLike(const PacketLogBlockReader& other);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // The walk goes on from position, which must be the start of a record for it to find any.
  void SeekTo(std::int64_t position);
  // The first offset in [from, before) where a record header stands that names its own
  // position, or -1. Packet bytes may hold such a header too, so a walk from the start must
  // confirm it by arriving there.
  std::int64_t FindHeaderFrom(std::int64_t from, std::int64_t before);

  // The next valid record; false when the walk has ended (see above).
  bool Next(Record& record);

  // The offset of the next record: how far the walk has gone.
  std::int64_t Position() const { return m_bufferOffset + static_cast<std::int64_t>(m_at); }
  // The file's length now (it may grow during the walk); -1 when not open.
  std::int64_t Length() const;

 private:
  // True when at least n bytes from m_at are in the buffer, reading more when needed.
  bool Ensure(std::size_t n);

  int m_fd = -1;
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::size_t m_capacity = 0;
  std::int64_t m_bufferOffset = 0;  // file offset of m_buffer[0]
  std::size_t m_at = 0;             // next record in the buffer
  std::size_t m_end = 0;            // bytes in the buffer
};

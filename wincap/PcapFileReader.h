#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/PelorinAdapterPacket.h"

// Reads the frames of a classic capture file of an Ethernet link layer (either byte order,
// microsecond or nanosecond time stamps) from large blocks of the file, handing out each frame
// where it lies in the block: no copy and no stream call per frame, which the capture library's
// reader spends two of on every frame. Any other file (pcapng, another link layer, an older
// variant) is refused at Open and left to the capture library.
//
// Frames are bounded as the library bounds them: a captured length beyond the largest snapshot
// ends the file, a captured length beyond the file's own snapshot is cut to it, and a record cut
// short by the end of the file is not handed out.
class PcapFileReader {
 public:
  static constexpr std::uint32_t kMaxSnapshot = 262144;  // the library's largest for Ethernet
  static constexpr std::size_t kBlockSize = 1 << 20;      // bytes read from the file at once

  PcapFileReader() = default;
  ~PcapFileReader();
  PcapFileReader(const PcapFileReader&) = delete;
  PcapFileReader& operator=(const PcapFileReader&) = delete;

  // True when path is such a file, open and positioned at its first frame.
  bool Open(const char* path);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  // The next frame; its data stays valid until the next call. False at the end of the file or at
  // a record that cannot be a frame (see above).
  bool Next(_PelorinAdapterPacket* frame);

 private:
  // At least count bytes from m_at on in the block, reading more of the file as needed; false
  // when the file ends first.
  bool Have(std::size_t count);
  std::uint32_t Field(const std::uint8_t* at) const;

  int m_fd = -1;
  std::unique_ptr<std::uint8_t[]> m_block;
  std::size_t m_at = 0;   // the next record's first byte in the block
  std::size_t m_end = 0;  // bytes of the block read from the file
  bool m_swapped = false;
  bool m_nanoseconds = false;
  std::uint32_t m_snapshot = kMaxSnapshot;
};

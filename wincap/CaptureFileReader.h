#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wincap/PcapngFormat.h"

// Reads the frames of a capture file in the pcap format (either byte order, microsecond or
// nanosecond times) or the pcapng format (sections of either byte order, interface blocks with
// their time resolution and offset, enhanced and simple packet blocks; other blocks are passed
// over). Only Ethernet frames are given out.
//
// Nothing the file says is trusted: every length is checked against the block that holds it and
// the bytes left in the file before anything is read, and a frame or a block above the limits
// below is refused. The first damaged or truncated record ends the reading; what was read before
// it stays good, and ErrorText tells what was wrong and at which frame and byte offset.
class CaptureFileReader {
 public:
  static constexpr std::uint32_t kLinkTypeEthernet = pcapng::kLinkTypeEthernet;
  static constexpr std::uint32_t kMaxFrameLength = 262144;            // bytes, libpcap's own limit
  static constexpr std::uint32_t kMaxBlockLength = 16 * 1024 * 1024;  // bytes of one pcapng block

  enum class Status { Frame, End, Damaged, Refused };

  struct Frame {
    const std::uint8_t* data = nullptr;  // valid until the next call
    std::uint32_t length = 0;            // captured bytes
    std::int64_t seconds = 0;            // since 1970, UTC
    std::uint32_t nanoseconds = 0;
  };

  CaptureFileReader() = default;
  ~CaptureFileReader();
  CaptureFileReader(const CaptureFileReader&) = delete;
  CaptureFileReader& operator=(const CaptureFileReader&) = delete;

  // Opens the file and reads its file header (pcap) or first section header (pcapng). Frame when
  // it is ready to read, Refused for a file that is neither format or whose link layer is not
  // Ethernet, Damaged for a header cut short.
  Status Open(const std::string& path);
  // The next frame. End after the last one; Damaged or Refused stop the reading for good.
  Status Next(Frame& frame);

  // How the reading stopped, naming the frame and the byte offset ("" while all is well).
  const std::string& ErrorText() const { return m_error; }
  std::uint64_t FramesRead() const { return m_frames; }
  // Byte offset of the next record or block; the file's length once it is known.
  std::int64_t Offset() const { return m_offset; }
  std::int64_t FileLength() const { return m_fileLength; }

 private:
  struct Interface {
    std::uint32_t linkType = 0;
    std::uint32_t snapLength = 0;
    std::uint64_t unitsPerSecond = 1000000;
    std::int64_t offsetSeconds = 0;
  };

  Status Stop(Status status, const std::string& what);
  bool ReadExact(void* buffer, std::size_t length);
  std::uint16_t U16(const std::uint8_t* p) const;
  std::uint32_t U32(const std::uint8_t* p) const;

  Status OpenPcap(const std::uint8_t* header);
  Status NextPcap(Frame& frame);
  Status ReadSection();
  Status NextPcapng(Frame& frame);
  Status AddInterface(const std::uint8_t* body, std::uint32_t length);
  Status PacketFrom(const Interface& in, std::uint64_t stamp, const std::uint8_t* data, std::uint32_t length,
                    Frame& frame);

  std::FILE* m_file = nullptr;
  bool m_pcapng = false;
  bool m_swapped = false;  // the file's byte order is not this machine's
  bool m_nanos = false;    // pcap: times in nanoseconds
  std::uint32_t m_linkType = 0;
  std::vector<Interface> m_interfaces;  // of the current pcapng section
  std::vector<std::uint8_t> m_block;
  std::int64_t m_offset = 0;
  std::int64_t m_fileLength = 0;
  std::uint64_t m_frames = 0;
  bool m_stopped = false;
  Status m_stopStatus = Status::End;
  std::string m_error;
};

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A live capture read from an AF_PACKET socket through the kernel's block ring (TPACKET_V3),
// mapped into this process. The socket may come from the capture helper: setting up the ring,
// binding and promiscuous mode need no capability, only the socket's creation does. Frames come
// as the capture library gives them: Ethernet bytes with an offloaded VLAN tag put back, the
// loopback interface's outgoing copies passed over (each frame is seen once, as it comes in),
// captured lengths held to the snapshot length, microsecond time stamps.
class CaptureRing {
 public:
  struct Frame {
    const std::uint8_t* data;  // valid until the next Next or Close
    std::uint32_t length;      // captured bytes at data
    std::uint32_t seconds;
    std::uint32_t microseconds;
  };

  CaptureRing() = default;
  ~CaptureRing();
  CaptureRing(const CaptureRing&) = delete;
  CaptureRing& operator=(const CaptureRing&) = delete;

  // Takes the socket (closed on failure too), maps a ring of about bufferBytes, binds it to its
  // interface for every protocol and sets promiscuous mode. Only Ethernet-framed interfaces
  // (Ethernet, loopback) are taken. false with the reason in error.
  bool Open(int socket, std::size_t bufferBytes, std::uint32_t snapLength, int timeoutMs, std::string* error);
  void Close();
  bool IsOpen() const { return m_socket >= 0; }

  // The next frame already in the ring; false when none waits.
  bool Next(Frame* frame);
  // Waits at most timeoutMs for the kernel to hand over a block: 1 when one waits, 0 on timeout,
  // -1 when the interface failed (went down or away; the error is taken, so the next wait waits).
  int Wait(int timeoutMs);
  // Frames the kernel offered (dropped ones included) and dropped since Open.
  bool Stats(std::uint32_t* received, std::uint32_t* dropped);

 private:
  bool Fail(std::string* error, const char* what);
  std::uint8_t* Block(unsigned index) const { return m_map + static_cast<std::size_t>(index) * m_blockSize; }
  void ReleaseBlock();

  int m_socket = -1;
  std::uint8_t* m_map = nullptr;
  std::size_t m_mapSize = 0;
  std::size_t m_blockSize = 0;
  unsigned m_blockCount = 0;
  unsigned m_block = 0;           // the block being read or waited for
  std::uint32_t m_left = 0;       // frames of the current block not yet returned
  std::uint8_t* m_frame = nullptr;  // the next frame header in the current block
  bool m_inBlock = false;         // the current block is ours until released
  std::uint32_t m_snapLength = 0;
  bool m_loopback = false;
  std::uint64_t m_received = 0;
  std::uint64_t m_dropped = 0;
};

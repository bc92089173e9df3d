#pragma once
#include <memory>
#include <string>

#include "common/PelorinAdapterPacket.h"
#include "common/PelorinWinCapAdapter.h"
#include "common/WinTypes.h"
#include "wincap/CaptureRing.h"
#include "wincap/PcapFileReader.h"

struct pcap;

// One capture interface, opened live (snapshot 65536 bytes, promiscuous, 20 ms read timeout) or,
// for a name written "file://PATH", a recorded capture file replayed frame by frame (a classic
// capture file read by PcapFileReader, any other by the capture library). Only
// Ethernet link layers are accepted. A live interface is read through a kernel ring on a packet
// socket that PelorinCaptureHelper opens (the window holds no capability), or that it opens
// itself when it may (root in a build tree). It owns its capture, so it is not copied; one thread
// uses it.
class PelorinAdapter {
 public:
  static constexpr int kSnapLength = 0x10000;   // bytes
  static constexpr int kReadTimeout = 20;       // ms
  static constexpr char kFilePrefix[] = "file://";
  static constexpr std::size_t kFileBufferSize = 1 << 20;  // bytes read at once from a capture file
  // The kernel's capture ring of a live interface: large enough that a burst of some 100 ms at
  // a gigabit's packet rate waits there while the reader is busy (the library's own default is
  // 2 MiB).
  static constexpr int kDefaultBufferKB = 32 * 1024;
  static constexpr int kMinBufferKB = 1024;
  static constexpr int kMaxBufferKB = 256 * 1024;

  PelorinAdapter();
  explicit PelorinAdapter(const _PelorinWinCapAdapter* adapter);  // null: as the default
  ~PelorinAdapter();
  PelorinAdapter(const PelorinAdapter&) = delete;
  PelorinAdapter& operator=(const PelorinAdapter&) = delete;

  // Opens (or reopens) the record's device. Returns 1 when it is open with an Ethernet link
  // layer, else 0 with no handle left open and the library's error text in ErrorText.
  int Open();
  // The kernel ring size for the next Open of a live interface, in KiB: 0 or less means the
  // default, other values are held to kMinBufferKB..kMaxBufferKB.
  void SetBufferKB(int kilobytes);
  // Closes the capture handle if one is open; always 0.
  int Close();
  // Reads one frame into packet and returns its captured length; 0 when nothing was read (closed,
  // null packet, timeout, error, end of a capture file), the packet then left as it was.
  // With wait 0 the call returns within about one read timeout (20 ms); with wait set it retries
  // after each timeout until a frame, an error or the end of the file.
  DWORD Read(_PelorinAdapterPacket* packet, int wait);
  // A frame already waiting (queued in the kernel ring, or the next of a capture file), else 0
  // at once: for reading the rest of a burst without waiting.
  DWORD ReadQueued(_PelorinAdapterPacket* packet);

  // The capture library's counts for an open live interface: frames received and frames the
  // kernel dropped since it was opened. false (nothing set) for a capture file or when closed.
  bool GetStats(std::uint32_t* received, std::uint32_t* dropped);

  bool IsOpen() const { return m_handle != nullptr || m_file.IsOpen() || m_ring.IsOpen(); }
  const _PelorinWinCapAdapter& Adapter() const { return m_adapter; }
  const char* ErrorText() const { return m_error; }

 private:
  bool OpenLive(const std::string& name);
  bool OpenFile(const char* path);
  DWORD ReadFile(_PelorinAdapterPacket* packet);

  int m_readTimeout = kReadTimeout;  // ms
  int m_bufferKB = kDefaultBufferKB;
  std::unique_ptr<char[]> m_fileBuffer;  // the replayed file's read buffer, freed after the handle
  _PelorinWinCapAdapter m_adapter{};
  pcap* m_handle = nullptr;  // a capture file the library reads
  PcapFileReader m_file;     // a classic capture file
  CaptureRing m_ring;        // a live interface
  char m_error[256]{};
};

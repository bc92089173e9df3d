#include "wincap/PelorinAdapter.h"

#include <linux/if_packet.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/FieldText.h"
#include "platform/CaptureHelperClient.h"

PelorinAdapter::PelorinAdapter() = default;

PelorinAdapter::PelorinAdapter(const _PelorinWinCapAdapter* adapter) {
  if (adapter) std::memcpy(&m_adapter, adapter, sizeof m_adapter);
}

PelorinAdapter::~PelorinAdapter() { Close(); }

int PelorinAdapter::Close() {
  if (m_handle) pcap_close(m_handle);
  m_handle = nullptr;
  m_fileBuffer.reset();
  m_file.Close();
  m_ring.Close();
  return 0;
}

int PelorinAdapter::Open() {
  Close();
  m_error[0] = 0;
  // The record's texts may come from the registry: never read past the field.
  const std::string name = GetFieldText(m_adapter.name);
  if (name.empty()) {
    SetFieldText(m_error, "no device name");
    return 0;
  }
  const std::size_t prefix = std::strlen(kFilePrefix);
  if (name.compare(0, prefix, kFilePrefix) != 0) return OpenLive(name) ? 1 : 0;
  if (m_file.Open(name.c_str() + prefix)) return 1;
  if (!OpenFile(name.c_str() + prefix)) return 0;
  if (pcap_datalink(m_handle) != DLT_EN10MB) {
    SetFieldText(m_error, "link layer is not Ethernet");
    Close();
    return 0;
  }
  return 1;
}

bool PelorinAdapter::OpenFile(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    SetFieldText(m_error, std::strerror(errno));
    return false;
  }
  // The library reads a capture file through stdio: a large buffer makes that a few hundred
  // reads of the file instead of one per 4 KiB.
  m_fileBuffer = std::make_unique<char[]>(kFileBufferSize);
  std::setvbuf(file, m_fileBuffer.get(), _IOFBF, kFileBufferSize);
  // Only the capture thread reads the file: its two reads per frame need not lock the stream.
  __fsetlocking(file, FSETLOCKING_BYCALLER);
  m_handle = pcap_fopen_offline(file, m_error);  // owns the file from here when it opened
  if (m_handle == nullptr) {
    std::fclose(file);
    m_fileBuffer.reset();
  }
  return m_handle != nullptr;
}

void PelorinAdapter::SetBufferKB(int kilobytes) {
  m_bufferKB = kilobytes <= 0 ? kDefaultBufferKB : std::clamp(kilobytes, kMinBufferKB, kMaxBufferKB);
}

bool PelorinAdapter::OpenLive(const std::string& name) {
  std::string error;
  int s = -1;
  // A process that holds CAP_NET_RAW itself (root in a build tree) needs no helper.
  const int own = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
  if (own >= 0) {
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_ifindex = static_cast<int>(if_nametoindex(name.c_str()));
    if (address.sll_ifindex == 0 || bind(own, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      SetFieldText(m_error, std::string("no such interface: ") + std::strerror(errno));
      close(own);
      return false;
    }
    s = own;
  } else if (errno == EPERM || errno == EACCES) {
    s = CaptureHelperClient::OpenPacketSocket(name, &error);
  } else {
    error = std::strerror(errno);
  }
  if (s < 0 || !m_ring.Open(s, static_cast<std::size_t>(m_bufferKB) * 1024, kSnapLength, m_readTimeout, &error)) {
    SetFieldText(m_error, error);
    return false;
  }
  return true;
}

DWORD PelorinAdapter::ReadFile(_PelorinAdapterPacket* packet) {
  if (m_file.IsOpen()) return m_file.Next(packet) ? packet->length : 0;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  if (pcap_next_ex(m_handle, &header, &data) != 1) return 0;  // error, or end of the file
  packet->seconds = static_cast<std::uint32_t>(header->ts.tv_sec);
  packet->microseconds = static_cast<std::uint32_t>(header->ts.tv_usec);
  packet->data = data;
  packet->length = header->caplen;
  return header->caplen;
}

DWORD PelorinAdapter::ReadQueued(_PelorinAdapterPacket* packet) {
  if (packet == nullptr) return 0;
  if (m_handle != nullptr || m_file.IsOpen()) return ReadFile(packet);
  CaptureRing::Frame frame;
  if (!m_ring.IsOpen() || !m_ring.Next(&frame)) return 0;
  packet->seconds = frame.seconds;
  packet->microseconds = frame.microseconds;
  packet->data = frame.data;
  packet->length = frame.length;
  return frame.length;
}

DWORD PelorinAdapter::Read(_PelorinAdapterPacket* packet, int wait) {
  if (packet == nullptr) return 0;
  if (m_handle != nullptr || m_file.IsOpen()) return ReadFile(packet);
  if (!m_ring.IsOpen()) return 0;
  bool waited = false;
  for (;;) {
    if (const DWORD length = ReadQueued(packet)) return length;
    // Nothing queued yet: one bounded wait, then one more attempt, unless told to keep waiting.
    if (waited && !wait) return 0;
    if (m_ring.Wait(m_readTimeout) < 0) return 0;  // the interface failed (down, gone)
    waited = true;
  }
}

bool PelorinAdapter::GetStats(std::uint32_t* received, std::uint32_t* dropped) {
  return m_ring.Stats(received, dropped);
}

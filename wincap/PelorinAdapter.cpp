#include "wincap/PelorinAdapter.h"

#include <pcap/pcap.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/FieldText.h"

PelorinAdapter::PelorinAdapter() = default;

PelorinAdapter::PelorinAdapter(const _PelorinWinCapAdapter* adapter) {
  if (adapter) std::memcpy(&m_adapter, adapter, sizeof m_adapter);
}

PelorinAdapter::~PelorinAdapter() { Close(); }

int PelorinAdapter::Close() {
  if (m_handle) pcap_close(m_handle);
  m_handle = nullptr;
  m_fileBuffer.reset();
  m_live = false;
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
  const bool opened = name.compare(0, prefix, kFilePrefix) == 0 ? OpenFile(name.c_str() + prefix)
                                                                 : OpenLive();
  if (!opened) return 0;
  if (pcap_datalink(m_handle) != DLT_EN10MB) {
    SetFieldText(m_error, "link layer is not Ethernet");
    Close();
    return 0;
  }
  return 1;
}

bool PelorinAdapter::OpenFile(const char* path) {
  m_live = false;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    SetFieldText(m_error, std::strerror(errno));
    return false;
  }
  // The library reads a capture file through stdio: a large buffer makes that a few hundred
  // reads of the file instead of one per 4 KiB.
  m_fileBuffer = std::make_unique<char[]>(kFileBufferSize);
  std::setvbuf(file, m_fileBuffer.get(), _IOFBF, kFileBufferSize);
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

pcap_t* PelorinAdapter::ActivateLive(const std::string& name, bool sizeRing) {
  pcap_t* handle = pcap_create(name.c_str(), m_error);
  if (handle == nullptr) return nullptr;
  // Immediate mode stays off: the kernel hands over frames in blocks, at the latest after the
  // read timeout.
  bool set = pcap_set_snaplen(handle, kSnapLength) == 0 && pcap_set_promisc(handle, 1) == 0 &&
             pcap_set_timeout(handle, m_readTimeout) == 0;
  if (set && sizeRing) set = pcap_set_buffer_size(handle, m_bufferKB * 1024) == 0;
  // A positive result of pcap_activate is a warning (no promiscuous mode, for example): capture
  // works all the same.
  const int activated = set ? pcap_activate(handle) : PCAP_ERROR;
  if (!set || activated < 0) {
    const char* text = pcap_geterr(handle);
    if (text == nullptr || *text == 0) text = pcap_statustostr(activated);
    SetFieldText(m_error, text ? text : "");
    pcap_close(handle);
    return nullptr;
  }
  return handle;
}

bool PelorinAdapter::OpenLive() {
  const std::string name = GetFieldText(m_adapter.name);
  // A ring the kernel will not give (memory limits) must not stop capture: the library's own
  // size is tried next.
  pcap_t* handle = ActivateLive(name, true);
  if (handle == nullptr) handle = ActivateLive(name, false);
  if (handle == nullptr) return false;
  // Reads never block: the wait for traffic is a bounded poll in Read.
  if (pcap_setnonblock(handle, 1, m_error) != 0) {
    pcap_close(handle);
    return false;
  }
  m_handle = handle;
  m_live = true;
  return true;
}

bool PelorinAdapter::WaitReadable() {
  const int fd = pcap_get_selectable_fd(m_handle);
  if (fd < 0) {
    // No descriptor to wait on: pace the caller by the read timeout instead.
    timespec pause{0, static_cast<long>(m_readTimeout) * 1000000L};
    nanosleep(&pause, nullptr);
    return true;
  }
  pollfd entry{fd, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&entry, 1, m_readTimeout);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

DWORD PelorinAdapter::Read(_PelorinAdapterPacket* packet, int wait) {
  if (m_handle == nullptr || packet == nullptr) return 0;
  bool waited = false;
  for (;;) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int rc = pcap_next_ex(m_handle, &header, &data);
    if (rc == 1) {
      packet->seconds = static_cast<std::uint32_t>(header->ts.tv_sec);
      packet->microseconds = static_cast<std::uint32_t>(header->ts.tv_usec);
      packet->data = data;
      packet->length = header->caplen;
      return header->caplen;
    }
    if (rc != 0 || !m_live) return 0;  // error, or end of a capture file
    // Nothing queued yet: one bounded wait, then one more attempt, unless told to keep waiting.
    if (waited && !wait) return 0;
    WaitReadable();
    waited = true;
  }
}

bool PelorinAdapter::GetStats(std::uint32_t* received, std::uint32_t* dropped) {
  if (m_handle == nullptr || !m_live) return false;
  pcap_stat stats{};
  if (pcap_stats(m_handle, &stats) != 0) return false;
  if (received) *received = stats.ps_recv;
  if (dropped) *dropped = stats.ps_drop;
  return true;
}

#include "RamparoBlockLog.h"

extern "C" {
#include <libnetfilter_log/libnetfilter_log.h>
}
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "RamparoRuleSet.h"

namespace {

constexpr std::uint8_t kTcp = 6;
constexpr std::uint8_t kUdp = 17;
// An IPv4 header with options, or an IPv6 header with a few extension headers, and the ports.
constexpr int kSnapBytes = 128;
constexpr std::size_t kIpv6Header = 40;

// The upper-layer protocol of an IPv6 packet behind its extension headers, and where it starts;
// false when the capture ends first. A later fragment gives protocol 44 (no ports follow).
bool Ipv6Payload(const std::uint8_t* packet, std::size_t size, std::uint8_t* protocol, std::size_t* at) {
  constexpr std::uint8_t kHopByHop = 0, kRouting = 43, kFragment = 44, kDestination = 60;
  std::uint8_t next = packet[6];
  std::size_t offset = kIpv6Header;
  while (next == kHopByHop || next == kRouting || next == kDestination || next == kFragment) {
    if (2 > size - offset) return false;
    if (next == kFragment) {
      if (8 > size - offset) return false;
      const bool first = ((packet[offset + 2] << 8 | packet[offset + 3]) & 0xFFF8) == 0;
      if (!first) break;  // the protocol stays 44: no ports in this piece
      next = packet[offset];
      offset += 8;
      continue;
    }
    const std::size_t length = (static_cast<std::size_t>(packet[offset + 1]) + 1) * 8;
    next = packet[offset];
    if (length > size - offset) return false;
    offset += length;
  }
  *protocol = next;
  *at = offset;
  return true;
}

_SystemTime Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  _SystemTime time{};
  time.year = static_cast<std::uint16_t>(local.tm_year + 1900);
  time.month = static_cast<std::uint16_t>(local.tm_mon + 1);
  time.dayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
  time.day = static_cast<std::uint16_t>(local.tm_mday);
  time.hour = static_cast<std::uint16_t>(local.tm_hour);
  time.minute = static_cast<std::uint16_t>(local.tm_min);
  time.second = static_cast<std::uint16_t>(local.tm_sec);
  time.milliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
  return time;
}

}  // namespace

struct RamparoBlockLogCallback {
  static int OnPacket(nflog_g_handle*, nfgenmsg*, nflog_data* data, void* self) {
    auto* log = static_cast<RamparoBlockLog*>(self);
    // Unbinding the group also delivers what is still queued: outside a Drain it is dropped.
    if (!log->m_rules || !log->m_file) return 0;
    std::size_t rule = 0;
    bool incoming = false;
    if (!RamparoRuleSet::ParseLogPrefix(nflog_get_prefix(data), &rule, &incoming)) return 0;
    char* payload = nullptr;
    const int size = nflog_get_payload(data, &payload);
    _FirewallRuleLogRecord entry{};
    if (size <= 0 || !RamparoBlockLog::MakeRecord(reinterpret_cast<const std::uint8_t*>(payload),
                                                  static_cast<std::size_t>(size), incoming, _FirewallRule{}, &entry))
      return 0;
    if ((*log->m_rules)(rule, &entry) && RamparoBlockLog::Append(*log->m_file, entry)) ++log->m_written;
    return 0;
  }
};

bool RamparoBlockLog::Open(std::uint16_t group, std::string* error) {
  Close();
  m_handle = nflog_open();
  if (!m_handle) {
    *error = std::string("nflog: ") + std::strerror(errno);
    return false;
  }
  nflog_bind_pf(m_handle, AF_INET);  // a no-op on current kernels, needed on old ones
  nflog_bind_pf(m_handle, AF_INET6);
  m_group = nflog_bind_group(m_handle, group);
  if (!m_group || nflog_set_mode(m_group, NFULNL_COPY_PACKET, kSnapBytes) < 0) {
    *error = "nflog group " + std::to_string(group) + ": " + std::strerror(errno);
    Close();
    return false;
  }
  nflog_callback_register(m_group, &RamparoBlockLogCallback::OnPacket, this);
  const int fd = nflog_fd(m_handle);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return true;
}

void RamparoBlockLog::Close() {
  if (m_group) nflog_unbind_group(m_group);
  if (m_handle) nflog_close(m_handle);
  m_group = nullptr;
  m_handle = nullptr;
}

int RamparoBlockLog::Fd() const { return m_handle ? nflog_fd(m_handle) : -1; }

int RamparoBlockLog::Drain(const std::string& file, const RuleLookup& rules) {
  if (!m_handle) return 0;
  m_file = &file;
  m_rules = &rules;
  m_written = 0;
  alignas(8) char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(nflog_fd(m_handle), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    // ENOBUFS: the kernel dropped messages we were too slow for; the next ones still come.
    if (n < 0 && errno == ENOBUFS) continue;
    if (n <= 0) break;
    nflog_handle_packet(m_handle, buffer, static_cast<int>(n));
  }
  m_file = nullptr;
  m_rules = nullptr;
  return m_written;
}

bool RamparoBlockLog::MakeRecord(const std::uint8_t* packet, std::size_t size, bool incoming, const _FirewallRule& rule,
                                 _FirewallRuleLogRecord* record) {
  if (size < 20) return false;
  const int version = packet[0] >> 4;
  std::size_t header = 0;
  std::uint8_t protocol = 0;
  bool ports = false;
  if (version == 4) {
    header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (header < 20 || header > size) return false;
    protocol = packet[9];
    ports = (((packet[6] & 0x1F) << 8) | packet[7]) == 0;  // the first fragment
  } else if (version == 6) {
    if (size < kIpv6Header) return false;
    // Extension headers the capture cuts short leave the protocol unknown (0) and no ports.
    ports = Ipv6Payload(packet, size, &protocol, &header);
  } else {
    return false;
  }
  *record = _FirewallRuleLogRecord{};
  record->time = Now();
  record->rule = rule;
  record->protocol = protocol;
  // The other side: the source of what came in, the destination of what went out.
  if (version == 4) {
    std::memcpy(&record->blockedAddress, packet + (incoming ? 12 : 16), 4);
    std::memcpy(&record->localAddress, packet + (incoming ? 16 : 12), 4);
  } else {
    record->family = kLogFamilyIpv6;
    std::memcpy(record->blockedAddress6, packet + (incoming ? 8 : 24), 16);
    std::memcpy(record->localAddress6, packet + (incoming ? 24 : 8), 16);
  }
  if ((protocol == kTcp || protocol == kUdp) && ports && 4 <= size - header) {
    // Ports stay in network order.
    std::memcpy(&record->blockedPort, packet + header + (incoming ? 0 : 2), 2);
    std::memcpy(&record->localPort, packet + header + (incoming ? 2 : 0), 2);
  }
  return true;
}

bool RamparoBlockLog::Append(const std::string& file, const _FirewallRuleLogRecord& record) {
  if (file.empty()) return false;
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat before {};
  const bool sized = ::fstat(fd, &before) == 0;
  const ssize_t n = ::write(fd, &record, sizeof record);
  const bool whole = n == static_cast<ssize_t>(sizeof record);
  // A full disk took part of the record: cut the file back to the last whole one.
  if (!whole && n > 0 && sized && ::ftruncate(fd, before.st_size) != 0) std::memset(&before, 0, sizeof before);
  ::close(fd);
  return whole;
}

// ICMP echo over a raw IPv4 socket (the process's own, or PelorinCaptureHelper's for a window
// without capabilities), or over a ping socket where net.ipv4.ping_group_range lets the user
// have one. Each handle owns one socket with an identifier of its own; each request takes the
// handle's next sequence number, so an answer is ours only when it carries (or, for an error
// answer, quotes) both, and comes for the address we asked.
#include <arpa/inet.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/CaptureHelperClient.h"
#include "platform/EventSignal.h"
#include "platform/IcmpApi.h"
#include "platform/linux/IcmpAnswer.h"

namespace {

constexpr DWORD kIcmpHandleKind = 0x49434D50;  // "ICMP"
constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kMaxRequestData = 65507;  // an IPv4 datagram of 65535 bytes
constexpr std::size_t kReceiveBuffer = 65536;

std::atomic<std::uint32_t> g_nextIdentifier{0};

// Distinct identifiers for the handles of this process, starting from the process id so that
// two programs tracing at once rarely share one (and the sequence tells them apart when they do).
std::uint16_t NextIdentifier() {
  static const std::uint32_t base = static_cast<std::uint32_t>(getpid()) * 2654435761u;
  return static_cast<std::uint16_t>((base >> 16) + g_nextIdentifier.fetch_add(1));
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

class IcmpHandle : public HandleObject {
 public:
  IcmpHandle(int socket, std::uint16_t identifier, bool ping)
      : HandleObject(kIcmpHandleKind), m_socket(socket), m_identifier(identifier), m_ping(ping) {}
  ~IcmpHandle() override { close(m_socket); }

  int Socket() const { return m_socket; }
  bool IsPing() const { return m_ping; }
  std::uint16_t Identifier() const { return m_identifier; }
  std::uint16_t NextSequence() { return static_cast<std::uint16_t>(m_sequence.fetch_add(1) + 1); }
  EventSignal& Cancel() { return m_cancel; }
  std::mutex& RequestLock() { return m_requestLock; }

 private:
  int m_socket;
  std::uint16_t m_identifier;
  bool m_ping;  // a ping socket: answers without their IP header, errors on the error queue
  std::atomic<std::uint32_t> m_sequence{0};
  EventSignal m_cancel;
  std::mutex m_requestLock;  // one request at a time per handle
};

std::int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

constexpr std::size_t kIpHeader = 20;

void Put16(std::uint8_t* p, std::size_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

// The IPv4 header a raw socket would have shown in front of an answer of a ping socket.
void PutIpHeader(std::uint8_t* p, std::size_t totalSize, std::uint8_t tos, std::uint8_t ttl, std::uint32_t from,
                 std::uint32_t to) {
  std::memset(p, 0, kIpHeader);
  p[0] = 0x45;
  p[1] = tos;
  Put16(p + 2, totalSize);
  p[8] = ttl;
  p[9] = IPPROTO_ICMP;
  std::memcpy(p + 12, &from, 4);
  std::memcpy(p + 16, &to, 4);
}

// One packet, with the kernel's arrival stamp (or the time now when there is none), as a raw
// socket shows it: IPv4 header first. A ping socket's answer gets the header it lacks, and its
// error answers (from the error queue when errors is set) the ICMP error around the request
// they quote, so that one reader takes them all.
ssize_t Receive(const IcmpHandle& handle, bool errors, std::vector<std::uint8_t>& packet, std::int64_t* arrivedNs) {
  const std::size_t front = !handle.IsPing() ? 0 : errors ? 2 * kIpHeader + kIcmpHeader : kIpHeader;
  iovec data{packet.data() + front, packet.size() - front};
  sockaddr_in peer{};
  alignas(cmsghdr) char control[512];
  msghdr message{};
  message.msg_name = &peer;
  message.msg_namelen = sizeof peer;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(handle.Socket(), &message, MSG_DONTWAIT | (errors ? MSG_ERRQUEUE : 0));
  *arrivedNs = RealtimeNs();
  std::uint8_t ttl = 0, tos = 0;
  const sock_extended_err* error = nullptr;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); got > 0 && c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      *arrivedNs = static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
      int value;
      std::memcpy(&value, CMSG_DATA(c), sizeof value);
      ttl = static_cast<std::uint8_t>(value);
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TOS && c->cmsg_len >= CMSG_LEN(1)) {
      tos = *CMSG_DATA(c);
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR &&
               c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
      error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
    }
  }
  if (got <= 0 || front == 0) return got;
  const std::size_t size = static_cast<std::size_t>(got);
  if (!errors) {
    PutIpHeader(packet.data(), kIpHeader + size, tos, ttl, peer.sin_addr.s_addr, 0);
    return static_cast<ssize_t>(kIpHeader + size);
  }
  // Only what a router or the target answered counts, not a local failure to send.
  if (error == nullptr || error->ee_origin != SO_EE_ORIGIN_ICMP) return 0;
  sockaddr_in offender;
  std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
  PutIpHeader(packet.data(), front + size, 0, 0, offender.sin_addr.s_addr, 0);
  std::uint8_t* icmp = packet.data() + kIpHeader;
  std::memset(icmp, 0, kIcmpHeader);
  icmp[0] = error->ee_type;
  icmp[1] = error->ee_code;
  PutIpHeader(icmp + kIcmpHeader, kIpHeader + size, 0, 0, 0, peer.sin_addr.s_addr);
  return static_cast<ssize_t>(front + size);
}

// A ping socket, where net.ipv4.ping_group_range holds one of the user's groups; the kernel
// chooses its identifier.
int OpenPingSocket(std::uint16_t* identifier) {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s < 0) return -1;
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  socklen_t size = sizeof bound;
  if (bind(s, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    close(s);
    return -1;
  }
  *identifier = ntohs(bound.sin_port);
  const int on = 1;
  for (const int option : {IP_RECVERR, IP_RECVTTL, IP_RECVTOS}) setsockopt(s, IPPROTO_IP, option, &on, sizeof on);
  return s;
}

DWORD Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

bool ApplyOptions(int socket, const IP_OPTION_INFORMATION* options) {
  int ttl = 64;
  int tos = 0;
  int pmtu = IP_PMTUDISC_DONT;
  if (options != nullptr) {
    if (options->Ttl != 0) ttl = options->Ttl;
    tos = options->Tos;
    if (options->Flags & IP_FLAG_DF) pmtu = IP_PMTUDISC_DO;
  }
  if (setsockopt(socket, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) return false;
  if (setsockopt(socket, IPPROTO_IP, IP_TOS, &tos, sizeof tos) != 0) return false;
  if (setsockopt(socket, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) != 0) return false;
  const bool withOptions = options != nullptr && options->OptionsSize != 0 && options->OptionsData != nullptr;
  return setsockopt(socket, IPPROTO_IP, IP_OPTIONS, withOptions ? options->OptionsData : nullptr,
                    withOptions ? options->OptionsSize : 0) == 0;
}

}  // namespace

HANDLE IcmpCreateFile() {
  std::uint16_t identifier = NextIdentifier();
  bool ping = false;
  int s = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s < 0) {
    if (errno != EPERM && errno != EACCES) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    // Without CAP_NET_RAW of its own: a ping socket where the system allows one (no program to
    // start), else the capture helper's raw socket.
    s = OpenPingSocket(&identifier);
    ping = s >= 0;
    if (s < 0) s = CaptureHelperClient::OpenIcmpSocket(nullptr);
    if (s < 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (!ping) {
    // Only answers reach the socket: not our own requests looped back, nor other traffic.
    icmp_filter filter{};
    filter.data = ~static_cast<std::uint32_t>((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                                              (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB) |
                                              (1u << ICMP_SOURCE_QUENCH));
    setsockopt(s, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  }
  // The kernel stamps each answer as it arrives, so a busy machine's scheduling stays out of the times.
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  return MakeHandle(new IcmpHandle(s, identifier, ping));
}

BOOL IcmpCloseHandle(HANDLE icmpHandle) {
  if (HandleTarget(icmpHandle, kIcmpHandleKind) == nullptr) return 0;
  return CloseHandle(icmpHandle);
}

BOOL IcmpCancelEcho(HANDLE icmpHandle) {
  auto* handle = static_cast<IcmpHandle*>(HandleTarget(icmpHandle, kIcmpHandleKind));
  if (handle == nullptr) return 0;
  handle->Cancel().Set();
  return 1;
}

DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr DestinationAddress, void* RequestData, unsigned short RequestSize,
                   PIP_OPTION_INFORMATION RequestOptions, void* ReplyBuffer, DWORD ReplySize, DWORD Timeout) {
  auto* handle = static_cast<IcmpHandle*>(HandleTarget(icmpHandle, kIcmpHandleKind));
  if (handle == nullptr) return 0;
  if (ReplyBuffer == nullptr || (RequestData == nullptr && RequestSize != 0)) return Fail(ERROR_INVALID_PARAMETER);
  if (ReplySize < sizeof(ICMP_ECHO_REPLY) + kIcmpHeader) return Fail(IP_BUF_TOO_SMALL);
  if (RequestSize > kMaxRequestData) return Fail(IP_PACKET_TOO_BIG);
  if (DestinationAddress == 0 || DestinationAddress == 0xFFFFFFFFu) return Fail(IP_BAD_DESTINATION);
  if (RequestOptions != nullptr && RequestOptions->OptionsSize > 40) return Fail(IP_OPTION_TOO_BIG);

  std::lock_guard<std::mutex> requestLock(handle->RequestLock());
  if (handle->Cancel().IsSet()) return Fail(ERROR_CANCELLED);
  if (!ApplyOptions(handle->Socket(), RequestOptions)) return Fail(IP_BAD_OPTION);

  const std::uint16_t sequence = handle->NextSequence();
  std::vector<std::uint8_t> request(kIcmpHeader + RequestSize);
  request[0] = ICMP_ECHO;
  request[4] = static_cast<std::uint8_t>(handle->Identifier() >> 8);
  request[5] = static_cast<std::uint8_t>(handle->Identifier());
  request[6] = static_cast<std::uint8_t>(sequence >> 8);
  request[7] = static_cast<std::uint8_t>(sequence);
  if (RequestSize != 0) std::memcpy(request.data() + kIcmpHeader, RequestData, RequestSize);
  const std::uint16_t sum = Checksum(request.data(), request.size());
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = DestinationAddress;
  const auto sent = std::chrono::steady_clock::now();
  const std::int64_t sentNs = RealtimeNs();
  if (sendto(handle->Socket(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    switch (errno) {
      case EMSGSIZE:
        return Fail(IP_PACKET_TOO_BIG);
      case ENETUNREACH:
        return Fail(IP_DEST_NET_UNREACHABLE);
      case EHOSTUNREACH:
        return Fail(IP_DEST_HOST_UNREACHABLE);
      case ENOBUFS:
      case ENOMEM:
        return Fail(IP_NO_RESOURCES);
      default:
        return Fail(IP_GENERAL_FAILURE);
    }
  }

  const auto deadline = sent + std::chrono::milliseconds(Timeout);
  std::vector<std::uint8_t> packet(kReceiveBuffer);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Fail(IP_REQ_TIMED_OUT);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    pollfd waits[2] = {{handle->Socket(), POLLIN, 0}, {handle->Cancel().Descriptor(), POLLIN, 0}};
    const int ready = poll(waits, waits[1].fd >= 0 ? 2 : 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return Fail(IP_GENERAL_FAILURE);
    if (ready <= 0) continue;
    if (waits[1].revents & POLLIN) return Fail(ERROR_CANCELLED);
    // A ping socket tells of an error answer by POLLERR.
    const bool errors = handle->IsPing() && (waits[0].revents & POLLERR) != 0;
    if (!errors && !(waits[0].revents & POLLIN)) continue;
    std::int64_t arrivedNs = 0;
    const ssize_t got = Receive(*handle, errors, packet, &arrivedNs);
    if (got <= 0) continue;
    const IcmpAnswer answer = ReadIcmpAnswer(packet.data(), static_cast<std::size_t>(got), DestinationAddress,
                                             handle->Identifier(), sequence);
    if (!answer.ours) continue;

    auto* reply = static_cast<ICMP_ECHO_REPLY*>(ReplyBuffer);
    auto* data = static_cast<std::uint8_t*>(ReplyBuffer) + sizeof(ICMP_ECHO_REPLY);
    const std::size_t room = ReplySize - sizeof(ICMP_ECHO_REPLY);
    const std::size_t copied = std::min({answer.dataSize, room, std::size_t{0xFFFF}});
    if (copied != 0) std::memcpy(data, answer.data, copied);
    *reply = ICMP_ECHO_REPLY{};
    reply->Address = answer.from;
    reply->Status = answer.status;
    reply->RoundTripTime = static_cast<DWORD>(std::max<std::int64_t>(arrivedNs - sentNs, 0) / 1000000);
    reply->DataSize = static_cast<unsigned short>(copied);
    reply->Data = data;
    reply->Options.Ttl = answer.ttl;
    reply->Options.Tos = answer.tos;
    reply->Options.Flags = answer.flags;
    return 1;
  }
}

// ICMP echo over a raw IPv4 socket. Each handle owns one socket with an identifier of its own;
// each request takes the handle's next sequence number, so an answer is ours only when it carries
// (or, for an error answer, quotes) both, and comes for the address we asked.
#include <arpa/inet.h>
#include <errno.h>
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
  IcmpHandle(int socket, std::uint16_t identifier)
      : HandleObject(kIcmpHandleKind), m_socket(socket), m_identifier(identifier) {}
  ~IcmpHandle() override { close(m_socket); }

  int Socket() const { return m_socket; }
  std::uint16_t Identifier() const { return m_identifier; }
  std::uint16_t NextSequence() { return static_cast<std::uint16_t>(m_sequence.fetch_add(1) + 1); }
  EventSignal& Cancel() { return m_cancel; }
  std::mutex& RequestLock() { return m_requestLock; }

 private:
  int m_socket;
  std::uint16_t m_identifier;
  std::atomic<std::uint32_t> m_sequence{0};
  EventSignal m_cancel;
  std::mutex m_requestLock;  // one request at a time per handle
};

std::int64_t RealtimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// One packet, with the kernel's arrival stamp (or the time now when there is none).
ssize_t Receive(int socket, std::vector<std::uint8_t>& packet, std::int64_t* arrivedNs) {
  iovec data{packet.data(), packet.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(socket, &message, MSG_DONTWAIT);
  *arrivedNs = RealtimeNs();
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); got > 0 && c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      *arrivedNs = static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    }
  }
  return got;
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
  const int s = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s < 0) {
    SetLastError(errno == EPERM || errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  // Only answers reach the socket: not our own requests looped back, nor other traffic.
  icmp_filter filter{};
  filter.data = ~static_cast<std::uint32_t>((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                                            (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB) |
                                            (1u << ICMP_SOURCE_QUENCH));
  setsockopt(s, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  // The kernel stamps each answer as it arrives, so a busy machine's scheduling stays out of the times.
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  return MakeHandle(new IcmpHandle(s, NextIdentifier()));
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
    if (!(waits[0].revents & POLLIN)) continue;
    std::int64_t arrivedNs = 0;
    const ssize_t got = Receive(handle->Socket(), packet, &arrivedNs);
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

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
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/CaptureHelperClient.h"
#include "platform/IcmpApi.h"
#include "platform/linux/IcmpAnswer.h"
#include "platform/linux/IcmpHandle.h"

namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kMaxRequestData = 65507;  // an IPv4 datagram of 65535 bytes
constexpr std::size_t kReceiveBuffer = 65536;

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
  *arrivedNs = IcmpRealtimeNs();
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
  std::uint16_t identifier = IcmpNextIdentifier();
  bool ping = false;
  int s = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s < 0) {
    if (errno != EPERM && errno != EACCES) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    // Without CAP_NET_RAW of its own: a ping socket where the system allows one (no program to
    // start), else the capture helper's raw socket.
    s = IcmpOpenPingSocket(AF_INET, &identifier);
    ping = s >= 0;
    const int on = 1;
    if (ping)
      for (const int option : {IP_RECVERR, IP_RECVTTL, IP_RECVTOS}) setsockopt(s, IPPROTO_IP, option, &on, sizeof on);
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
  return MakeHandle(new IcmpHandle(s, AF_INET, identifier, ping));
}

BOOL IcmpCloseHandle(HANDLE icmpHandle) {
  if (HandleTarget(icmpHandle, IcmpHandle::kKind) == nullptr) return 0;
  return CloseHandle(icmpHandle);
}

BOOL IcmpCancelEcho(HANDLE icmpHandle) {
  auto* handle = static_cast<IcmpHandle*>(HandleTarget(icmpHandle, IcmpHandle::kKind));
  if (handle == nullptr) return 0;
  handle->Cancel().Set();
  return 1;
}

DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr DestinationAddress, void* RequestData, unsigned short RequestSize,
                   PIP_OPTION_INFORMATION RequestOptions, void* ReplyBuffer, DWORD ReplySize, DWORD Timeout) {
  auto* handle = static_cast<IcmpHandle*>(HandleTarget(icmpHandle, IcmpHandle::kKind));
  if (handle == nullptr) return 0;
  if (handle->Family() != AF_INET) return IcmpFail(ERROR_INVALID_HANDLE);
  if (ReplyBuffer == nullptr || (RequestData == nullptr && RequestSize != 0)) return IcmpFail(ERROR_INVALID_PARAMETER);
  if (ReplySize < sizeof(ICMP_ECHO_REPLY) + kIcmpHeader) return IcmpFail(IP_BUF_TOO_SMALL);
  if (RequestSize > kMaxRequestData) return IcmpFail(IP_PACKET_TOO_BIG);
  if (DestinationAddress == 0 || DestinationAddress == 0xFFFFFFFFu) return IcmpFail(IP_BAD_DESTINATION);
  if (RequestOptions != nullptr && RequestOptions->OptionsSize > 40) return IcmpFail(IP_OPTION_TOO_BIG);

  std::lock_guard<std::mutex> requestLock(handle->RequestLock());
  if (handle->Cancel().IsSet()) return IcmpFail(ERROR_CANCELLED);
  if (!ApplyOptions(handle->Socket(), RequestOptions)) return IcmpFail(IP_BAD_OPTION);

  const std::uint16_t sequence = handle->NextSequence();
  std::vector<std::uint8_t> request(kIcmpHeader + RequestSize);
  request[0] = ICMP_ECHO;
  request[4] = static_cast<std::uint8_t>(handle->Identifier() >> 8);
  request[5] = static_cast<std::uint8_t>(handle->Identifier());
  request[6] = static_cast<std::uint8_t>(sequence >> 8);
  request[7] = static_cast<std::uint8_t>(sequence);
  if (RequestSize != 0) std::memcpy(request.data() + kIcmpHeader, RequestData, RequestSize);
  const std::uint16_t sum = IcmpChecksum(request.data(), request.size());
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = DestinationAddress;
  const auto sent = std::chrono::steady_clock::now();
  const std::int64_t sentNs = IcmpRealtimeNs();
  if (sendto(handle->Socket(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
    return IcmpFail(IcmpSendError(errno));

  std::vector<std::uint8_t> packet(kReceiveBuffer);
  return handle->AwaitAnswer(sent + std::chrono::milliseconds(Timeout), [&](bool errors) {
    std::int64_t arrivedNs = 0;
    const ssize_t got = Receive(*handle, errors, packet, &arrivedNs);
    if (got <= 0) return false;
    const IcmpAnswer answer = ReadIcmpAnswer(packet.data(), static_cast<std::size_t>(got), DestinationAddress,
                                             handle->Identifier(), sequence);
    if (!answer.ours) return false;
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
    return true;
  });
}

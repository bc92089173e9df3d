// ICMPv6 echo over a raw ICMPv6 socket (the process's own, or PelorinCaptureHelper's), or over a
// ping socket where net.ipv4.ping_group_range lets the user have one (it rules both families).
// Answers are matched as the IPv4 echoes' are: identifier, sequence and the address asked.
#include <arpa/inet.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/CaptureHelperClient.h"
#include "platform/IcmpApi.h"
#include "platform/linux/IcmpAnswer.h"
#include "platform/linux/IcmpHandle.h"

namespace {

constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kIp6Header = 40;
constexpr std::size_t kMaxRequestData = 65527;  // an IPv6 payload of 65535 bytes
constexpr std::size_t kReceiveBuffer = 65536;

// One ICMPv6 message as a raw socket shows it, with its sender, hop limit and traffic class and
// the kernel's arrival stamp. A ping socket's error answer (from its error queue when errors is
// set) is rebuilt around the request it quotes, so that one reader takes them all.
struct Received6 {
  std::size_t size = 0;  // 0: nothing of use
  std::uint8_t from[16]{};
  unsigned char hopLimit = 0;
  unsigned char trafficClass = 0;
  std::int64_t arrivedNs = 0;
};

Received6 Receive6(const IcmpHandle& handle, bool errors, std::vector<std::uint8_t>& packet) {
  Received6 received;
  const std::size_t front = errors ? kIcmpHeader + kIp6Header : 0;
  iovec data{packet.data() + front, packet.size() - front};
  sockaddr_in6 peer{};
  alignas(cmsghdr) char control[512];
  msghdr message{};
  message.msg_name = &peer;
  message.msg_namelen = sizeof peer;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(handle.Socket(), &message, MSG_DONTWAIT | (errors ? MSG_ERRQUEUE : 0));
  received.arrivedNs = IcmpRealtimeNs();
  if (got <= 0) return received;
  const sock_extended_err* error = nullptr;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      received.arrivedNs = static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    } else if (c->cmsg_level == IPPROTO_IPV6 && (c->cmsg_type == IPV6_HOPLIMIT || c->cmsg_type == IPV6_TCLASS) &&
               c->cmsg_len >= CMSG_LEN(sizeof(int))) {
      int value;
      std::memcpy(&value, CMSG_DATA(c), sizeof value);
      (c->cmsg_type == IPV6_HOPLIMIT ? received.hopLimit : received.trafficClass) = static_cast<unsigned char>(value);
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR &&
               c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in6))) {
      error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
    }
  }
  if (!errors) {
    std::memcpy(received.from, &peer.sin6_addr, 16);
    received.size = static_cast<std::size_t>(got);
    return received;
  }
  // Only what a router or the target answered counts, not a local failure to send.
  if (error == nullptr || error->ee_origin != SO_EE_ORIGIN_ICMP6) return received;
  sockaddr_in6 offender;
  std::memcpy(&offender, SO_EE_OFFENDER(error), sizeof offender);
  std::memcpy(received.from, &offender.sin6_addr, 16);
  std::uint8_t* p = packet.data();
  std::memset(p, 0, front);
  p[0] = error->ee_type;
  p[1] = error->ee_code;
  std::uint8_t* quoted = p + kIcmpHeader;  // the IPv6 header of the request: version, next header, destination
  quoted[0] = 0x60;
  quoted[6] = IPPROTO_ICMPV6;
  std::memcpy(quoted + 24, &peer.sin6_addr, 16);
  received.size = front + static_cast<std::size_t>(got);
  return received;
}

bool ApplyOptions6(int socket, const IP_OPTION_INFORMATION* options) {
  int hops = -1;  // the route's default
  int trafficClass = 0;
  int dontFragment = 0;
  if (options != nullptr) {
    if (options->Ttl != 0) hops = options->Ttl;
    trafficClass = options->Tos;
    dontFragment = (options->Flags & IP_FLAG_DF) != 0;
  }
  return setsockopt(socket, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops) == 0 &&
         setsockopt(socket, IPPROTO_IPV6, IPV6_TCLASS, &trafficClass, sizeof trafficClass) == 0 &&
         setsockopt(socket, IPPROTO_IPV6, IPV6_DONTFRAG, &dontFragment, sizeof dontFragment) == 0;
}

}  // namespace

HANDLE Icmp6CreateFile() {
  std::uint16_t identifier = IcmpNextIdentifier();
  bool ping = false;
  int s = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
  if (s < 0) {
    if (errno != EPERM && errno != EACCES) {
      SetLastError(errno == EAFNOSUPPORT ? ERROR_NOT_SUPPORTED : ERROR_NOT_ENOUGH_MEMORY);
      return INVALID_HANDLE_VALUE;
    }
    s = IcmpOpenPingSocket(AF_INET6, &identifier);
    ping = s >= 0;
    const int on = 1;
    if (ping) setsockopt(s, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    if (s < 0) s = CaptureHelperClient::OpenIcmp6Socket(nullptr);
    if (s < 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (!ping) {
    // Only answers reach the socket: not our own requests looped back, nor other traffic.
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (const int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
      ICMP6_FILTER_SETPASS(type, &filter);
    setsockopt(s, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
  }
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  for (const int option : {IPV6_RECVHOPLIMIT, IPV6_RECVTCLASS}) setsockopt(s, IPPROTO_IPV6, option, &on, sizeof on);
  return MakeHandle(new IcmpHandle(s, AF_INET6, identifier, ping));
}

DWORD Icmp6SendEcho2(HANDLE icmpHandle, HANDLE Event, void* ApcRoutine, void*, sockaddr_in6* SourceAddress,
                     sockaddr_in6* DestinationAddress, void* RequestData, unsigned short RequestSize,
                     PIP_OPTION_INFORMATION RequestOptions, void* ReplyBuffer, DWORD ReplySize, DWORD Timeout) {
  auto* handle = static_cast<IcmpHandle*>(HandleTarget(icmpHandle, IcmpHandle::kKind));
  if (handle == nullptr) return 0;
  if (handle->Family() != AF_INET6) return IcmpFail(ERROR_INVALID_HANDLE);
  if (Event != nullptr || ApcRoutine != nullptr || ReplyBuffer == nullptr || DestinationAddress == nullptr ||
      (RequestData == nullptr && RequestSize != 0))
    return IcmpFail(ERROR_INVALID_PARAMETER);
  if (ReplySize < sizeof(ICMPV6_ECHO_REPLY) + kIcmpHeader) return IcmpFail(IP_BUF_TOO_SMALL);
  if (RequestSize > kMaxRequestData) return IcmpFail(IP_PACKET_TOO_BIG);
  const sockaddr_in6 to = *DestinationAddress;
  if (IN6_IS_ADDR_UNSPECIFIED(&to.sin6_addr) || IN6_IS_ADDR_MULTICAST(&to.sin6_addr))
    return IcmpFail(IP_BAD_DESTINATION);

  std::lock_guard<std::mutex> requestLock(handle->RequestLock());
  if (handle->Cancel().IsSet()) return IcmpFail(ERROR_CANCELLED);
  if (!ApplyOptions6(handle->Socket(), RequestOptions)) return IcmpFail(IP_BAD_OPTION);

  const std::uint16_t sequence = handle->NextSequence();
  std::vector<std::uint8_t> request(kIcmpHeader + RequestSize);  // the kernel fills in the checksum
  request[0] = ICMP6_ECHO_REQUEST;
  request[4] = static_cast<std::uint8_t>(handle->Identifier() >> 8);
  request[5] = static_cast<std::uint8_t>(handle->Identifier());
  request[6] = static_cast<std::uint8_t>(sequence >> 8);
  request[7] = static_cast<std::uint8_t>(sequence);
  if (RequestSize != 0) std::memcpy(request.data() + kIcmpHeader, RequestData, RequestSize);

  sockaddr_in6 destination = to;
  destination.sin6_family = AF_INET6;
  destination.sin6_port = 0;
  iovec data{request.data(), request.size()};
  msghdr message{};
  message.msg_name = &destination;
  message.msg_namelen = sizeof destination;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  // A source address of the caller's goes with the request; :: leaves it to the route.
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))]{};
  if (SourceAddress != nullptr && !IN6_IS_ADDR_UNSPECIFIED(&SourceAddress->sin6_addr)) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IPV6;
    c->cmsg_type = IPV6_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
    in6_pktinfo info{};
    info.ipi6_addr = SourceAddress->sin6_addr;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  const auto sent = std::chrono::steady_clock::now();
  const std::int64_t sentNs = IcmpRealtimeNs();
  if (sendmsg(handle->Socket(), &message, 0) < 0) return IcmpFail(IcmpSendError(errno));

  std::vector<std::uint8_t> packet(kReceiveBuffer);
  const auto* asked = reinterpret_cast<const std::uint8_t*>(&destination.sin6_addr);
  return handle->AwaitAnswer(sent + std::chrono::milliseconds(Timeout), [&](bool errors) {
    const Received6 got = Receive6(*handle, errors, packet);
    if (got.size == 0) return false;
    const IcmpAnswer answer =
        ReadIcmp6Answer(packet.data(), got.size, got.from, asked, handle->Identifier(), sequence);
    if (!answer.ours) return false;
    ICMPV6_ECHO_REPLY reply{};
    std::memcpy(reply.Address.sin6_addr, answer.from6, sizeof reply.Address.sin6_addr);
    reply.Address.sin6_scope_id = destination.sin6_scope_id;
    reply.Status = answer.status;
    reply.RoundTripTime = static_cast<unsigned int>(std::max<std::int64_t>(got.arrivedNs - sentNs, 0) / 1000000);
    std::memcpy(ReplyBuffer, &reply, sizeof reply);
    const std::size_t room = ReplySize - sizeof reply;
    const std::size_t copied = std::min(answer.dataSize, room);
    if (copied != 0) std::memcpy(static_cast<std::uint8_t*>(ReplyBuffer) + sizeof reply, answer.data, copied);
    return true;
  });
}

DWORD Icmp6ParseReplies(void* ReplyBuffer, DWORD ReplySize) {
  if (ReplyBuffer == nullptr || ReplySize < sizeof(ICMPV6_ECHO_REPLY)) return IcmpFail(ERROR_INVALID_PARAMETER);
  return 1;
}

#include "platform/linux/IcmpAnswer.h"

#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kIpHeaderMin = 20;
constexpr std::size_t kIcmpHeader = 8;

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t ReadAddress(const std::uint8_t* p) {
  std::uint32_t address;
  std::memcpy(&address, p, 4);  // stays in network byte order
  return address;
}

DWORD UnreachableStatus(std::uint8_t code) {
  switch (code) {
    case ICMP_NET_UNREACH:
    case ICMP_NET_UNKNOWN:
    case ICMP_NET_ANO:
    case ICMP_NET_UNR_TOS:
      return IP_DEST_NET_UNREACHABLE;
    case ICMP_PROT_UNREACH:
      return IP_DEST_PROT_UNREACHABLE;
    case ICMP_PORT_UNREACH:
      return IP_DEST_PORT_UNREACHABLE;
    case ICMP_FRAG_NEEDED:
      return IP_PACKET_TOO_BIG;
    case ICMP_SR_FAILED:
      return IP_BAD_ROUTE;
    default:
      return IP_DEST_HOST_UNREACHABLE;  // host unreachable, unknown, prohibited, ...
  }
}

}  // namespace

IcmpAnswer ReadIcmpAnswer(const std::uint8_t* packet, std::size_t size, IPAddr destination, std::uint16_t identifier,
                          std::uint16_t sequence) {
  IcmpAnswer answer;
  if (size < kIpHeaderMin || (packet[0] >> 4) != 4) return answer;
  const std::size_t headerSize = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  const std::size_t totalSize = std::min<std::size_t>(size, Read16(packet + 2));
  if (headerSize < kIpHeaderMin || headerSize > totalSize || kIcmpHeader > totalSize - headerSize) return answer;
  if (packet[9] != IPPROTO_ICMP) return answer;
  const std::uint8_t* icmp = packet + headerSize;
  const std::size_t icmpSize = totalSize - headerSize;
  answer.from = ReadAddress(packet + 12);
  answer.ttl = packet[8];
  answer.tos = packet[1];
  answer.flags = (packet[6] & 0x40) ? IP_FLAG_DF : 0;
  const std::uint8_t type = icmp[0];
  if (type == ICMP_ECHOREPLY) {
    if (Read16(icmp + 4) != identifier || Read16(icmp + 6) != sequence || answer.from != destination) return answer;
    answer.ours = true;
    answer.status = IP_SUCCESS;
    answer.data = icmp + kIcmpHeader;
    answer.dataSize = icmpSize - kIcmpHeader;
    return answer;
  }
  if (type != ICMP_DEST_UNREACH && type != ICMP_TIME_EXCEEDED && type != ICMP_PARAMETERPROB &&
      type != ICMP_SOURCE_QUENCH)
    return answer;
  // An error quotes the IP header of our request and the first 8 bytes of its ICMP header.
  const std::uint8_t* quoted = icmp + kIcmpHeader;
  const std::size_t quotedSize = icmpSize - kIcmpHeader;
  if (quotedSize < kIpHeaderMin || (quoted[0] >> 4) != 4) return answer;
  const std::size_t quotedHeader = static_cast<std::size_t>(quoted[0] & 0x0F) * 4;
  if (quotedHeader < kIpHeaderMin || quotedHeader > quotedSize || kIcmpHeader > quotedSize - quotedHeader) return answer;
  const std::uint8_t* quotedIcmp = quoted + quotedHeader;
  if (quoted[9] != IPPROTO_ICMP || ReadAddress(quoted + 16) != destination || quotedIcmp[0] != ICMP_ECHO ||
      Read16(quotedIcmp + 4) != identifier || Read16(quotedIcmp + 6) != sequence)
    return answer;
  answer.ours = true;
  switch (type) {
    case ICMP_TIME_EXCEEDED:
      answer.status = icmp[1] == ICMP_EXC_FRAGTIME ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
      break;
    case ICMP_DEST_UNREACH:
      answer.status = UnreachableStatus(icmp[1]);
      break;
    case ICMP_PARAMETERPROB:
      answer.status = IP_PARAM_PROBLEM;
      break;
    default:
      answer.status = IP_SOURCE_QUENCH;
      break;
  }
  answer.data = quoted;
  answer.dataSize = quotedSize;
  return answer;
}


namespace {

constexpr std::size_t kIp6Header = 40;
constexpr std::uint8_t kNextIcmp6 = 58;

constexpr std::uint8_t kUnreachPolicyFail = 5;  // source address failed ingress/egress policy
constexpr std::uint8_t kUnreachRejectRoute = 6;

DWORD Icmp6ErrorStatus(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case ICMP6_DST_UNREACH:
      switch (code) {
        case ICMP6_DST_UNREACH_NOROUTE:
        case kUnreachRejectRoute:
          return IP_DEST_NO_ROUTE;
        case ICMP6_DST_UNREACH_ADMIN:
        case kUnreachPolicyFail:
          return IP_DEST_PROHIBITED;
        case ICMP6_DST_UNREACH_BEYONDSCOPE:
          return IP_DEST_SCOPE_MISMATCH;
        case ICMP6_DST_UNREACH_NOPORT:
          return IP_DEST_PORT_UNREACHABLE;
        default:
          return IP_DEST_ADDR_UNREACHABLE;
      }
    case ICMP6_PACKET_TOO_BIG:
      return IP_PACKET_TOO_BIG;
    case ICMP6_TIME_EXCEEDED:
      return code == ICMP6_TIME_EXCEED_REASSEMBLY ? IP_REASSEMBLY_TIME_EXCEEDED : IP_HOP_LIMIT_EXCEEDED;
    case ICMP6_PARAM_PROB:
      return IP_PARAMETER_PROBLEM;
    default:
      return 0;  // not an error we take
  }
}

}  // namespace

IcmpAnswer ReadIcmp6Answer(const std::uint8_t* message, std::size_t size, const std::uint8_t* from,
                           const std::uint8_t* destination, std::uint16_t identifier, std::uint16_t sequence) {
  IcmpAnswer answer;
  if (size < kIcmpHeader) return answer;
  std::memcpy(answer.from6, from, sizeof answer.from6);
  const std::uint8_t type = message[0];
  if (type == ICMP6_ECHO_REPLY) {
    if (Read16(message + 4) != identifier || Read16(message + 6) != sequence || std::memcmp(from, destination, 16) != 0)
      return answer;
    answer.ours = true;
    answer.data = message + kIcmpHeader;
    answer.dataSize = size - kIcmpHeader;
    return answer;
  }
  const DWORD status = Icmp6ErrorStatus(type, message[1]);
  if (status == 0) return answer;
  // An error quotes as much of our request as fits: its IPv6 header (ours has no extension
  // headers) and at least the first 8 bytes of its ICMPv6 header.
  const std::uint8_t* quoted = message + kIcmpHeader;
  const std::size_t quotedSize = size - kIcmpHeader;
  if (quotedSize < kIp6Header + kIcmpHeader || (quoted[0] >> 4) != 6 || quoted[6] != kNextIcmp6) return answer;
  const std::uint8_t* quotedIcmp = quoted + kIp6Header;
  if (std::memcmp(quoted + 24, destination, 16) != 0 || quotedIcmp[0] != ICMP6_ECHO_REQUEST ||
      Read16(quotedIcmp + 4) != identifier || Read16(quotedIcmp + 6) != sequence)
    return answer;
  answer.ours = true;
  answer.status = status;
  answer.data = quoted;
  answer.dataSize = quotedSize;
  return answer;
}

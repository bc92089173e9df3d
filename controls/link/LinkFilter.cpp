#include "controls/link/LinkFilter.h"

#include "common/ShowPacketReceivePackIp.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketBytes.h"

namespace {

constexpr std::size_t kTotalLengthOffset = 2;    // in the IPv4 header
constexpr std::size_t kPayloadLengthOffset = 4;  // in the IPv6 header
constexpr LONG kIpv6HeaderLength = 40;

bool TypeAgrees(const std::string& protocol, const DecodedPacket& packet) {
  const bool ipv6 = protocol.ends_with('6');
  if (ipv6 != packet.ipv6) return false;
  const std::string type = ipv6 ? protocol.substr(0, protocol.size() - 1) : protocol;
  if (type == "TCP") return packet.typeCode == kPacketTypeTcp;
  if (type == "UDP") return packet.typeCode == kPacketTypeUdp;
  if (type == "ICMP") return packet.typeCode == kPacketTypeIcmp;
  if (type == "IP") return packet.typeCode == kPacketTypeIp;
  return false;  // a protocol text of no known type keeps nothing
}

// One rule of a pair of values in either direction: an unset condition matches anything.
template <typename Value>
bool EitherWay(bool useA, bool useB, const Value& source, const Value& destination, const Value& a, const Value& b) {
  return ((!useA || source == a) && (!useB || destination == b)) ||
         ((!useA || source == b) && (!useB || destination == a));
}

bool IsSet(const std::array<std::uint8_t, 16>& address) { return address != std::array<std::uint8_t, 16>{}; }

}  // namespace

DWORD LinkFilter::InitMonFlags(const std::string& protocol) {
  m_protocol = protocol;
  m_flags = Defined();
  return m_flags;
}

void LinkFilter::SetMonFlags(DWORD flag, int on) {
  flag &= kAllFlags;
  // Clearing, not subtracting: taking away a value that is not set would set other flags.
  if (on)
    m_flags |= flag;
  else
    m_flags &= ~flag;
}

DWORD LinkFilter::Defined() const {
  DWORD defined = 0;
  if (!m_protocol.empty()) defined |= kType;
  if (m_link6 ? IsSet(m_link6->local) : m_link.localAddr != 0) defined |= kFromAddr;
  if (m_link.localPort != 0) defined |= kFromPort;
  if (m_link6 ? IsSet(m_link6->remote) : m_link.remoteAddr != 0) defined |= kToAddr;
  if (m_link.remotePort != 0) defined |= kToPort;
  return defined;
}

bool LinkFilter::Passes(const DecodedPacket& packet) const {
  const DWORD flags = m_flags & Defined();
  if ((flags & kType) && !TypeAgrees(m_protocol, packet)) return false;
  // Fields that were not captured decode as 0 and so never match a defined part; an IPv6
  // packet's 32-bit addresses are 0 too, as an IPv4 packet's 16-byte ones are.
  const bool addresses =
      m_link6 ? EitherWay(flags & kFromAddr, flags & kToAddr, packet.source6, packet.destination6, m_link6->local,
                          m_link6->remote)
              : EitherWay(flags & kFromAddr, flags & kToAddr, packet.source, packet.destination, m_link.localAddr,
                          m_link.remoteAddr);
  if (!addresses) return false;
  return EitherWay<std::uint32_t>(flags & kFromPort, flags & kToPort, static_cast<std::uint32_t>(packet.sourcePort),
                                  static_cast<std::uint32_t>(packet.destinationPort), m_link.localPort,
                                  m_link.remotePort);
}

bool LinkFilter::SizePasses(LONG size) const {
  if (m_minimum > 0 && m_maximum > 0 && m_maximum < m_minimum) return size == m_minimum || size == m_maximum;
  if (m_minimum > 0 && size < m_minimum) return false;
  if (m_maximum > 0 && size > m_maximum) return false;
  return true;
}

LONG LinkFilter::FrameSize(const std::uint8_t* frame, LONG length, LONG ipOffset) {
  if (frame == nullptr || length < 1 || ipOffset < 0) return 0;
  const bool ipv6 = IsIpv6Frame(frame, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(ipOffset));
  std::uint16_t field = 0;
  PacketBytes bytes(frame, static_cast<std::size_t>(length));
  if (!bytes.Be16(static_cast<std::size_t>(ipOffset) + (ipv6 ? kPayloadLengthOffset : kTotalLengthOffset), field))
    return 0;
  // An IPv6 packet's size is its payload and its fixed header, as the pane shows it.
  return ipv6 ? field + kIpv6HeaderLength : field;
}

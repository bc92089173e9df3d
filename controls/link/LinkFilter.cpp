#include "controls/link/LinkFilter.h"

#include "common/ShowPacketReceivePackIp.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketBytes.h"

namespace {

constexpr std::size_t kTotalLengthOffset = 2;  // in the IPv4 header

bool TypeAgrees(const std::string& protocol, std::int32_t typeCode) {
  if (protocol == "TCP") return typeCode == kPacketTypeTcp;
  if (protocol == "UDP") return typeCode == kPacketTypeUdp;
  if (protocol == "ICMP") return typeCode == kPacketTypeIcmp;
  if (protocol == "IP") return typeCode == kPacketTypeIp;
  return false;  // a protocol text of no known type keeps nothing
}

// One rule of a pair of values in either direction: an unset condition matches anything.
bool EitherWay(bool useA, bool useB, std::uint32_t source, std::uint32_t destination, std::uint32_t a,
               std::uint32_t b) {
  return ((!useA || source == a) && (!useB || destination == b)) ||
         ((!useA || source == b) && (!useB || destination == a));
}

}  // namespace

DWORD LinkFilter::InitMonFlags(const std::string& protocol) {
  m_protocol = protocol;
  m_flags = 0;
  if (!protocol.empty()) m_flags |= kType;
  if (m_link.localAddr != 0) m_flags |= kFromAddr;
  if (m_link.localPort != 0) m_flags |= kFromPort;
  if (m_link.remoteAddr != 0) m_flags |= kToAddr;
  if (m_link.remotePort != 0) m_flags |= kToPort;
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

DWORD LinkFilter::Effective() const {
  DWORD defined = 0;
  if (!m_protocol.empty()) defined |= kType;
  if (m_link.localAddr != 0) defined |= kFromAddr;
  if (m_link.localPort != 0) defined |= kFromPort;
  if (m_link.remoteAddr != 0) defined |= kToAddr;
  if (m_link.remotePort != 0) defined |= kToPort;
  return m_flags & defined;
}

bool LinkFilter::Passes(const DecodedPacket& packet) const {
  const DWORD flags = Effective();
  if ((flags & kType) && !TypeAgrees(m_protocol, packet.typeCode)) return false;
  // Fields that were not captured decode as 0 and so never match a defined part.
  if (!EitherWay(flags & kFromAddr, flags & kToAddr, packet.source, packet.destination, m_link.localAddr,
                 m_link.remoteAddr))
    return false;
  return EitherWay(flags & kFromPort, flags & kToPort, static_cast<std::uint32_t>(packet.sourcePort),
                   static_cast<std::uint32_t>(packet.destinationPort), m_link.localPort, m_link.remotePort);
}

bool LinkFilter::SizePasses(LONG size) const {
  if (m_minimum > 0 && m_maximum > 0 && m_maximum < m_minimum) return size == m_minimum || size == m_maximum;
  if (m_minimum > 0 && size < m_minimum) return false;
  if (m_maximum > 0 && size > m_maximum) return false;
  return true;
}

LONG LinkFilter::FrameSize(const std::uint8_t* frame, LONG length, LONG ipOffset) {
  if (frame == nullptr || length < 1 || ipOffset < 0) return 0;
  std::uint16_t total = 0;
  PacketBytes bytes(frame, static_cast<std::size_t>(length));
  if (!bytes.Be16(static_cast<std::size_t>(ipOffset) + kTotalLengthOffset, total)) return 0;
  return total;
}

#include "controls/packets/PacketFilter.h"

#include <algorithm>

#include "common/ShowPacketReceivePackIp.h"

namespace {

bool HasPayload(const DecodedPacket& packet) { return packet.payload && packet.payloadLength >= 1; }

}  // namespace

bool PacketFilter::Load(const PacketFilterSet& set) {
  if (!set.CheckTexts().empty()) return false;
  Clear();
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    const auto& from = set.lists[i];
    List& to = m_lists[i];
    to.count = static_cast<std::uint32_t>(std::min(from.size(), PacketFilterSet::kMaxEntries));
    std::copy_n(from.begin(), to.count, to.entries);
    if (to.count > 0) std::fill(to.entries + to.count, to.entries + kSlots, to.entries[0]);
    const auto& from6 = set.lists6[i];
    m_lists6[i].count = static_cast<std::uint32_t>(std::min(from6.size(), PacketFilterSet::kMaxEntries));
    std::copy_n(from6.begin(), m_lists6[i].count, m_lists6[i].entries);
  }
  m_hasEitherAddress6 = set.eitherAddress6.has_value();
  m_eitherAddress6 = set.eitherAddress6.value_or(PacketFilterSet::Address6{});
  m_hasEitherAddress = set.eitherAddress.has_value();
  m_eitherAddress = set.eitherAddress.value_or(0);
  m_eitherPort = set.eitherPort.value_or(0);
  m_minSize = set.minSize.value_or(0);
  m_maxSize = set.maxSize.value_or(0);
  m_tcp = set.tcp;
  m_udp = set.udp;
  m_icmp = set.icmp;
  m_other = set.other;
  m_mustContain.Set(set.mustContain);
  m_mustNotContain.Set(set.mustNotContain);
  m_loaded = true;
  return true;
}

void PacketFilter::Clear() { *this = PacketFilter(); }

bool PacketFilter::Holds(const List& list, std::uint32_t value) {
  unsigned hit = 0;
  for (std::size_t i = 0; i < kSlots; ++i) hit |= list.entries[i] == value;
  return hit != 0;
}

bool PacketFilter::Holds6(const List6& list, const std::array<std::uint8_t, 16>& value) {
  for (std::uint32_t i = 0; i < list.count; ++i)
    if (list.entries[i] == value) return true;
  return false;
}

bool PacketFilter::ListHolds(int index, const DecodedPacket& packet, std::uint32_t field) const {
  // Ports are the same for both families; an address is looked for among the entries of its own.
  const auto which = static_cast<FilterList>(index);
  if (packet.ipv6 && !PacketFilterSet::IsPortList(which)) {
    const bool source = which == FilterList::SourceIpMustBe || which == FilterList::SourceIpMustNotBe;
    return Holds6(m_lists6[index], source ? packet.source6 : packet.destination6);
  }
  return m_lists[index].count > 0 && Holds(m_lists[index], field);
}

bool PacketFilter::MustContain(const DecodedPacket& packet) const {
  if (!m_mustContain.IsSet()) return true;
  if (!HasPayload(packet)) return false;
  return m_mustContain.FoundIn(packet.payload, static_cast<std::size_t>(packet.payloadLength));
}

bool PacketFilter::MustNotContain(const DecodedPacket& packet) const {
  if (!m_mustNotContain.IsSet() || !HasPayload(packet)) return true;
  return !m_mustNotContain.FoundIn(packet.payload, static_cast<std::size_t>(packet.payloadLength));
}

bool PacketFilter::Passes(const DecodedPacket& packet) const {
  if (!m_loaded) return true;

  // Every test is a plain yes or no on the packet, so the order only decides how soon a failing
  // packet is let go: the cheap tests run first and the payload scans last.
  const std::int32_t size = packet.size;
  const bool minSet = m_minSize > 0, maxSet = m_maxSize > 0;
  if (minSet && maxSet && m_maxSize < m_minSize) {
    if (size != m_minSize && size != m_maxSize) return false;
  } else {
    if (minSet && size < m_minSize) return false;
    if (maxSet && size > m_maxSize) return false;
  }

  bool protocol;
  switch (packet.typeCode) {
    case kPacketTypeTcp: protocol = m_tcp; break;
    case kPacketTypeUdp: protocol = m_udp; break;
    case kPacketTypeIcmp: protocol = m_icmp; break;
    default: protocol = m_other;
  }
  if (!protocol) return false;

  // An either-end address of one family is at neither end of a packet of the other.
  if (m_hasEitherAddress &&
      (packet.ipv6 || (m_eitherAddress != packet.source && m_eitherAddress != packet.destination)))
    return false;
  if (m_hasEitherAddress6 &&
      (!packet.ipv6 || (m_eitherAddress6 != packet.source6 && m_eitherAddress6 != packet.destination6)))
    return false;
  if (m_eitherPort > 0 && m_eitherPort != packet.sourcePort && m_eitherPort != packet.destinationPort) return false;

  const auto sourcePort = static_cast<std::uint32_t>(packet.sourcePort);
  const auto destinationPort = static_cast<std::uint32_t>(packet.destinationPort);
  const struct {
    FilterList list;
    std::uint32_t field;
    bool mustBe;
  } tests[] = {
      {FilterList::SourceIpMustBe, packet.source, true},
      {FilterList::SourceIpMustNotBe, packet.source, false},
      {FilterList::SourcePortMustBe, sourcePort, true},
      {FilterList::SourcePortMustNotBe, sourcePort, false},
      {FilterList::DestIpMustBe, packet.destination, true},
      {FilterList::DestIpMustNotBe, packet.destination, false},
      {FilterList::DestPortMustBe, destinationPort, true},
      {FilterList::DestPortMustNotBe, destinationPort, false},
  };
  for (const auto& test : tests) {
    const int index = static_cast<int>(test.list);
    if (m_lists[index].count + m_lists6[index].count > 0 && ListHolds(index, packet, test.field) != test.mustBe)
      return false;
  }

  return MustContain(packet) && MustNotContain(packet);
}

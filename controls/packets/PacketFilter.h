#pragma once
#include <cstddef>
#include <cstdint>

#include "controls/packets/PacketFilterSet.h"
#include "controls/packets/PayloadPattern.h"
#include "wincap/DecodedPacket.h"

// The filter set as the capture thread holds it while it matches packets: fixed storage for 50
// entries per list and a 40-byte slot per text, so matching allocates nothing and never reads
// past its storage.
//
// The capture thread loads a set read from the registry under its filters lock, matches every
// live packet while the apply switch is on, and clears it when capture stops. Not loaded (or
// cleared), every packet passes: no test is in force.
class PacketFilter {
 public:
  // Takes the set's tests. The first 50 entries of each list are used. false, and the filter
  // stays as it was, when a text is longer than PacketFilterSet::kMaxText.
  bool Load(const PacketFilterSet& set);
  void Clear();
  bool IsLoaded() const { return m_loaded; }

  // True when the packet passes every test in force:
  //   size: minimum and maximum count when above 0; when both are set and the maximum is below
  //         the minimum, only a size equal to one of them passes;
  //   must contain / must not contain: the texts in the payload (see MustContain);
  //   protocols: TCP for type 3, UDP for 4, ICMP for 1, Other for any other type; with none on,
  //         nothing passes;
  //   either-end address (when present) and either-end port (when above 0): the source or the
  //         destination holds it;
  //   the eight lists, each on its own field, when not empty.
  bool Passes(const DecodedPacket& packet) const;

  // The text tests on their own. Without a must-contain text MustContain is true; with one, a
  // packet without payload fails it. Without a must-not-contain text, or without payload,
  // MustNotContain is true.
  bool MustContain(const DecodedPacket& packet) const;
  bool MustNotContain(const DecodedPacket& packet) const;

 private:
  // Room for 52 entries: the unused tail repeats the first entry, so membership is a loop of
  // fixed length the compiler turns into vector compares, with the same answer as a search of
  // the entries alone.
  static constexpr std::size_t kSlots = 52;
  static_assert(kSlots >= PacketFilterSet::kMaxEntries && kSlots % 4 == 0);
  struct List {
    std::uint32_t count = 0;
    std::uint32_t entries[kSlots] = {};
  };
  static bool Holds(const List& list, std::uint32_t value);
  // The IPv6 entries of an address list, searched only for IPv6 packets.
  struct List6 {
    std::uint32_t count = 0;
    PacketFilterSet::Address6 entries[PacketFilterSet::kMaxEntries] = {};
  };
  static bool Holds6(const List6& list, const std::array<std::uint8_t, 16>& value);
  // The list's answer for the packet: whether the part of its family holds the field. A list
  // with entries of the other family only holds nothing of it.
  bool ListHolds(int index, const DecodedPacket& packet, std::uint32_t field) const;

  bool m_loaded = false;
  List m_lists[PacketFilterSet::kListCount];
  List6 m_lists6[PacketFilterSet::kListCount];
  bool m_hasEitherAddress = false;
  std::uint32_t m_eitherAddress = 0;
  bool m_hasEitherAddress6 = false;
  PacketFilterSet::Address6 m_eitherAddress6{};
  std::int32_t m_eitherPort = 0;  // in force when above 0
  std::int32_t m_minSize = 0;     // in force when above 0
  std::int32_t m_maxSize = 0;
  bool m_tcp = true, m_udp = true, m_icmp = true, m_other = true;
  PayloadPattern m_mustContain;
  PayloadPattern m_mustNotContain;
};

#pragma once
#include <string>
#include <string_view>

#include "controls/packets/PacketFilterResult.h"
#include "controls/packets/PacketFilterSet.h"

// The ".flt" filter file exchanged between installations. All integers are 32-bit little-endian
// and there is no header:
//   eight lists, in FilterList order: count (0..50), then count 4-byte values;
//   either-end address: flag (1 present, 0 absent), then the address when present;
//   either-end port, minimum size, maximum size: the same;
//   four protocol flags: TCP, UDP, ICMP, Other (1 checked, 0 not);
//   must contain, must not contain: length in bytes (0..30), then the bytes, no terminating zero.
// A set with IPv6 entries follows this with the bytes "IPv6", then for each of the four address
// lists in FilterList order its IPv6 entries (count 0..50, then 16 bytes each in network order),
// then the either-end IPv6 address (flag, then 16 bytes when present). A set without IPv6 has no
// such part, so its file is the same as before IPv6 entries existed; a reader that knows nothing
// of the part reads the IPv4 entries and stops where they end.
class PacketFilterFile {
 public:
  static constexpr char kIpv6Marker[4] = {'I', 'P', 'v', '6'};
  static constexpr std::size_t kIpv6Bytes = 4 + 4 * (4 + PacketFilterSet::kMaxEntries * 16) + 4 + 16;
  // Longest possible file; bytes after a complete set are not read.
  static constexpr std::size_t kMaxBytes =
      PacketFilterSet::kListCount * 4 * (1 + PacketFilterSet::kMaxEntries) + 4 * (2 + 2 + 2 + 2) + 4 * 4 +
      2 * (4 + PacketFilterSet::kMaxText) + kIpv6Bytes;

  // The file image of a set: the first 50 entries of each list. The set's texts must fit
  // (PacketFilterSet::CheckTexts).
  static std::string Encode(const PacketFilterSet& set);

  // Reads a file image. On success fills out; otherwise out is left as it was and the result is
  // E_FILTERS_INVALID with what was wrong: a count above 50 or below 0, a flag other than 0 or 1,
  // a text length above 30 or below 0, or bytes ending before the set (or its IPv6 part) does.
  static PacketFilterResult Decode(std::string_view bytes, PacketFilterSet& out);

  // Writes the set to the file, replacing an existing one only once the new content is complete
  // on disk: a failed write leaves the old file as it was. E_UNEXPECTED without a name, E_FAIL
  // when the file cannot be written, E_FILTERS_INVALID when a text is too long.
  static PacketFilterResult Write(const std::string& path, const PacketFilterSet& set);

  // Reads the file, opened read-only. E_UNEXPECTED without a name, E_FAIL when it cannot be
  // opened or read, E_FILTERS_INVALID for damaged content; out changes only on success.
  static PacketFilterResult Read(const std::string& path, PacketFilterSet& out);

  // The dialogs take any name that contains ".flt" (so "a.flt.bak" too) and add ".flt" to a name
  // that lacks it when saving.
  static bool IsFilterFileName(std::string_view name);
  static std::string MakeFilterFileName(std::string name);
};

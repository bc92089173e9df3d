#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The eight address and port lists of a filter set, in the order they take in a filter file.
enum class FilterList : int {
  SourceIpMustBe,
  SourceIpMustNotBe,
  SourcePortMustBe,
  SourcePortMustNotBe,
  DestIpMustBe,
  DestIpMustNotBe,
  DestPortMustBe,
  DestPortMustNotBe,
};

// One set of packet filters as the filters dialog edits it and as the registry key "Filters" and
// the ".flt" files hold it. Values are kept as stored; which of them filter is decided when the
// set is matched (PacketFilter): an empty list, a missing value or an empty text does not filter,
// sizes and the either-end port filter only above 0.
struct PacketFilterSet {
  static constexpr int kListCount = 8;
  static constexpr std::size_t kMaxEntries = 50;  // per list
  static constexpr std::size_t kMaxText = 30;     // bytes of each text

  // Addresses in network byte order as InetAddr gives them; ports as the value of their decimal
  // text, kept as the 32-bit pattern of that integer.
  std::array<std::vector<std::uint32_t>, kListCount> lists;
  std::optional<std::uint32_t> eitherAddress;  // must be the source or the destination
  std::optional<std::int32_t> eitherPort;      // must be the source or the destination port
  std::optional<std::int32_t> minSize;         // IPv4 total length, bytes
  std::optional<std::int32_t> maxSize;
  bool tcp = true;
  bool udp = true;
  bool icmp = true;
  bool other = true;
  std::string mustContain;     // bytes looked for in the payload, case matters
  std::string mustNotContain;

  std::vector<std::uint32_t>& List(FilterList which) { return lists[static_cast<int>(which)]; }
  const std::vector<std::uint32_t>& List(FilterList which) const { return lists[static_cast<int>(which)]; }

  // The list's registry value name ("SourceIpMustBe", ...); its count text is the name + "Count".
  static const char* ListName(FilterList which);
  static bool IsPortList(FilterList which);

  // Why the set cannot be stored (a text longer than kMaxText); empty when it can.
  std::string CheckTexts() const;

  bool operator==(const PacketFilterSet&) const = default;
};

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

  using Address6 = std::array<std::uint8_t, 16>;  // network order

  // Addresses in network byte order as InetAddr gives them; ports as the value of their decimal
  // text, kept as the 32-bit pattern of that integer.
  std::array<std::vector<std::uint32_t>, kListCount> lists;
  // The IPv6 entries of the four address lists, beside their IPv4 ones (a list is in force when
  // either part holds an entry); those of the port lists stay empty.
  std::array<std::vector<Address6>, kListCount> lists6;
  std::optional<std::uint32_t> eitherAddress;  // must be the source or the destination
  std::optional<Address6> eitherAddress6;      // the same for an IPv6 address; at most one is set
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
  std::vector<Address6>& List6(FilterList which) { return lists6[static_cast<int>(which)]; }
  const std::vector<Address6>& List6(FilterList which) const { return lists6[static_cast<int>(which)]; }
  bool HasIpv6() const;

  // The list's registry value name ("SourceIpMustBe", ...); its count text is the name + "Count".
  // The IPv6 entries of an address list: "SourceIp6MustBe", ...; "" for a port list.
  static const char* ListName(FilterList which);
  static const char* List6Name(FilterList which);
  static bool IsPortList(FilterList which);

  // Why the set cannot be stored (a text longer than kMaxText); empty when it can.
  std::string CheckTexts() const;

  bool operator==(const PacketFilterSet&) const = default;
};

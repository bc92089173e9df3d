#pragma once
#include <string>
#include <string_view>

#include "controls/packets/PacketFilterResult.h"
#include "controls/packets/PacketFilterSet.h"
#include "platform/AppProfile.h"
#include "platform/Registry.h"

class RegistryTree;

// The filter set in the registry key "Filters" below the packet monitor's registry path:
//   "SourceIpMustBe" ... "DestPortMustNotBe"   binary, 4 bytes per entry, little-endian
//   "SourceIpMustBeCount" ...                   text, number of entries in decimal ("0" when empty)
//   "OrIp", "OrPort"                            32-bit value; a zero-length binary when none
//   "MinPacketSize", "MaxPacketSize"            32-bit value, 0 when not set
//   "TCP", "UDP", "ICMP", "Other"               32-bit value, 1 = shown; read with default 1
//   "MustContain", "MustNotContain"             text, empty when not set
//   "SourceIp6MustBe", "SourceIp6MustNotBe",     binary, the IPv6 entries of the address lists,
//   "DestIp6MustBe", "DestIp6MustNotBe"          16 bytes each in network order, with "...Count"
//                                               texts; written only when the list has some
//   "OrIp6"                                     binary, a 16-byte either-end IPv6 address; only
//                                               when set
//
// Reading takes one snapshot of the store and writing is one transaction, so a reader (the
// capture thread reloading its filters) never sees a set the dialog has only half written.
class PacketFilterStore {
 public:
  // registryPath is the monitor's registry path text, for example
  // "\\Software\\DunmereIncProducts\\Setup\\PelorinPro" (a leading backslash is dropped).
  explicit PacketFilterStore(std::string_view registryPath, Registry& store = Registry::Current());
  // The application profile's section "Filters", for a dialog opened without a registry path.
  static PacketFilterStore ForProfile(const AppProfile& profile);

  // "<path>\Filters" without a leading backslash; empty when the path names no key.
  static std::string FiltersKey(std::string_view registryPath);
  const std::string& Key() const { return m_key; }

  // Reads the set. A missing key reads as the default set (no list, no value, every protocol
  // shown), as a fresh installation does. The count texts say how many entries of each binary
  // value are used; a count text without leading digits counts 0.
  // E_UNEXPECTED: no key path or an unreadable store. E_FILTERS_INVALID: a count above 50 or
  // below 0, a binary value shorter than its count, "OrIp"/"OrPort" neither a 32-bit value nor
  // empty, a text longer than 30 bytes. out changes only on success.
  PacketFilterResult Read(PacketFilterSet& out) const;

  // Clears the key as Delete does and writes the set over it, in one transaction; the first 50
  // entries of each list. E_UNEXPECTED when the key cannot be written, E_FILTERS_INVALID (nothing
  // written) when a text is too long.
  PacketFilterResult Save(const PacketFilterSet& set) const;

  // Writes the empty set: every list empty with count "0", "OrIp" and "OrPort" zero-length
  // binaries, sizes 0, the four protocol flags 0, both texts empty.
  PacketFilterResult Delete() const;

  // The same over a tree already in hand (inside a larger transaction, or for tests).
  static void WriteEmpty(RegistryTree& tree, const std::string& key);
  static void WriteSet(RegistryTree& tree, const std::string& key, const PacketFilterSet& set);
  static PacketFilterResult ReadTree(const RegistryTree& tree, const std::string& key, PacketFilterSet& out);

 private:
  PacketFilterStore(std::string key, Registry& store, int) : m_key(std::move(key)), m_store(store) {}
  PacketFilterResult NoKey() const;

  std::string m_key;
  Registry& m_store;
};

#include "controls/packets/PacketFilterStore.h"

#include <cstdint>
#include <cstring>

#include "platform/FileContents.h"
#include "platform/RegistryTree.h"

namespace {

constexpr char kOrIp[] = "OrIp";
constexpr char kOrIp6[] = "OrIp6";
constexpr char kOrPort[] = "OrPort";
constexpr char kMinSize[] = "MinPacketSize";
constexpr char kMaxSize[] = "MaxPacketSize";
constexpr char kTcp[] = "TCP";
constexpr char kUdp[] = "UDP";
constexpr char kIcmp[] = "ICMP";
constexpr char kOther[] = "Other";
constexpr char kMustContain[] = "MustContain";
constexpr char kMustNotContain[] = "MustNotContain";

std::string CountName(FilterList which) { return std::string(PacketFilterSet::ListName(which)) + "Count"; }

std::uint32_t LittleEndian(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::vector<std::uint8_t> EncodeList(const std::vector<std::uint32_t>& list, std::size_t count) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(count * 4);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t v = list[i];
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((v >> 16) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((v >> 24) & 0xFF));
  }
  return bytes;
}

// Count texts are read as the C library's atoi reads them: leading blanks, a sign, then digits,
// the rest ignored; a text without leading digits counts 0. Large values stop growing past any
// count that could be allowed, so they cannot overflow.
long long CountOf(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\v' || text[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    if (value < 1000000000LL) value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

// Values written through the profile are read as the profile reads them: a missing value or one
// of another type gives the default.
std::int32_t ProfileInt(const RegistryTree& tree, const std::string& key, const char* name, std::int32_t fallback) {
  const RegistryValue* v = tree.GetValue(key, name);
  if (!v || v->type != RegistryValue::Type::Dword) return fallback;
  return static_cast<std::int32_t>(v->number);
}

std::string ProfileText(const RegistryTree& tree, const std::string& key, const char* name) {
  const RegistryValue* v = tree.GetValue(key, name);
  if (!v || v->type != RegistryValue::Type::String) return {};
  return v->text;
}

PacketFilterResult Damaged(const std::string& what) {
  return PacketFilterResult::Failure(E_FILTERS_INVALID, "The filters in the registry are damaged: " + what);
}

// "OrIp" and "OrPort": a 32-bit value, or a zero-length binary (or nothing) for none. A 4-byte
// binary is the same value as the platform writes it.
PacketFilterResult ReadEitherEnd(const RegistryTree& tree, const std::string& key, const char* name,
                                 std::optional<std::uint32_t>& out) {
  out.reset();
  const RegistryValue* v = tree.GetValue(key, name);
  if (!v) return PacketFilterResult::Success();
  if (v->type == RegistryValue::Type::Dword) {
    out = v->number;
  } else if (v->type == RegistryValue::Type::Binary && v->bytes.size() == 4) {
    out = LittleEndian(v->bytes.data());
  } else if (!(v->type == RegistryValue::Type::Binary && v->bytes.empty())) {
    return Damaged(std::string("\"") + name + "\" is neither a 32-bit value nor empty.");
  }
  return PacketFilterResult::Success();
}

// A list's entries: its count text says how many entries of entrySize bytes its binary value
// holds. A missing count text counts 0.
struct ListBytes {
  const std::uint8_t* data = nullptr;
  std::size_t count = 0;
};
PacketFilterResult ReadListBytes(const RegistryTree& tree, const std::string& key, const std::string& name,
                                 std::size_t entrySize, ListBytes& out) {
  out = ListBytes{};
  const long long count = CountOf(ProfileText(tree, key, (name + "Count").c_str()));
  if (count < 0 || count > static_cast<long long>(PacketFilterSet::kMaxEntries))
    return Damaged("the list \"" + name + "\" states " + std::to_string(count) + " entries; a filter list holds 0 to " +
                   std::to_string(PacketFilterSet::kMaxEntries) + ".");
  if (count == 0) return PacketFilterResult::Success();
  const RegistryValue* v = tree.GetValue(key, name);
  if (!v || v->type != RegistryValue::Type::Binary || v->bytes.size() < static_cast<std::size_t>(count) * entrySize)
    return Damaged("the list \"" + name + "\" states " + std::to_string(count) + " entries but its value holds " +
                   std::to_string(v && v->type == RegistryValue::Type::Binary ? v->bytes.size() / entrySize : 0) + ".");
  out.data = v->bytes.data();
  out.count = static_cast<std::size_t>(count);
  return PacketFilterResult::Success();
}

PacketFilterResult ReadText(const RegistryTree& tree, const std::string& key, const char* name, std::string& out) {
  out = ProfileText(tree, key, name);
  if (out.size() > PacketFilterSet::kMaxText)
    return Damaged(std::string("the text \"") + name + "\" is " + std::to_string(out.size()) +
                   " bytes long; a filter text holds at most " + std::to_string(PacketFilterSet::kMaxText) + ".");
  return PacketFilterResult::Success();
}

}  // namespace

PacketFilterStore::PacketFilterStore(std::string_view registryPath, Registry& store)
    : m_key(FiltersKey(registryPath)), m_store(store) {}

PacketFilterStore PacketFilterStore::ForProfile(const AppProfile& profile) {
  return PacketFilterStore(RegistryTree::NormalizeKey(profile.SectionKey("Filters")), profile.Store(), 0);
}

std::string PacketFilterStore::FiltersKey(std::string_view registryPath) {
  // An empty path would put the filters at the top of the user's store, where nothing else
  // would ever find them: no key.
  const std::string path = RegistryTree::NormalizeKey(registryPath);
  if (path.empty()) return {};
  return path + "\\Filters";
}

PacketFilterResult PacketFilterStore::NoKey() const {
  return PacketFilterResult::Failure(E_UNEXPECTED, "The registry key of the filters cannot be opened.");
}

PacketFilterResult PacketFilterStore::Read(PacketFilterSet& out) const {
  if (m_key.empty()) return NoKey();
  // The store is replaced as a whole on every change, so one read of its file is one consistent
  // snapshot, however many values the set takes.
  auto text = ReadFileContents(m_store.Path());
  // A store missing when opened may have been written a moment later: when it exists now, look
  // again before calling it unreadable.
  if (!text && StampOf(m_store.Path()).exists) {
    text = ReadFileContents(m_store.Path());
    if (!text) return NoKey();
  }
  return ReadTree(text ? RegistryTree::Parse(*text) : RegistryTree(), m_key, out);
}

PacketFilterResult PacketFilterStore::Save(const PacketFilterSet& set) const {
  if (m_key.empty()) return NoKey();
  if (std::string problem = set.CheckTexts(); !problem.empty())
    return PacketFilterResult::Failure(E_FILTERS_INVALID, problem);
  const bool written = m_store.Update([&](RegistryTree& tree) {
    WriteEmpty(tree, m_key);
    WriteSet(tree, m_key, set);
    return true;
  });
  return written ? PacketFilterResult::Success() : NoKey();
}

PacketFilterResult PacketFilterStore::Delete() const {
  if (m_key.empty()) return NoKey();
  const bool written = m_store.Update([&](RegistryTree& tree) {
    WriteEmpty(tree, m_key);
    return true;
  });
  return written ? PacketFilterResult::Success() : NoKey();
}

void PacketFilterStore::WriteEmpty(RegistryTree& tree, const std::string& key) {
  tree.CreateKey(key);
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    const auto which = static_cast<FilterList>(i);
    tree.SetValue(key, PacketFilterSet::ListName(which), RegistryValue::Binary({}));
    tree.SetValue(key, CountName(which), RegistryValue::String("0"));
    if (PacketFilterSet::IsPortList(which)) continue;
    tree.DeleteValue(key, PacketFilterSet::List6Name(which));
    tree.DeleteValue(key, std::string(PacketFilterSet::List6Name(which)) + "Count");
  }
  tree.DeleteValue(key, kOrIp6);
  tree.SetValue(key, kOrIp, RegistryValue::Binary({}));
  tree.SetValue(key, kOrPort, RegistryValue::Binary({}));
  tree.SetValue(key, kMinSize, RegistryValue::Dword(0));
  tree.SetValue(key, kMaxSize, RegistryValue::Dword(0));
  for (const char* name : {kTcp, kUdp, kIcmp, kOther}) tree.SetValue(key, name, RegistryValue::Dword(0));
  tree.SetValue(key, kMustContain, RegistryValue::String(""));
  tree.SetValue(key, kMustNotContain, RegistryValue::String(""));
}

void PacketFilterStore::WriteSet(RegistryTree& tree, const std::string& key, const PacketFilterSet& set) {
  tree.CreateKey(key);
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    const auto which = static_cast<FilterList>(i);
    const auto& list = set.List(which);
    if (list.empty()) continue;
    const std::size_t count = std::min(list.size(), PacketFilterSet::kMaxEntries);
    tree.SetValue(key, PacketFilterSet::ListName(which), RegistryValue::Binary(EncodeList(list, count)));
    tree.SetValue(key, CountName(which), RegistryValue::String(std::to_string(count)));
  }
  // IPv6 entries are written only where there are some, so a set without them leaves the key
  // as it was before IPv6 entries existed.
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    const auto& list6 = set.lists6[i];
    if (list6.empty() || PacketFilterSet::IsPortList(static_cast<FilterList>(i))) continue;
    const std::size_t count = std::min(list6.size(), PacketFilterSet::kMaxEntries);
    std::vector<std::uint8_t> bytes;
    for (std::size_t e = 0; e < count; ++e) bytes.insert(bytes.end(), list6[e].begin(), list6[e].end());
    const std::string name = PacketFilterSet::List6Name(static_cast<FilterList>(i));
    tree.SetValue(key, name, RegistryValue::Binary(std::move(bytes)));
    tree.SetValue(key, name + "Count", RegistryValue::String(std::to_string(count)));
  }
  if (set.eitherAddress6)
    tree.SetValue(key, kOrIp6, RegistryValue::Binary({set.eitherAddress6->begin(), set.eitherAddress6->end()}));
  if (set.eitherAddress) tree.SetValue(key, kOrIp, RegistryValue::Dword(*set.eitherAddress));
  if (set.eitherPort) tree.SetValue(key, kOrPort, RegistryValue::Dword(static_cast<std::uint32_t>(*set.eitherPort)));
  if (set.minSize) tree.SetValue(key, kMinSize, RegistryValue::Dword(static_cast<std::uint32_t>(*set.minSize)));
  if (set.maxSize) tree.SetValue(key, kMaxSize, RegistryValue::Dword(static_cast<std::uint32_t>(*set.maxSize)));
  tree.SetValue(key, kTcp, RegistryValue::Dword(set.tcp ? 1 : 0));
  tree.SetValue(key, kUdp, RegistryValue::Dword(set.udp ? 1 : 0));
  tree.SetValue(key, kIcmp, RegistryValue::Dword(set.icmp ? 1 : 0));
  tree.SetValue(key, kOther, RegistryValue::Dword(set.other ? 1 : 0));
  tree.SetValue(key, kMustContain, RegistryValue::String(set.mustContain));
  tree.SetValue(key, kMustNotContain, RegistryValue::String(set.mustNotContain));
}

PacketFilterResult PacketFilterStore::ReadTree(const RegistryTree& tree, const std::string& key, PacketFilterSet& out) {
  PacketFilterSet set;
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    const auto which = static_cast<FilterList>(i);
    ListBytes entries;
    if (auto r = ReadListBytes(tree, key, PacketFilterSet::ListName(which), 4, entries); !r.Ok()) return r;
    auto& list = set.List(which);
    list.resize(entries.count);
    for (std::size_t e = 0; e < list.size(); ++e) list[e] = LittleEndian(entries.data + e * 4);
    if (PacketFilterSet::IsPortList(which)) continue;
    if (auto r = ReadListBytes(tree, key, PacketFilterSet::List6Name(which), 16, entries); !r.Ok()) return r;
    auto& list6 = set.List6(which);
    list6.resize(entries.count);
    for (std::size_t e = 0; e < list6.size(); ++e) std::memcpy(list6[e].data(), entries.data + e * 16, 16);
  }
  std::optional<std::uint32_t> value;
  if (auto r = ReadEitherEnd(tree, key, kOrIp, value); !r.Ok()) return r;
  set.eitherAddress = value;
  if (const RegistryValue* v = tree.GetValue(key, kOrIp6); v && !(v->type == RegistryValue::Type::Binary && v->bytes.empty())) {
    if (v->type != RegistryValue::Type::Binary || v->bytes.size() != 16)
      return Damaged(std::string("\"") + kOrIp6 + "\" is neither a 16-byte address nor empty.");
    if (set.eitherAddress) return Damaged(std::string("both \"") + kOrIp + "\" and \"" + kOrIp6 + "\" are set.");
    set.eitherAddress6.emplace();
    std::memcpy(set.eitherAddress6->data(), v->bytes.data(), 16);
  }
  if (auto r = ReadEitherEnd(tree, key, kOrPort, value); !r.Ok()) return r;
  if (value) set.eitherPort = static_cast<std::int32_t>(*value);
  // Sizes of 0 are how the key says "not set".
  if (const std::int32_t min = ProfileInt(tree, key, kMinSize, 0); min != 0) set.minSize = min;
  if (const std::int32_t max = ProfileInt(tree, key, kMaxSize, 0); max != 0) set.maxSize = max;
  set.tcp = ProfileInt(tree, key, kTcp, 1) > 0;
  set.udp = ProfileInt(tree, key, kUdp, 1) > 0;
  set.icmp = ProfileInt(tree, key, kIcmp, 1) > 0;
  set.other = ProfileInt(tree, key, kOther, 1) > 0;
  if (auto r = ReadText(tree, key, kMustContain, set.mustContain); !r.Ok()) return r;
  if (auto r = ReadText(tree, key, kMustNotContain, set.mustNotContain); !r.Ok()) return r;
  out = std::move(set);
  return PacketFilterResult::Success();
}

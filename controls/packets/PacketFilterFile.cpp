#include "controls/packets/PacketFilterFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/FileContents.h"

namespace {

void PutInt(std::string& out, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
  out.append(bytes, sizeof bytes);
}

void PutOptional(std::string& out, bool present, std::uint32_t value) {
  PutInt(out, present ? 1 : 0);
  if (present) PutInt(out, value);
}

void PutText(std::string& out, const std::string& text) {
  PutInt(out, static_cast<std::uint32_t>(text.size()));
  out += text;
}

// Reads the image front to back; every read checks the bytes that are left first.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

  bool Int(std::uint32_t& value) {
    if (m_bytes.size() - m_pos < 4) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(m_bytes.data() + m_pos);
    value = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    m_pos += 4;
    return true;
  }
  bool Bytes(std::size_t count, std::string& out) {
    if (m_bytes.size() - m_pos < count) return false;
    out.assign(m_bytes.data() + m_pos, count);
    m_pos += count;
    return true;
  }
  bool Address6(PacketFilterSet::Address6& out) {
    if (m_bytes.size() - m_pos < out.size()) return false;
    std::memcpy(out.data(), m_bytes.data() + m_pos, out.size());
    m_pos += out.size();
    return true;
  }
  // Takes the given bytes when they come next.
  bool Skip(std::string_view expected) {
    if (m_bytes.substr(m_pos, expected.size()) != expected) return false;
    m_pos += expected.size();
    return true;
  }

 private:
  std::string_view m_bytes;
  std::size_t m_pos = 0;
};

PacketFilterResult Damaged(const std::string& what) {
  return PacketFilterResult::Failure(E_FILTERS_INVALID, "The filter file is damaged: " + what);
}

PacketFilterResult EndsEarly(const std::string& where) {
  return Damaged("it ends early, in " + where + ".");
}

// A flag and, when it is 1, the value after it.
template <typename T>
PacketFilterResult ReadOptional(Reader& in, const char* what, std::optional<T>& out) {
  std::uint32_t flag = 0;
  if (!in.Int(flag)) return EndsEarly(std::string("the ") + what);
  if (flag > 1) return Damaged(std::string("the flag of the ") + what + " holds " + std::to_string(flag) +
                               " where only 0 or 1 are allowed.");
  out.reset();
  if (flag == 1) {
    std::uint32_t value = 0;
    if (!in.Int(value)) return EndsEarly(std::string("the ") + what);
    out = static_cast<T>(value);
  }
  return PacketFilterResult::Success();
}

PacketFilterResult ReadFlag(Reader& in, const char* what, bool& out) {
  std::uint32_t flag = 0;
  if (!in.Int(flag)) return EndsEarly(std::string("the ") + what + " flag");
  if (flag > 1) return Damaged(std::string("the ") + what + " flag holds " + std::to_string(flag) +
                               " where only 0 or 1 are allowed.");
  out = flag == 1;
  return PacketFilterResult::Success();
}

PacketFilterResult ReadText(Reader& in, const char* what, std::string& out) {
  std::uint32_t length = 0;
  if (!in.Int(length)) return EndsEarly(std::string("the length of \"") + what + "\"");
  const auto signedLength = static_cast<std::int32_t>(length);
  if (signedLength < 0 || static_cast<std::size_t>(signedLength) > PacketFilterSet::kMaxText)
    return Damaged(std::string("the text \"") + what + "\" states " + std::to_string(signedLength) +
                   " bytes; a filter text holds 0 to " + std::to_string(PacketFilterSet::kMaxText) + ".");
  if (!in.Bytes(length, out)) return EndsEarly(std::string("the text \"") + what + "\"");
  return PacketFilterResult::Success();
}

// The count before a list's entries, refused above 50 (or below 0 read as signed).
PacketFilterResult ReadCount(Reader& in, const std::string& name, std::uint32_t& count) {
  if (!in.Int(count)) return EndsEarly(name);
  const auto signedCount = static_cast<std::int32_t>(count);
  if (signedCount < 0 || static_cast<std::size_t>(signedCount) > PacketFilterSet::kMaxEntries)
    return Damaged(name + " states " + std::to_string(signedCount) + " entries; a filter list holds 0 to " +
                   std::to_string(PacketFilterSet::kMaxEntries) + ".");
  return PacketFilterResult::Success();
}

bool IsAddressList(int index) { return !PacketFilterSet::IsPortList(static_cast<FilterList>(index)); }

void PutIpv6(std::string& out, const PacketFilterSet& set) {
  out.append(PacketFilterFile::kIpv6Marker, sizeof PacketFilterFile::kIpv6Marker);
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    if (!IsAddressList(i)) continue;
    const auto& list = set.lists6[i];
    const std::size_t count = std::min(list.size(), PacketFilterSet::kMaxEntries);
    PutInt(out, static_cast<std::uint32_t>(count));
    for (std::size_t e = 0; e < count; ++e) out.append(reinterpret_cast<const char*>(list[e].data()), list[e].size());
  }
  PutInt(out, set.eitherAddress6 ? 1 : 0);
  if (set.eitherAddress6) out.append(reinterpret_cast<const char*>(set.eitherAddress6->data()), 16);
}

PacketFilterResult ReadIpv6(Reader& in, PacketFilterSet& set) {
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    if (!IsAddressList(i)) continue;
    const std::string name =
        std::string("the list \"") + PacketFilterSet::List6Name(static_cast<FilterList>(i)) + "\"";
    std::uint32_t count = 0;
    if (auto r = ReadCount(in, name, count); !r.Ok()) return r;
    auto& list = set.lists6[i];
    list.resize(count);
    for (auto& entry : list)
      if (!in.Address6(entry)) return EndsEarly(name);
  }
  std::uint32_t flag = 0;
  if (!in.Int(flag)) return EndsEarly("the either-end IPv6 address");
  if (flag > 1)
    return Damaged("the flag of the either-end IPv6 address holds " + std::to_string(flag) +
                   " where only 0 or 1 are allowed.");
  if (flag == 1) {
    PacketFilterSet::Address6 address{};
    if (!in.Address6(address)) return EndsEarly("the either-end IPv6 address");
    if (set.eitherAddress) return Damaged("it holds both an IPv4 and an IPv6 either-end address.");
    set.eitherAddress6 = address;
  }
  return PacketFilterResult::Success();
}

}  // namespace

std::string PacketFilterFile::Encode(const PacketFilterSet& set) {
  std::string out;
  out.reserve(kMaxBytes);
  for (const auto& list : set.lists) {
    const std::size_t count = std::min(list.size(), PacketFilterSet::kMaxEntries);
    PutInt(out, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) PutInt(out, list[i]);
  }
  PutOptional(out, set.eitherAddress.has_value(), set.eitherAddress.value_or(0));
  PutOptional(out, set.eitherPort.has_value(), static_cast<std::uint32_t>(set.eitherPort.value_or(0)));
  PutOptional(out, set.minSize.has_value(), static_cast<std::uint32_t>(set.minSize.value_or(0)));
  PutOptional(out, set.maxSize.has_value(), static_cast<std::uint32_t>(set.maxSize.value_or(0)));
  PutInt(out, set.tcp ? 1 : 0);
  PutInt(out, set.udp ? 1 : 0);
  PutInt(out, set.icmp ? 1 : 0);
  PutInt(out, set.other ? 1 : 0);
  PutText(out, set.mustContain);
  PutText(out, set.mustNotContain);
  if (set.HasIpv6()) PutIpv6(out, set);
  return out;
}

PacketFilterResult PacketFilterFile::Decode(std::string_view bytes, PacketFilterSet& out) {
  Reader in(bytes);
  PacketFilterSet set;
  for (int i = 0; i < PacketFilterSet::kListCount; ++i) {
    const auto which = static_cast<FilterList>(i);
    const std::string name = std::string("the list \"") + PacketFilterSet::ListName(which) + "\"";
    std::uint32_t count = 0;
    if (auto r = ReadCount(in, name, count); !r.Ok()) return r;
    auto& list = set.lists[i];
    list.resize(count);
    for (auto& entry : list)
      if (!in.Int(entry)) return EndsEarly(name);
  }
  if (auto r = ReadOptional(in, "either-end address", set.eitherAddress); !r.Ok()) return r;
  if (auto r = ReadOptional(in, "either-end port", set.eitherPort); !r.Ok()) return r;
  if (auto r = ReadOptional(in, "minimum packet size", set.minSize); !r.Ok()) return r;
  if (auto r = ReadOptional(in, "maximum packet size", set.maxSize); !r.Ok()) return r;
  if (auto r = ReadFlag(in, "TCP", set.tcp); !r.Ok()) return r;
  if (auto r = ReadFlag(in, "UDP", set.udp); !r.Ok()) return r;
  if (auto r = ReadFlag(in, "ICMP", set.icmp); !r.Ok()) return r;
  if (auto r = ReadFlag(in, "Other", set.other); !r.Ok()) return r;
  if (auto r = ReadText(in, "MustContain", set.mustContain); !r.Ok()) return r;
  if (auto r = ReadText(in, "MustNotContain", set.mustNotContain); !r.Ok()) return r;
  if (in.Skip(std::string_view(kIpv6Marker, sizeof kIpv6Marker)))
    if (auto r = ReadIpv6(in, set); !r.Ok()) return r;
  out = std::move(set);
  return PacketFilterResult::Success();
}

PacketFilterResult PacketFilterFile::Write(const std::string& path, const PacketFilterSet& set) {
  if (path.empty()) return PacketFilterResult::Failure(E_UNEXPECTED, "No filter file name was given.");
  if (std::string problem = set.CheckTexts(); !problem.empty())
    return PacketFilterResult::Failure(E_FILTERS_INVALID, problem);
  if (!ReplaceFileContents(path, Encode(set)))
    return PacketFilterResult::Failure(E_FAIL, "The filter file \"" + path + "\" cannot be written.");
  return PacketFilterResult::Success();
}

PacketFilterResult PacketFilterFile::Read(const std::string& path, PacketFilterSet& out) {
  if (path.empty()) return PacketFilterResult::Failure(E_UNEXPECTED, "No filter file name was given.");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    return PacketFilterResult::Failure(
        E_FAIL, "The filter file \"" + path + "\" cannot be opened: " + std::strerror(errno) + ".");
  }
  // A set never takes more than kMaxBytes, so a large file costs no more than a small one.
  std::string bytes(kMaxBytes, '\0');
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return PacketFilterResult::Failure(E_FAIL, "The filter file \"" + path + "\" cannot be read.");
  bytes.resize(got);
  return Decode(bytes, out);
}

bool PacketFilterFile::IsFilterFileName(std::string_view name) {
  return name.find(".flt") != std::string_view::npos;
}

std::string PacketFilterFile::MakeFilterFileName(std::string name) {
  if (!IsFilterFileName(name)) name += ".flt";
  return name;
}

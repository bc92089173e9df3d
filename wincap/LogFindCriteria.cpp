#include "wincap/LogFindCriteria.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/AddressText.h"

namespace {

constexpr char kNoAddress[] = "0.0.0.0";

bool IsAddressSet(const std::string& text) { return !text.empty() && text != kNoAddress; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A decimal text as a size bound: -1 when empty; the leading digits otherwise (0 when none).
std::int32_t SizeBound(const std::string& text) {
  if (text.empty()) return -1;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<std::int32_t>(value);
}

// A header text field equal to text: the same characters, then the field's zero.
template <std::size_t N>
bool FieldEquals(const char (&field)[N], const std::string& text) {
  return text.size() < N && std::memcmp(field, text.data(), text.size()) == 0 && field[text.size()] == '\0';
}

}  // namespace

LogFindCriteria::LogFindCriteria(const LogFindTexts& texts) : m_texts(texts) {
  m_ipSet = IsAddressSet(texts.ipFrom) || IsAddressSet(texts.ipTo);
  if (!ParseDotted(texts.ipFrom.c_str(), texts.ipFrom.size(), m_ipFrom)) m_ipFrom = 0;
  if (!ParseDotted(texts.ipTo.c_str(), texts.ipTo.size(), m_ipTo)) m_ipTo = 0;
  m_ip6 = Inet6Pton(texts.ipFrom.c_str(), m_ip6From);
  m_ip6Range = m_ip6 && Inet6Pton(texts.ipTo.c_str(), m_ip6To);
  if (m_ip6) m_ipTo = 0;  // an IPv4 "to" makes no range with an IPv6 "from"

  m_textPattern.Set(texts.text, true);

  for (char c : texts.hex)
    if (c != ' ' && c != '\t') m_hexText.push_back(c);
  std::string bytes;
  bool valid = true;
  for (std::size_t i = 0; i + 1 < m_hexText.size(); i += 2) {
    const int high = HexDigit(m_hexText[i]), low = HexDigit(m_hexText[i + 1]);
    if (high < 0 || low < 0) {
      valid = false;
      break;
    }
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  if (valid) m_hexPattern.Set(bytes, false);

  m_sizeSet = !texts.sizeMin.empty() || !texts.sizeMax.empty();
  m_sizeMin = SizeBound(texts.sizeMin);
  m_sizeMax = SizeBound(texts.sizeMax);
}

bool LogFindCriteria::ParseDotted(const char* text, std::size_t width, std::uint32_t& hostOrder) {
  std::uint32_t address = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= width || text[i] != '.') return false;
      ++i;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    while (i < width && text[i] >= '0' && text[i] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    address = address << 8 | value;
  }
  if (i < width && text[i] != '\0') return false;
  hostOrder = address;
  return true;
}

bool LogFindCriteria::FindIp(const _LogRecMarker& header, std::string* matched) const {
  const std::string& from = m_texts.ipFrom;
  if (!from.empty() && (FieldEquals(header.source, from) || FieldEquals(header.destination, from))) {
    if (matched) *matched = from;
    return true;
  }
  if (m_ipTo == 0) return false;
  std::uint32_t address = 0;
  if (ParseDotted(header.source, sizeof header.source, address) && m_ipFrom <= address && address <= m_ipTo) {
    if (matched) matched->assign(header.source, strnlen(header.source, sizeof header.source));
    return true;
  }
  if (ParseDotted(header.destination, sizeof header.destination, address) && m_ipFrom <= address &&
      address <= m_ipTo) {
    if (matched) matched->assign(header.destination, strnlen(header.destination, sizeof header.destination));
    return true;
  }
  return false;
}

bool LogFindCriteria::FindIp6(const std::uint8_t* source, const std::uint8_t* destination,
                               std::string* matched) const {
  if (!m_ip6) return false;
  // As for IPv4: IP from itself at either end, then either end in the range. Network order is
  // most significant byte first, so memcmp compares the 128-bit numbers.
  const std::uint8_t* hit = nullptr;
  if (std::memcmp(m_ip6From, source, 16) == 0) hit = source;
  else if (std::memcmp(m_ip6From, destination, 16) == 0) hit = destination;
  for (const std::uint8_t* address : {source, destination})
    if (!hit && m_ip6Range && std::memcmp(m_ip6From, address, 16) <= 0 && std::memcmp(address, m_ip6To, 16) <= 0)
      hit = address;
  if (hit && matched) *matched = Inet6Ntop(hit);
  return hit != nullptr;
}

bool LogFindCriteria::FindTextA(const std::uint8_t* data, std::size_t length, std::string* matched) const {
  const std::ptrdiff_t at = m_textPattern.Find(data, length);
  if (at < 0) return false;
  if (matched) matched->assign(reinterpret_cast<const char*>(data) + at, m_textPattern.Size());
  return true;
}

bool LogFindCriteria::FindHex(const std::uint8_t* data, std::size_t length, std::string* matched) const {
  if (m_hexPattern.Find(data, length) < 0) return false;
  if (matched) *matched = m_hexText;
  return true;
}

bool LogFindCriteria::FindPktSize(std::int32_t size, std::string* matched) const {
  const std::int32_t min = m_sizeMin, max = m_sizeMax;
  bool match;
  if (min > 0 && max > 0 && max < min)
    match = size == min || size == max;
  else if (min >= 0 && max < 0)
    match = size >= min;
  else if (min < 0 && max >= 0)
    match = size <= max;
  else
    match = min <= size && size <= max;
  if (match && matched) *matched = std::to_string(size);
  return match;
}

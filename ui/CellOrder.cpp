#include "ui/CellOrder.h"

#include <arpa/inet.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace {

int Sign(long long difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return Sign(static_cast<long long>(a.size()) - static_cast<long long>(b.size()));
}

long long NumberOf(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && text[at] == ' ') ++at;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;
  long long value = 0;
  for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    if (value > (0x7FFFFFFFFFFFFFFFll - 9) / 10) break;  // longer numbers compare by their first digits
    value = value * 10 + (text[at] - '0');
  }
  return negative ? -value : value;
}

// Family (4 or 6) first, then the address bytes.
std::optional<std::array<std::uint8_t, 17>> AddressOf(std::string_view text) {
  if (text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  const std::string zeroEnded(text);
  std::array<std::uint8_t, 17> key{};
  if (inet_pton(AF_INET, zeroEnded.c_str(), key.data() + 1) == 1) {
    key[0] = 4;
    return key;
  }
  if (inet_pton(AF_INET6, zeroEnded.c_str(), key.data() + 1) == 1) {
    key[0] = 6;
    return key;
  }
  return std::nullopt;
}

// "mm/dd/yy hh:mm:ss[:mmm]" as one number: yy mm dd hh mm ss mmm.
std::optional<long long> MomentOf(std::string_view text) {
  static constexpr std::string_view kShape = "dd/dd/dd dd:dd:dd";
  if (text.size() != kShape.size() && text.size() != kShape.size() + 4) return std::nullopt;
  if (text.size() > kShape.size() && text[kShape.size()] != ':') return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char shape = i < kShape.size() ? kShape[i] : (i == kShape.size() ? ':' : 'd');
    if (shape == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape) return std::nullopt;
  }
  auto two = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  long long moment = two(6);                         // year
  for (std::size_t at : {0u, 3u, 9u, 12u, 15u}) moment = moment * 100 + two(at);  // month day h m s
  const int millis = text.size() > kShape.size() ? (text[18] - '0') * 100 + two(19) : 0;
  return moment * 1000 + millis;
}

// Cells that have a key come first, in key order; the others follow as text.
template <typename Key>
int CompareKeys(const std::optional<Key>& x, const std::optional<Key>& y, std::string_view a, std::string_view b) {
  if (x && y) return *x < *y ? -1 : *y < *x ? 1 : 0;
  if (x || y) return x ? -1 : 1;
  return CompareText(a, b);
}

}  // namespace

int CompareCells(CellKind kind, std::string_view a, std::string_view b) {
  switch (kind) {
    case CellKind::Number: {
      const long long x = NumberOf(a), y = NumberOf(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case CellKind::Address: return CompareKeys(AddressOf(a), AddressOf(b), a, b);
    case CellKind::DateTime: return CompareKeys(MomentOf(a), MomentOf(b), a, b);
    case CellKind::Text: break;
  }
  return CompareText(a, b);
}

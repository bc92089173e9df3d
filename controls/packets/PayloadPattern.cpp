#include "controls/packets/PayloadPattern.h"

#include <cstring>
#include <string_view>

namespace {

// The anchor search goes on while false hits stay rarer than one in kBytesPerFalseHit bytes
// (a false hit costs about as much as a per-byte scan of that many bytes), allowing
// kFreeFalseHits at the start.
constexpr std::size_t kBytesPerFalseHit = 8;
constexpr std::size_t kFreeFalseHits = 16;

// How often a byte turns up in typical payloads, higher is more common: zero padding, blanks,
// line ends, lower-case letters and digits lead; upper case, punctuation and the rest follow.
int Commonness(unsigned char c) {
  if (c == 0x00 || c == ' ') return 9;
  if (c == 0xFF || c == '\r' || c == '\n') return 8;
  if (std::string_view("etaoinsrhl").find(static_cast<char>(c)) != std::string_view::npos) return 7;
  if (c >= 'a' && c <= 'z') return 6;
  if (c >= '0' && c <= '9') return 5;
  if (c == '.' || c == '/' || c == ':' || c == '-' || c == '=' || c == '"' || c == ',') return 4;
  if (c >= 'A' && c <= 'Z') return 3;
  if (c >= 0x20 && c < 0x7F) return 2;
  if (c < 0x20) return 1;
  return 0;
}

}  // namespace

bool PayloadPattern::Set(std::string_view text) {
  if (text.size() >= kSlotBytes) return false;
  Clear();
  std::memcpy(m_slot, text.data(), text.size());
  m_length = text.size();
  for (std::size_t i = 0; i < m_length; ++i) m_masks[static_cast<unsigned char>(m_slot[i])] |= std::uint64_t{1} << i;
  for (std::size_t i = 1; i < m_length; ++i)
    if (Commonness(static_cast<unsigned char>(m_slot[i])) < Commonness(static_cast<unsigned char>(m_slot[m_anchor])))
      m_anchor = i;
  return true;
}

void PayloadPattern::Clear() {
  std::memset(m_slot, 0, sizeof m_slot);
  std::memset(m_masks, 0, sizeof m_masks);
  m_length = 0;
  m_anchor = 0;
}

bool PayloadPattern::FoundIn(const std::uint8_t* data, std::size_t length) const {
  if (m_length == 0 || !data || length < m_length) return false;
  // Start positions 0 .. length - m_length, all of them; the anchor byte of a match lies
  // m_anchor bytes after its start.
  const auto anchor = static_cast<unsigned char>(m_slot[m_anchor]);
  const std::uint8_t* next = data + m_anchor;
  const std::uint8_t* const lastAnchor = data + (length - m_length) + m_anchor;
  // A payload built to hit the anchor everywhere would cost a whole compare per byte; once false
  // hits come that often, the rest is scanned at a fixed cost per byte instead.
  for (std::size_t falseHits = 0; next <= lastAnchor; ++falseHits) {
    const std::uint8_t* start = next - m_anchor;  // every earlier start is ruled out
    if (falseHits > kFreeFalseHits && falseHits * kBytesPerFalseHit > static_cast<std::size_t>(start - data))
      return ScanEveryByte(start, length - static_cast<std::size_t>(start - data));
    const auto* hit = static_cast<const std::uint8_t*>(
        std::memchr(next, anchor, static_cast<std::size_t>(lastAnchor - next) + 1));
    if (!hit) return false;
    if (std::memcmp(hit - m_anchor, m_slot, m_length) == 0) return true;
    next = hit + 1;
  }
  return false;
}

bool PayloadPattern::ScanEveryByte(const std::uint8_t* data, std::size_t length) const {
  // Bit i of the state is set when the last i + 1 bytes equal the text's first i + 1 bytes.
  const std::uint64_t found = std::uint64_t{1} << (m_length - 1);
  std::uint64_t state = 0;
  for (std::size_t i = 0; i < length; ++i) {
    state = ((state << 1) | 1) & m_masks[data[i]];
    if (state & found) return true;
  }
  return false;
}

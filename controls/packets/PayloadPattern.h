#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

// A short text looked for in packet payloads, byte for byte (case matters), at every start
// position including the last one, where the text ends with the payload. The text is kept in a
// 40-byte slot, zero-terminated, as the capture thread holds it.
//
// The search looks for the text's least common byte with memchr and compares the whole text only
// where that byte turns up, so a payload of ordinary traffic is scanned at memchr's speed. A
// payload where that byte keeps turning up without a match is finished with a shift-and scan,
// a few instructions per byte whatever the bytes are.
class PayloadPattern {
 public:
  static constexpr std::size_t kSlotBytes = 40;

  // false (and nothing changes) when the text does not fit the slot with its terminating zero.
  bool Set(std::string_view text);
  void Clear();

  bool IsSet() const { return m_length > 0; }
  std::string_view Text() const { return {m_slot, m_length}; }

  // True when the text occurs in data[0 .. length). An empty text is never looked for: false.
  bool FoundIn(const std::uint8_t* data, std::size_t length) const;

 private:
  bool ScanEveryByte(const std::uint8_t* data, std::size_t length) const;

  static_assert(kSlotBytes - 1 <= 64, "the shift-and state holds one bit per byte of the text");
  char m_slot[kSlotBytes] = {};
  std::uint64_t m_masks[256] = {};  // bit i of m_masks[b]: the text's byte i is b
  std::size_t m_length = 0;
  std::size_t m_anchor = 0;  // index in the text of the byte memchr looks for
};

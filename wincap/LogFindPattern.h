#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A byte sequence looked for in logged packets: exactly (the hex criterion) or with ASCII letters
// matching either case (the text criterion). Every start position where the whole sequence fits
// is tried, the last one included, so a sequence that ends with the record's last byte is found.
//
// The search compares the sequence's first and last byte at 16 or 32 positions at once and
// checks the bytes between only where both agree, so ordinary traffic is scanned at close to
// memory speed whatever the sequence.
class LogFindPattern {
 public:
  // An empty sequence is never found.
  void Set(std::string_view bytes, bool foldCase);
  void Clear() { Set({}, false); }

  bool IsSet() const { return !m_bytes.empty(); }
  std::size_t Size() const { return m_bytes.size(); }

  // The first start position where the sequence lies wholly inside data[0, length), or -1.
  std::ptrdiff_t Find(const std::uint8_t* data, std::size_t length) const;

 private:
  bool RestMatches(const std::uint8_t* at) const;
  std::ptrdiff_t FindScalar(const std::uint8_t* data, std::size_t from, std::size_t length) const;
  std::ptrdiff_t FindSse2(const std::uint8_t* data, std::size_t length) const;
  std::ptrdiff_t FindAvx2(const std::uint8_t* data, std::size_t length) const;

  std::string m_bytes;  // lower case when folding
  bool m_fold = false;
  // A byte b matches the first (last) byte of the sequence when (b | mask) == byte: the mask is
  // 0x20 for a letter when folding, which makes both cases of that letter and nothing else agree.
  std::uint8_t m_first = 0, m_firstMask = 0;
  std::uint8_t m_last = 0, m_lastMask = 0;
  bool m_avx2 = false;
};

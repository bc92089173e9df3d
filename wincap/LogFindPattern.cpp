#include "wincap/LogFindPattern.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PELORIN_X86 1
#endif

namespace {

constexpr bool IsUpper(std::uint8_t c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsLetter(std::uint8_t c) { return IsUpper(c) || (c >= 'a' && c <= 'z'); }
constexpr std::uint8_t Lower(std::uint8_t c) { return IsUpper(c) ? static_cast<std::uint8_t>(c | 0x20) : c; }

struct LowerTable {
  std::uint8_t map[256];
  constexpr LowerTable() : map() {
    for (int c = 0; c < 256; ++c) map[c] = Lower(static_cast<std::uint8_t>(c));
  }
};
constexpr LowerTable kLower;

}  // namespace

void LogFindPattern::Set(std::string_view bytes, bool foldCase) {
  m_bytes.assign(bytes);
  m_fold = foldCase;
  if (m_fold)
    for (char& c : m_bytes) c = static_cast<char>(kLower.map[static_cast<std::uint8_t>(c)]);
  m_first = m_last = m_firstMask = m_lastMask = 0;
  if (m_bytes.empty()) return;
  m_first = static_cast<std::uint8_t>(m_bytes.front());
  m_last = static_cast<std::uint8_t>(m_bytes.back());
  if (m_fold) {
    m_firstMask = IsLetter(m_first) ? 0x20 : 0;
    m_lastMask = IsLetter(m_last) ? 0x20 : 0;
  }
#if PELORIN_X86
  m_avx2 = __builtin_cpu_supports("avx2");
#endif
}

bool LogFindPattern::RestMatches(const std::uint8_t* at) const {
  // The first and last bytes agree already.
  const std::size_t n = m_bytes.size();
  if (n <= 2) return true;
  const auto* want = reinterpret_cast<const std::uint8_t*>(m_bytes.data());
  if (!m_fold) return std::memcmp(at + 1, want + 1, n - 2) == 0;
  for (std::size_t i = 1; i + 1 < n; ++i)
    if (kLower.map[at[i]] != want[i]) return false;
  return true;
}

std::ptrdiff_t LogFindPattern::FindScalar(const std::uint8_t* data, std::size_t from, std::size_t length) const {
  const std::size_t n = m_bytes.size();
  for (std::size_t i = from; i + n <= length; ++i)
    if ((data[i] | m_firstMask) == m_first && (data[i + n - 1] | m_lastMask) == m_last && RestMatches(data + i))
      return static_cast<std::ptrdiff_t>(i);
  return -1;
}

std::ptrdiff_t LogFindPattern::Find(const std::uint8_t* data, std::size_t length) const {
  const std::size_t n = m_bytes.size();
  if (n == 0 || data == nullptr || length < n) return -1;
#if PELORIN_X86
  return m_avx2 ? FindAvx2(data, length) : FindSse2(data, length);
#else
  return FindScalar(data, 0, length);
#endif
}

#if PELORIN_X86

// Both vector searches test the starts i .. i+width-1 by loading the bytes at i (first bytes of
// the candidates) and at i+n-1 (their last bytes); a load never reaches past data + length.
std::ptrdiff_t LogFindPattern::FindSse2(const std::uint8_t* data, std::size_t length) const {
  const std::size_t n = m_bytes.size();
  const __m128i first = _mm_set1_epi8(static_cast<char>(m_first));
  const __m128i firstMask = _mm_set1_epi8(static_cast<char>(m_firstMask));
  const __m128i last = _mm_set1_epi8(static_cast<char>(m_last));
  const __m128i lastMask = _mm_set1_epi8(static_cast<char>(m_lastMask));
  std::size_t i = 0;
  for (; i + n - 1 + 16 <= length; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + n - 1));
    const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, firstMask), first),
                                      _mm_cmpeq_epi8(_mm_or_si128(b, lastMask), last));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (RestMatches(data + at)) return static_cast<std::ptrdiff_t>(at);
    }
  }
  return FindScalar(data, i, length);
}

__attribute__((target("avx2"))) std::ptrdiff_t LogFindPattern::FindAvx2(const std::uint8_t* data,
                                                                        std::size_t length) const {
  const std::size_t n = m_bytes.size();
  const __m256i first = _mm256_set1_epi8(static_cast<char>(m_first));
  const __m256i firstMask = _mm256_set1_epi8(static_cast<char>(m_firstMask));
  const __m256i last = _mm256_set1_epi8(static_cast<char>(m_last));
  const __m256i lastMask = _mm256_set1_epi8(static_cast<char>(m_lastMask));
  std::size_t i = 0;
  for (; i + n - 1 + 32 <= length; i += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + n - 1));
    const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a, firstMask), first),
                                         _mm256_cmpeq_epi8(_mm256_or_si256(b, lastMask), last));
    for (unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(hit)); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (RestMatches(data + at)) return static_cast<std::ptrdiff_t>(at);
    }
  }
  // Fewer than 32 starts are left: the 16-wide search finishes them.
  const std::ptrdiff_t rest = FindSse2(data + i, length - i);
  return rest < 0 ? -1 : static_cast<std::ptrdiff_t>(i) + rest;
}

#else

std::ptrdiff_t LogFindPattern::FindSse2(const std::uint8_t* data, std::size_t length) const {
  return FindScalar(data, 0, length);
}
std::ptrdiff_t LogFindPattern::FindAvx2(const std::uint8_t* data, std::size_t length) const {
  return FindScalar(data, 0, length);
}

#endif

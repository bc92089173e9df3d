#pragma once
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

// Fixed-width text fields of the records: single-byte, zero-padded.

// Writes text cut to N-1 characters, so the field always ends with a zero byte.
template <std::size_t N>
void SetFieldText(char (&field)[N], std::string_view text) {
  const std::size_t n = std::min(text.size(), N - 1);
  if (n > 0) std::memcpy(field, text.data(), n);  // an empty view may hold a null pointer
  std::memset(field + n, 0, N - n);
}

// Writes text cut to N characters; a text of exactly N characters has no terminating zero.
template <std::size_t N>
void SetFieldTextFull(char (&field)[N], std::string_view text) {
  const std::size_t n = std::min(text.size(), N);
  if (n > 0) std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

// Reads a field up to its first zero byte, never past its width.
template <std::size_t N>
std::string GetFieldText(const char (&field)[N]) {
  const void* zero = std::memchr(field, 0, N);
  const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : N;
  return std::string(field, n);
}

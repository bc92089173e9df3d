#pragma once
#include <string>

#include "common/ResultCodes.h"

// Content that breaks the filter set's limits: a list of more than 50 entries, a negative count,
// a text longer than 30 bytes, a file that ends early, a count its binary value cannot hold. The
// whole set is refused and the caller keeps what it had. The value is the platform's "invalid
// data" status.
constexpr HRESULT E_FILTERS_INVALID = static_cast<HRESULT>(0x8007000Du);

// Outcome of a filter registry or file operation: S_OK, E_UNEXPECTED (no registry key or no file
// name), E_FAIL (the file cannot be opened, read or written) or E_FILTERS_INVALID. The message
// says what went wrong in words the dialog can show as they are; it is empty on success.
struct PacketFilterResult {
  HRESULT code = S_OK;
  std::string message;

  bool Ok() const { return code == S_OK; }

  static PacketFilterResult Success() { return {}; }
  static PacketFilterResult Failure(HRESULT code, std::string message) {
    return {code, std::move(message)};
  }
};

#pragma once
#include <cstddef>
#include <cstdint>

#include "MonListMonLogData.h"

// Data block of an IPv6 connection log record ("TCP6", "UDP6"): the 84 bytes of an IPv4 one, with
// 0 in its 32-bit address fields, then the 16-byte addresses with their scope ids.
struct _MonListMonLogData6 {
  _MonListMonLogData base;
  std::uint8_t localAddr[16];   // network order
  std::uint32_t localScopeId;   // the interface of a link-local address, else 0
  std::uint8_t remoteAddr[16];  // zero for UDP
  std::uint32_t remoteScopeId;
};

static_assert(sizeof(_MonListMonLogData6) == 124);
static_assert(offsetof(_MonListMonLogData6, localAddr) == 84);
static_assert(offsetof(_MonListMonLogData6, localScopeId) == 100);
static_assert(offsetof(_MonListMonLogData6, remoteAddr) == 104);
static_assert(offsetof(_MonListMonLogData6, remoteScopeId) == 120);

#pragma once
#include <cstddef>
#include <cstdint>

#include "MonListMonItemDataIp.h"
#include "MonListMonLogLink.h"

// Row record of the connections list, hung on each row as item data. In memory the link is a
// pointer, so the record is wider than its 28-byte file image on 64-bit machines.
//
// An IPv6 row (family AF_INET6) keeps 0 in the 32-bit address fields and its addresses in the
// 16-byte fields after the link; an IPv4 row keeps those zero (any other family is IPv4).
struct _MonListMonItemData : _MonListMonItemDataIp {
  _MonListMonLogLink* logLink;
  std::uint32_t family;
  std::uint8_t localAddr6[16];  // network order
  std::uint32_t localScopeId;   // the interface of a link-local address, else 0
  std::uint8_t remoteAddr6[16];  // zero for UDP
  std::uint32_t remoteScopeId;
};

// The link follows the 24 bytes of the base at once; GCC warns on offsetof through a base class.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(_MonListMonItemData, logLink) == 24);
#pragma GCC diagnostic pop

// The 28-byte image of a row record as it stands in the connection log: link pointer as zero.
struct _MonListMonItemDataImage {
  std::uint32_t state;
  std::uint32_t localAddr;
  std::uint32_t localPort;
  std::uint32_t remoteAddr;
  std::uint32_t remotePort;
  std::uint32_t connectTime;
  std::uint32_t logLink;  // always 0 in files
};

static_assert(sizeof(_MonListMonItemDataImage) == 28);
static_assert(offsetof(_MonListMonItemDataImage, logLink) == 24);

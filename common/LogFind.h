#pragma once
#include <cstddef>
#include <cstdint>

// A packet log search hit.
struct _LogFind {
  std::int32_t page;      // page number
  std::int32_t packet;    // packet number within the page
  std::int32_t position;  // file position of the record
  std::int32_t protocol;  // IP protocol: 6 TCP, 17 UDP, 1 ICMP, 0 otherwise
  std::int32_t size;      // IP total length
};

static_assert(sizeof(_LogFind) == 20);
static_assert(offsetof(_LogFind, position) == 8);
static_assert(offsetof(_LogFind, size) == 16);

#pragma once
#include <cstddef>
#include <cstdint>

// The chosen capture interface, passed between the libraries and kept as three profile values.
struct _PelorinWinCapAdapter {
  std::int32_t index;     // position in the device enumeration over all devices; -1 = none
  char name[260];         // device name as the enumeration gives it
  char description[260];  // device description
};

static_assert(sizeof(_PelorinWinCapAdapter) == 524);
static_assert(offsetof(_PelorinWinCapAdapter, name) == 4);
static_assert(offsetof(_PelorinWinCapAdapter, description) == 264);

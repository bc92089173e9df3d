#pragma once
#include <array>
#include <cstdint>

// The end points of a link between IPv6 addresses, which the 24-byte link record cannot hold
// (its 32-bit address fields stay 0 for such a link): A (local) and B (remote), network order.
// An address of all zeros is not defined, as 0 is not in the record.
struct LinkAddresses6 {
  std::array<std::uint8_t, 16> local{};
  std::array<std::uint8_t, 16> remote{};
};

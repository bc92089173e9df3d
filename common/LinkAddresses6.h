#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/MonListMonItemDataIp.h"

// The end points of a link between IPv6 addresses, which the 24-byte link record cannot hold
// (its 32-bit address fields stay 0 for such a link): A (local) and B (remote), network order.
// An address of all zeros is not defined, as 0 is not in the record.
struct LinkAddresses6 {
  std::array<std::uint8_t, 16> local{};
  std::array<std::uint8_t, 16> remote{};
};

// The link of two end points as the rows and Set Link show them (addresses as text, ports in
// decimal; an empty text is 0) into the record's addresses and ports. IPv6 text at either end
// makes an IPv6 link: its addresses are returned and the record's address fields are 0. Other
// text is read as IPv4; text of neither family is no address.
std::optional<LinkAddresses6> LinkFromTexts(const std::string& from, const std::string& fromPort,
                                            const std::string& to, const std::string& toPort,
                                            _MonListMonItemDataIp& link);

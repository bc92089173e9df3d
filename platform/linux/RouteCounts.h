#pragma once
#include <optional>

// Counts of this machine's network objects, from routing netlink dumps (the caller's network
// namespace). Nothing when the dump cannot be made.
std::optional<unsigned> CountInterfaces();     // every link, loopback included
std::optional<unsigned> CountIpv4Addresses();  // every IPv4 address of every link
std::optional<unsigned> CountIpv4Routes();     // every IPv4 route of every routing table

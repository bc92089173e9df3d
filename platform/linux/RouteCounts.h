#pragma once
#include <optional>

// Counts of this machine's network objects. IPv4 (and the links) from routing netlink dumps (the
// caller's network namespace); IPv6 from the kernel's IPv6 files under /proc/net. Nothing when
// the dump cannot be made or the file cannot be read (no IPv6 on this machine).
std::optional<unsigned> CountInterfaces();     // every link, loopback included
std::optional<unsigned> CountIpv4Addresses();  // every IPv4 address of every link
std::optional<unsigned> CountIpv4Routes();     // every IPv4 route of every routing table
std::optional<unsigned> CountIpv6Interfaces();  // every link with IPv6 (/proc/net/dev_snmp6)
std::optional<unsigned> CountIpv6Addresses();   // every IPv6 address (/proc/net/if_inet6)
std::optional<unsigned> CountIpv6Routes();      // every IPv6 route of every table (/proc/net/ipv6_route)

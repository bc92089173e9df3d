#pragma once
#include <cstdint>
#include <string>

// Dotted-decimal text <-> IPv4 address in network byte order, as the sockets library does it:
// InetAddr accepts the classic forms ("10.1", hex and octal parts) and returns 0xFFFFFFFF
// (INADDR_NONE) for text it cannot read; InetNtoa writes "a.b.c.d".
std::uint32_t InetAddr(const char* text);
std::string InetNtoa(std::uint32_t address);

// The shortest text of a 16-byte IPv6 address (network order), as inet_ntop writes it: "::1",
// "2001:db8::5", "::ffff:10.0.0.1". At most 39 characters for every address but those with a
// dotted tail (at most 45 there).
std::string Inet6Ntop(const std::uint8_t* address);
// Reads IPv6 text (as inet_pton does: no zone, no brackets) into 16 bytes; false, leaving them
// alone, for anything else.
bool Inet6Pton(const char* text, std::uint8_t* address);
// Whether the address is IPv4-mapped (::ffff:a.b.c.d); its IPv4 address is then in its last
// four bytes, in network order.
bool IsV4Mapped(const std::uint8_t* address);
// An end point as a title shows it: "10.0.0.1:80", "[2001:db8::1]:80" (an IPv6 address is
// bracketed so that the port is not read as its last group), the address alone without a port.
std::string EndPointText(const std::string& address, const std::string& port);

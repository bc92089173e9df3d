#pragma once
#include <cstdint>
#include <string>

// Dotted-decimal text <-> IPv4 address in network byte order, as the sockets library does it:
// InetAddr accepts the classic forms ("10.1", hex and octal parts) and returns 0xFFFFFFFF
// (INADDR_NONE) for text it cannot read; InetNtoa writes "a.b.c.d".
std::uint32_t InetAddr(const char* text);
std::string InetNtoa(std::uint32_t address);

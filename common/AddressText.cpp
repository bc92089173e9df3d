#include "AddressText.h"

#include <arpa/inet.h>

#include <cstring>

std::uint32_t InetAddr(const char* text) {
  if (text == nullptr) return INADDR_NONE;
  return inet_addr(text);
}

std::string InetNtoa(std::uint32_t address) {
  char text[INET_ADDRSTRLEN];
  in_addr a{};
  a.s_addr = address;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string Inet6Ntop(const std::uint8_t* address) {
  char text[INET6_ADDRSTRLEN];
  in6_addr a{};
  std::memcpy(&a, address, sizeof a);
  inet_ntop(AF_INET6, &a, text, sizeof text);
  return text;
}

bool Inet6Pton(const char* text, std::uint8_t* address) {
  in6_addr a{};
  if (text == nullptr || inet_pton(AF_INET6, text, &a) != 1) return false;
  std::memcpy(address, &a, sizeof a);
  return true;
}

bool IsV4Mapped(const std::uint8_t* address) {
  static constexpr std::uint8_t kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(address, kPrefix, sizeof kPrefix) == 0;
}

std::string EndPointText(const std::string& address, const std::string& port) {
  if (port.empty()) return address;
  const bool ipv6 = address.find(':') != std::string::npos;
  return (ipv6 ? "[" + address + "]" : address) + ":" + port;
}

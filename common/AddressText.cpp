#include "AddressText.h"

#include <arpa/inet.h>

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

#include "controls/trace/TraceAddress.h"

#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "common/AddressText.h"

TraceAddress TraceAddress::FromV4(DWORD address) {
  TraceAddress result;
  std::memcpy(result.bytes.data(), &address, sizeof address);
  return result;
}

TraceAddress TraceAddress::FromV6(const std::uint8_t* address, std::uint32_t scopeId) {
  if (IsV4Mapped(address)) {
    DWORD v4;
    std::memcpy(&v4, address + 12, sizeof v4);
    return FromV4(v4);
  }
  TraceAddress result;
  result.family = AF_INET6;
  std::memcpy(result.bytes.data(), address, result.bytes.size());
  result.scopeId = scopeId;
  return result;
}

std::optional<TraceAddress> TraceAddress::Parse(const std::string& text) {
  const DWORD dotted = InetAddr(text.c_str());
  if (dotted != 0xFFFFFFFFu) return FromV4(dotted);
  // A numeric lookup: never asks a name server, and reads a scope ("fe80::1%eth0").
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (text.empty() || getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
  std::optional<TraceAddress> result;
  if (found != nullptr && found->ai_addrlen >= sizeof(sockaddr_in6)) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
    result = FromV6(v6->sin6_addr.s6_addr, v6->sin6_scope_id);
  }
  freeaddrinfo(found);
  return result;
}

TraceAddress TraceAddress::OfHop(const _TraceHopResult& hop) {
  const bool v6 = std::any_of(std::begin(hop.address6), std::end(hop.address6), [](std::uint8_t b) { return b != 0; });
  return v6 ? FromV6(hop.address6) : FromV4(hop.address);
}

DWORD TraceAddress::V4() const {
  if (IsV6()) return 0;
  DWORD address;
  std::memcpy(&address, bytes.data(), sizeof address);
  return address;
}

std::string TraceAddress::Text() const { return IsV6() ? Inet6Ntop(bytes.data()) : InetNtoa(V4()); }

void TraceAddress::StoreIn(_TraceHopResult* hop) const {
  hop->address = V4();
  if (IsV6())
    std::memcpy(hop->address6, bytes.data(), sizeof hop->address6);
  else
    std::memset(hop->address6, 0, sizeof hop->address6);
}

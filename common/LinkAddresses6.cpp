#include "common/LinkAddresses6.h"

#include <cstdlib>

#include "common/AddressText.h"

namespace {

std::uint32_t AddressOf(const std::string& text) {
  if (text.empty()) return 0;
  const std::uint32_t address = InetAddr(text.c_str());
  return address == 0xFFFFFFFFu ? 0 : address;
}

std::uint32_t PortOf(const std::string& text) {
  return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

}  // namespace

std::optional<LinkAddresses6> LinkFromTexts(const std::string& from, const std::string& fromPort,
                                            const std::string& to, const std::string& toPort,
                                            _MonListMonItemDataIp& link) {
  link.localPort = PortOf(fromPort);
  link.remotePort = PortOf(toPort);
  LinkAddresses6 link6;
  // Both are read: either end may be the one left out.
  const bool fromIpv6 = Inet6Pton(from.c_str(), link6.local.data());
  const bool toIpv6 = Inet6Pton(to.c_str(), link6.remote.data());
  if (fromIpv6 || toIpv6) {
    link.localAddr = link.remoteAddr = 0;
    return link6;
  }
  link.localAddr = AddressOf(from);
  link.remoteAddr = AddressOf(to);
  return std::nullopt;
}

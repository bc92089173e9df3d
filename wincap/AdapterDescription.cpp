#include "wincap/AdapterDescription.h"

#include <arpa/inet.h>
#include <linux/if_arp.h>
#include <pcap/pcap.h>

#include <filesystem>
#include <fstream>

namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

long Number(const std::string& path, long fallback) {
  const std::string text = FirstLine(path);
  try {
    return text.empty() ? fallback : std::stol(text);
  } catch (...) {
    return fallback;
  }
}

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// DEVTYPE= of the interface's uevent: the kernel's own word for vlan, wlan, wwan and the like.
std::string DevType(const std::string& folder) {
  std::ifstream file(folder + "/uevent");
  for (std::string line; std::getline(file, line);)
    if (line.starts_with("DEVTYPE=")) return line.substr(8);
  return {};
}

// The device's first address as text, IPv4 before IPv6.
std::string FirstAddress(const pcap_if& device) {
  for (const int family : {AF_INET, AF_INET6}) {
    for (const pcap_addr* address = device.addresses; address != nullptr; address = address->next) {
      if (address->addr == nullptr || address->addr->sa_family != family) continue;
      char text[INET6_ADDRSTRLEN] = {};
      const void* bytes = family == AF_INET
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address->addr)->sin_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address->addr)->sin6_addr);
      if (inet_ntop(family, bytes, text, sizeof text) != nullptr) return text;
    }
  }
  return "no address";
}

}  // namespace

std::string InterfaceKind(const std::string& folder) {
  const long type = Number(folder + "/type", -1);
  if (type < 0) return {};
  const std::string devType = DevType(folder);
  if (type == ARPHRD_LOOPBACK) return "Loopback";
  if (devType == "wlan" || Exists(folder + "/wireless") || Exists(folder + "/phy80211")) return "Wireless";
  if (devType == "bridge" || Exists(folder + "/bridge")) return "Bridge";
  if (devType == "bond" || Exists(folder + "/bonding")) return "Bond";
  if (devType == "vlan") return "VLAN";
  if (Exists(folder + "/tun_flags")) return type == ARPHRD_ETHER ? "TAP" : "Tunnel";
  if (type == ARPHRD_PPP) return "PPP";
  if (type != ARPHRD_ETHER) return "Tunnel";  // ipip, sit, gre, wireguard: no link layer of their own
  if (Exists(folder + "/device")) return "Ethernet";  // a card on a bus
  // A virtual device tied to another (a veth's peer, a macvlan's lower device) or standing alone.
  return Number(folder + "/iflink", 0) != Number(folder + "/ifindex", 0) ? "Virtual Ethernet" : "Virtual";
}

std::string AdapterDescription(const pcap_if& device) {
  const std::string name = device.name != nullptr ? device.name : "";
  const std::string kind = name.empty() || name.find('/') != std::string::npos ? std::string()
                                                                                : InterfaceKind("/sys/class/net/" + name);
  if (!kind.empty()) return kind + " " + FirstAddress(device);
  if (device.description != nullptr && device.description[0] != '\0') return device.description;
  return name;
}

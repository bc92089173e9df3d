#pragma once
#include <string>

struct pcap_if;

// What the interface chooser and File > Properties show for a capture device, in words a person
// recognises: the interface's kind and its first address, "Loopback 127.0.0.1", "Ethernet
// 192.168.1.20", "Bridge no address" (an IPv4 address first, else an IPv6 one). The kind comes
// from the interface's entry under /sys/class/net; a device that is no network interface (the
// capture library's pseudo-devices) keeps the library's own description, or else its name.
std::string AdapterDescription(const pcap_if& device);

// The kind of the interface whose sysfs folder is given: "Loopback", "Ethernet", "Wireless",
// "Bridge", "Bond", "VLAN", "TAP", "Tunnel", "PPP", "Virtual Ethernet" (veth, macvlan), "Virtual";
// empty when the folder does not describe an interface.
std::string InterfaceKind(const std::string& sysfsFolder);

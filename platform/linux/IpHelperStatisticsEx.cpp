// The per-family counter calls of the IP Helper library. IPv4 comes from the plain calls (and the
// ICMP message types of /proc/net/snmp); IPv6 from the kernel's IPv6 counters, /proc/net/snmp6,
// whose names are looked up one by one. The kernel keeps TCP counters for both families
// together, so there is no IPv6 TCP record of its own.
#include <sys/socket.h>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IpHelper.h"
#include "platform/linux/KernelSetting.h"
#include "platform/linux/RouteCounts.h"
#include "platform/linux/StatisticsRecords.h"

namespace {

// Absent where the kernel runs without IPv6.
constexpr const char* kSnmp6Path = "/proc/net/snmp6";
constexpr const char* kSnmpPath = "/proc/net/snmp";
// The kernel's counts of the IPv6 sockets in use ("UDP6: inuse 3").
constexpr const char* kSockstat6Path = "/proc/net/sockstat6";
constexpr const char* kForwardingPath = "/proc/sys/net/ipv6/conf/all/forwarding";
constexpr const char* kHopLimitPath = "/proc/sys/net/ipv6/conf/all/hop_limit";
// Seconds an IPv6 fragment waits for the rest of its datagram.
constexpr const char* kFragmentTimePath = "/proc/sys/net/ipv6/ip6frag_time";

// One ICMP direction: its messages and errors, and a counter per message type. The kernel prints
// "<prefix>Type<n>" only for the types it has seen; the others stay 0.
MIBICMPSTATS_EX IcmpDirection(const SnmpCounters& counters, std::string_view group, std::string_view typeGroup,
                              const std::string& prefix) {
  MIBICMPSTATS_EX d{};
  d.dwMsgs = counters.Get32(group, prefix + "Msgs");
  d.dwErrors = counters.Get32(group, prefix + "Errors");
  for (const auto& [number, value] : counters.WithPrefix(typeGroup, prefix + "Type")) {
    unsigned type = 0;
    const char* end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data(), end, type);
    if (error == std::errc{} && stop == end && type < 256) d.rgdwTypeCount[type] = static_cast<DWORD>(value);
  }
  return d;
}

std::optional<SnmpCounters> ReadSnmp6() { return SnmpCounters::Read(kSnmp6Path, SnmpCounters::Layout::Lines); }

}  // namespace

MIB_IPSTATS Ip6StatisticsOf(const SnmpCounters& snmp6) {
  auto get = [&snmp6](const char* name) { return snmp6.Get32("", name); };
  // Not in the file: dwForwarding and dwDefaultTTL (settings), dwReasmTimeout (the record's field
  // is the hold time; "Ip6ReasmTimeout" counts expiries), dwRoutingDiscards (no such count, 0),
  // dwNumIf, dwNumAddr, dwNumRoutes (counted elsewhere).
  MIB_IPSTATS s{};
  s.dwInReceives = get("Ip6InReceives");
  s.dwInHdrErrors = get("Ip6InHdrErrors");
  s.dwInAddrErrors = get("Ip6InAddrErrors");
  s.dwForwDatagrams = get("Ip6OutForwDatagrams");
  s.dwInUnknownProtos = get("Ip6InUnknownProtos");
  s.dwInDiscards = get("Ip6InDiscards");
  s.dwInDelivers = get("Ip6InDelivers");
  s.dwOutRequests = get("Ip6OutRequests");
  s.dwOutDiscards = get("Ip6OutDiscards");
  s.dwOutNoRoutes = get("Ip6OutNoRoutes");
  s.dwReasmReqds = get("Ip6ReasmReqds");
  s.dwReasmOks = get("Ip6ReasmOKs");
  s.dwReasmFails = get("Ip6ReasmFails");
  s.dwFragOks = get("Ip6FragOKs");
  s.dwFragFails = get("Ip6FragFails");
  s.dwFragCreates = get("Ip6FragCreates");
  return s;
}

MIB_UDPSTATS Udp6StatisticsOf(const SnmpCounters& snmp6) {
  MIB_UDPSTATS s{};
  s.dwInDatagrams = snmp6.Get32("", "Udp6InDatagrams");
  s.dwNoPorts = snmp6.Get32("", "Udp6NoPorts");
  s.dwInErrors = snmp6.Get32("", "Udp6InErrors");
  s.dwOutDatagrams = snmp6.Get32("", "Udp6OutDatagrams");
  return s;  // dwNumAddrs: the sockets in use, not a counter
}

MIB_ICMP_EX Icmp6StatisticsOf(const SnmpCounters& snmp6) {
  return MIB_ICMP_EX{IcmpDirection(snmp6, "", "", "Icmp6In"), IcmpDirection(snmp6, "", "", "Icmp6Out")};
}

MIB_ICMP_EX IcmpStatisticsExOf(const SnmpCounters& snmp) {
  // "Icmp: InMsgs InErrors ..." and "IcmpMsg: InType0 InType8 OutType0 ...".
  return MIB_ICMP_EX{IcmpDirection(snmp, "Icmp", "IcmpMsg", "In"), IcmpDirection(snmp, "Icmp", "IcmpMsg", "Out")};
}

DWORD GetIpStatisticsEx(PMIB_IPSTATS pStats, ULONG dwFamily) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  if (dwFamily == AF_INET) return GetIpStatistics(pStats);
  if (dwFamily != AF_INET6) return ERROR_INVALID_PARAMETER;
  const std::optional<SnmpCounters> snmp6 = ReadSnmp6();
  if (!snmp6) return ERROR_NOT_SUPPORTED;
  MIB_IPSTATS s = Ip6StatisticsOf(*snmp6);
  // 1 forwarding, 2 not, as for IPv4.
  s.dwForwarding = ReadKernelSetting(kForwardingPath).value_or(0) != 0 ? MIB_IP_FORWARDING : MIB_IP_NOT_FORWARDING;
  s.dwDefaultTTL = ReadKernelSetting(kHopLimitPath).value_or(0);
  s.dwReasmTimeout = ReadKernelSetting(kFragmentTimePath).value_or(0);
  s.dwNumIf = CountIpv6Interfaces().value_or(0);
  s.dwNumAddr = CountIpv6Addresses().value_or(0);
  s.dwNumRoutes = CountIpv6Routes().value_or(0);
  *pStats = s;
  return NO_ERROR;
}

DWORD GetUdpStatisticsEx(PMIB_UDPSTATS pStats, ULONG dwFamily) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  if (dwFamily == AF_INET) return GetUdpStatistics(pStats);
  if (dwFamily != AF_INET6) return ERROR_INVALID_PARAMETER;
  const std::optional<SnmpCounters> snmp6 = ReadSnmp6();
  if (!snmp6) return ERROR_NOT_SUPPORTED;
  MIB_UDPSTATS s = Udp6StatisticsOf(*snmp6);
  const SnmpCounters sockets =
      SnmpCounters::Read(kSockstat6Path, SnmpCounters::Layout::Pairs).value_or(SnmpCounters{});
  s.dwNumAddrs = sockets.Get32("UDP6", "inuse");  // every bound IPv6 UDP socket
  *pStats = s;
  return NO_ERROR;
}

DWORD GetIcmpStatisticsEx(PMIB_ICMP_EX pStats, ULONG dwFamily) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  if (dwFamily != AF_INET && dwFamily != AF_INET6) return ERROR_INVALID_PARAMETER;
  const bool v6 = dwFamily == AF_INET6;
  const std::optional<SnmpCounters> counters = v6 ? ReadSnmp6() : SnmpCounters::Read(kSnmpPath);
  if (!counters) return ERROR_NOT_SUPPORTED;
  *pStats = v6 ? Icmp6StatisticsOf(*counters) : IcmpStatisticsExOf(*counters);
  return NO_ERROR;
}

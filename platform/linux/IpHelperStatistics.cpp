// The counters of the IP Helper library, from the kernel's SNMP counters (/proc/net/snmp), its
// socket dump and its routing tables. Each record field names its source below; the fields the
// kernel has no source for read 0.
#include <netinet/in.h>

#include <optional>
#include <string>

#include "platform/IpHelper.h"
#include "platform/linux/KernelSetting.h"
#include "platform/linux/RouteCounts.h"
#include "platform/linux/SnmpCounters.h"

namespace {

constexpr const char* kSnmpPath = "/proc/net/snmp";
// The kernel's own counts of the sockets in use, per protocol.
constexpr const char* kSockstatPath = "/proc/net/sockstat";
// Seconds a fragment waits for the rest of its datagram.
constexpr const char* kFragmentTimePath = "/proc/sys/net/ipv4/ipfrag_time";

// Counting the table's rows through the socket dump would walk the kernel's whole connection
// hash (some 2 ms even when it is empty); the kernel keeps the counts itself.
SnmpCounters SocketCounts() {
  return SnmpCounters::Read(kSockstatPath, SnmpCounters::Layout::Pairs).value_or(SnmpCounters{});
}

}  // namespace

DWORD GetTcpStatistics(PMIB_TCPSTATS pStats) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  const std::optional<SnmpCounters> snmp = SnmpCounters::Read(kSnmpPath);
  if (!snmp) return ERROR_NOT_SUPPORTED;
  MIB_TCPSTATS s{};
  s.dwRtoAlgorithm = snmp->Get32("Tcp", "RtoAlgorithm");  // 1 "other" on Linux
  s.dwRtoMin = snmp->Get32("Tcp", "RtoMin");              // ms
  s.dwRtoMax = snmp->Get32("Tcp", "RtoMax");              // ms
  s.dwMaxConn = snmp->Get32("Tcp", "MaxConn");            // -1: no fixed limit -> 0xFFFFFFFF
  s.dwActiveOpens = snmp->Get32("Tcp", "ActiveOpens");
  s.dwPassiveOpens = snmp->Get32("Tcp", "PassiveOpens");
  s.dwAttemptFails = snmp->Get32("Tcp", "AttemptFails");
  s.dwEstabResets = snmp->Get32("Tcp", "EstabResets");
  s.dwCurrEstab = snmp->Get32("Tcp", "CurrEstab");
  s.dwInSegs = snmp->Get32("Tcp", "InSegs");
  s.dwOutSegs = snmp->Get32("Tcp", "OutSegs");
  s.dwRetransSegs = snmp->Get32("Tcp", "RetransSegs");
  s.dwInErrs = snmp->Get32("Tcp", "InErrs");
  s.dwOutRsts = snmp->Get32("Tcp", "OutRsts");
  // The rows of the TCP table: IPv4 TCP sockets listening or connected ("inuse") plus those in
  // TIME_WAIT ("tw"; the kernel counts IPv6 ones there too).
  const SnmpCounters sockets = SocketCounts();
  s.dwNumConns = sockets.Get32("TCP", "inuse") + sockets.Get32("TCP", "tw");
  *pStats = s;
  return NO_ERROR;
}

DWORD GetUdpStatistics(PMIB_UDPSTATS pStats) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  const std::optional<SnmpCounters> snmp = SnmpCounters::Read(kSnmpPath);
  if (!snmp) return ERROR_NOT_SUPPORTED;
  MIB_UDPSTATS s{};
  s.dwInDatagrams = snmp->Get32("Udp", "InDatagrams");
  s.dwNoPorts = snmp->Get32("Udp", "NoPorts");
  s.dwInErrors = snmp->Get32("Udp", "InErrors");
  s.dwOutDatagrams = snmp->Get32("Udp", "OutDatagrams");
  // The rows of the UDP table: every bound IPv4 UDP socket.
  s.dwNumAddrs = SocketCounts().Get32("UDP", "inuse");
  *pStats = s;
  return NO_ERROR;
}

DWORD GetIcmpStatistics(PMIB_ICMP pStats) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  const std::optional<SnmpCounters> snmp = SnmpCounters::Read(kSnmpPath);
  if (!snmp) return ERROR_NOT_SUPPORTED;
  // Both directions from the "Icmp" group: In<Name> and Out<Name>.
  auto direction = [&snmp](const char* way) {
    auto get = [&](const char* name) { return snmp->Get32("Icmp", std::string(way) + name); };
    MIBICMPSTATS d{};
    d.dwMsgs = get("Msgs");
    d.dwErrors = get("Errors");
    d.dwDestUnreachs = get("DestUnreachs");
    d.dwTimeExcds = get("TimeExcds");
    d.dwParmProbs = get("ParmProbs");
    d.dwSrcQuenchs = get("SrcQuenchs");
    d.dwRedirects = get("Redirects");
    d.dwEchos = get("Echos");
    d.dwEchoReps = get("EchoReps");
    d.dwTimestamps = get("Timestamps");
    d.dwTimestampReps = get("TimestampReps");
    d.dwAddrMasks = get("AddrMasks");
    d.dwAddrMaskReps = get("AddrMaskReps");
    return d;
  };
  MIB_ICMP s{};
  s.stats.icmpInStats = direction("In");
  s.stats.icmpOutStats = direction("Out");
  *pStats = s;
  return NO_ERROR;
}

DWORD GetIpStatistics(PMIB_IPSTATS pStats) {
  if (pStats == nullptr) return ERROR_INVALID_PARAMETER;
  const std::optional<SnmpCounters> snmp = SnmpCounters::Read(kSnmpPath);
  if (!snmp) return ERROR_NOT_SUPPORTED;
  MIB_IPSTATS s{};
  s.dwForwarding = snmp->Get32("Ip", "Forwarding");  // 1 forwarding, 2 not, as the record's values
  s.dwDefaultTTL = snmp->Get32("Ip", "DefaultTTL");
  s.dwInReceives = snmp->Get32("Ip", "InReceives");
  s.dwInHdrErrors = snmp->Get32("Ip", "InHdrErrors");
  s.dwInAddrErrors = snmp->Get32("Ip", "InAddrErrors");
  s.dwForwDatagrams = snmp->Get32("Ip", "ForwDatagrams");
  s.dwInUnknownProtos = snmp->Get32("Ip", "InUnknownProtos");
  s.dwInDiscards = snmp->Get32("Ip", "InDiscards");
  s.dwInDelivers = snmp->Get32("Ip", "InDelivers");
  s.dwOutRequests = snmp->Get32("Ip", "OutRequests");
  // Valid routes dropped to make room for others: the kernel keeps no such count.
  s.dwRoutingDiscards = 0;
  s.dwOutDiscards = snmp->Get32("Ip", "OutDiscards");
  s.dwOutNoRoutes = snmp->Get32("Ip", "OutNoRoutes");
  // The record's field is the time fragments are held (s); the kernel's "ReasmTimeout" column
  // counts expiries instead, so the hold time comes from its setting.
  s.dwReasmTimeout = ReadKernelSetting(kFragmentTimePath).value_or(0);
  s.dwReasmReqds = snmp->Get32("Ip", "ReasmReqds");
  s.dwReasmOks = snmp->Get32("Ip", "ReasmOKs");
  s.dwReasmFails = snmp->Get32("Ip", "ReasmFails");
  s.dwFragOks = snmp->Get32("Ip", "FragOKs");
  s.dwFragFails = snmp->Get32("Ip", "FragFails");
  s.dwFragCreates = snmp->Get32("Ip", "FragCreates");
  s.dwNumIf = CountInterfaces().value_or(0);
  s.dwNumAddr = CountIpv4Addresses().value_or(0);
  s.dwNumRoutes = CountIpv4Routes().value_or(0);
  *pStats = s;
  return NO_ERROR;
}

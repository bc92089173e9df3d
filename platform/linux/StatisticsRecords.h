#pragma once
#include "platform/IpHelper.h"
#include "platform/linux/SnmpCounters.h"

// The records of the per-family counter calls, filled from the kernel's counter files: the IPv6
// ones from /proc/net/snmp6 (the Lines layout), the IPv4 ICMP one from /proc/net/snmp. Fields
// the counter file has no source for (settings, counts of interfaces, addresses and routes, the
// UDP endpoints) are left 0 here; the calls add them from their own files.
MIB_IPSTATS Ip6StatisticsOf(const SnmpCounters& snmp6);
MIB_UDPSTATS Udp6StatisticsOf(const SnmpCounters& snmp6);
MIB_ICMP_EX Icmp6StatisticsOf(const SnmpCounters& snmp6);
MIB_ICMP_EX IcmpStatisticsExOf(const SnmpCounters& snmp);

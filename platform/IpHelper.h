#pragma once
#include <cstddef>

#include "common/WinTypes.h"
#include "platform/DynamicLibrary.h"
#include "platform/Handle.h"
#include "platform/LastError.h"

// The IP Helper library ("iphlpapi.dll"): TCP and UDP endpoint tables (IPv4 with or without the
// owning process ids, IPv6 with them), TCP connection teardown, and the TCP, UDP, ICMP and IP
// counters (UDP, ICMP and IP of either family). Callers
// load the library and look the calls up by name (DynamicLibrary.h); the records keep the
// platform's shapes so table walks read the same everywhere.
//
// Addresses are IPv4 in network byte order. Ports are in network byte order in the low 16 bits
// of their 32-bit field (the upper 16 bits are 0): ntohs(static_cast<u_short>(row.dwLocalPort))
// gives the port number. IPv6 addresses are 16 bytes in network order with a scope id (the
// interface index of a link-local address, else 0).

constexpr DWORD ANY_SIZE = 1;

// TCP states as the tables report them.
constexpr DWORD MIB_TCP_STATE_CLOSED = 1;
constexpr DWORD MIB_TCP_STATE_LISTEN = 2;
constexpr DWORD MIB_TCP_STATE_SYN_SENT = 3;
constexpr DWORD MIB_TCP_STATE_SYN_RCVD = 4;
constexpr DWORD MIB_TCP_STATE_ESTAB = 5;
constexpr DWORD MIB_TCP_STATE_FIN_WAIT1 = 6;
constexpr DWORD MIB_TCP_STATE_FIN_WAIT2 = 7;
constexpr DWORD MIB_TCP_STATE_CLOSE_WAIT = 8;
constexpr DWORD MIB_TCP_STATE_CLOSING = 9;
constexpr DWORD MIB_TCP_STATE_LAST_ACK = 10;
constexpr DWORD MIB_TCP_STATE_TIME_WAIT = 11;
constexpr DWORD MIB_TCP_STATE_DELETE_TCB = 12;  // SetTcpEntry: tear the connection down

constexpr DWORD MIB_IP_FORWARDING = 1;
constexpr DWORD MIB_IP_NOT_FORWARDING = 2;

struct MIB_TCPROW {
  DWORD dwState;
  DWORD dwLocalAddr;
  DWORD dwLocalPort;
  DWORD dwRemoteAddr;
  DWORD dwRemotePort;
};
struct MIB_TCPTABLE {
  DWORD dwNumEntries;
  MIB_TCPROW table[ANY_SIZE];
};
struct MIB_TCPROW_EX {
  DWORD dwState;
  DWORD dwLocalAddr;
  DWORD dwLocalPort;
  DWORD dwRemoteAddr;
  DWORD dwRemotePort;
  DWORD dwProcessId;  // 0 when no process holds the socket (TIME_WAIT, orphans)
};
struct MIB_TCPTABLE_EX {
  DWORD dwNumEntries;
  MIB_TCPROW_EX table[ANY_SIZE];
};
struct MIB_UDPROW {
  DWORD dwLocalAddr;
  DWORD dwLocalPort;
};
struct MIB_UDPTABLE {
  DWORD dwNumEntries;
  MIB_UDPROW table[ANY_SIZE];
};
struct MIB_UDPROW_EX {
  DWORD dwLocalAddr;
  DWORD dwLocalPort;
  DWORD dwProcessId;
};
struct MIB_UDPTABLE_EX {
  DWORD dwNumEntries;
  MIB_UDPROW_EX table[ANY_SIZE];
};

// Row shapes of the extended tables (GetExtendedTcpTable, GetExtendedUdpTable).
enum TCP_TABLE_CLASS : DWORD {
  TCP_TABLE_BASIC_LISTENER,
  TCP_TABLE_BASIC_CONNECTIONS,
  TCP_TABLE_BASIC_ALL,
  TCP_TABLE_OWNER_PID_LISTENER,
  TCP_TABLE_OWNER_PID_CONNECTIONS,
  TCP_TABLE_OWNER_PID_ALL,
};
enum UDP_TABLE_CLASS : DWORD {
  UDP_TABLE_BASIC,
  UDP_TABLE_OWNER_PID,
};

struct MIB_TCP6ROW {
  DWORD State;
  UCHAR LocalAddr[16];
  DWORD dwLocalScopeId;
  DWORD dwLocalPort;
  UCHAR RemoteAddr[16];
  DWORD dwRemoteScopeId;
  DWORD dwRemotePort;
};
struct MIB_TCP6ROW_OWNER_PID {
  UCHAR ucLocalAddr[16];
  DWORD dwLocalScopeId;
  DWORD dwLocalPort;
  UCHAR ucRemoteAddr[16];
  DWORD dwRemoteScopeId;
  DWORD dwRemotePort;
  DWORD dwState;
  DWORD dwOwningPid;  // 0 when no process holds the socket
};
struct MIB_TCP6TABLE_OWNER_PID {
  DWORD dwNumEntries;
  MIB_TCP6ROW_OWNER_PID table[ANY_SIZE];
};
struct MIB_UDP6ROW_OWNER_PID {
  UCHAR ucLocalAddr[16];
  DWORD dwLocalScopeId;
  DWORD dwLocalPort;
  DWORD dwOwningPid;
};
struct MIB_UDP6TABLE_OWNER_PID {
  DWORD dwNumEntries;
  MIB_UDP6ROW_OWNER_PID table[ANY_SIZE];
};

struct MIB_TCPSTATS {
  DWORD dwRtoAlgorithm;
  DWORD dwRtoMin;  // ms
  DWORD dwRtoMax;  // ms
  DWORD dwMaxConn;  // 0xFFFFFFFF: no fixed limit
  DWORD dwActiveOpens;
  DWORD dwPassiveOpens;
  DWORD dwAttemptFails;
  DWORD dwEstabResets;
  DWORD dwCurrEstab;
  DWORD dwInSegs;
  DWORD dwOutSegs;
  DWORD dwRetransSegs;
  DWORD dwInErrs;
  DWORD dwOutRsts;
  DWORD dwNumConns;
};
struct MIB_UDPSTATS {
  DWORD dwInDatagrams;
  DWORD dwNoPorts;
  DWORD dwInErrors;
  DWORD dwOutDatagrams;
  DWORD dwNumAddrs;
};
struct MIBICMPSTATS {
  DWORD dwMsgs;
  DWORD dwErrors;
  DWORD dwDestUnreachs;
  DWORD dwTimeExcds;
  DWORD dwParmProbs;
  DWORD dwSrcQuenchs;
  DWORD dwRedirects;
  DWORD dwEchos;
  DWORD dwEchoReps;
  DWORD dwTimestamps;
  DWORD dwTimestampReps;
  DWORD dwAddrMasks;
  DWORD dwAddrMaskReps;
};
struct MIBICMPINFO {
  MIBICMPSTATS icmpInStats;
  MIBICMPSTATS icmpOutStats;
};
struct MIB_ICMP {
  MIBICMPINFO stats;
};
// The counters of one ICMP direction by message type (GetIcmpStatisticsEx): for IPv6 the types
// of ICMPv6 (128 echo request, 129 echo reply, ...).
struct MIBICMPSTATS_EX {
  DWORD dwMsgs;
  DWORD dwErrors;
  DWORD rgdwTypeCount[256];
};
struct MIB_ICMP_EX {
  MIBICMPSTATS_EX icmpInStats;
  MIBICMPSTATS_EX icmpOutStats;
};
struct MIB_IPSTATS {
  DWORD dwForwarding;
  DWORD dwDefaultTTL;
  DWORD dwInReceives;
  DWORD dwInHdrErrors;
  DWORD dwInAddrErrors;
  DWORD dwForwDatagrams;
  DWORD dwInUnknownProtos;
  DWORD dwInDiscards;
  DWORD dwInDelivers;
  DWORD dwOutRequests;
  DWORD dwRoutingDiscards;
  DWORD dwOutDiscards;
  DWORD dwOutNoRoutes;
  DWORD dwReasmTimeout;
  DWORD dwReasmReqds;
  DWORD dwReasmOks;
  DWORD dwReasmFails;
  DWORD dwFragOks;
  DWORD dwFragFails;
  DWORD dwFragCreates;
  DWORD dwNumIf;
  DWORD dwNumAddr;
  DWORD dwNumRoutes;
};

static_assert(sizeof(MIB_TCPROW) == 20 && sizeof(MIB_TCPROW_EX) == 24);
static_assert(sizeof(MIB_UDPROW) == 8 && sizeof(MIB_UDPROW_EX) == 12);
static_assert(offsetof(MIB_TCPTABLE, table) == 4 && offsetof(MIB_TCPTABLE_EX, table) == 4);
static_assert(offsetof(MIB_UDPTABLE, table) == 4 && offsetof(MIB_UDPTABLE_EX, table) == 4);
static_assert(sizeof(MIB_TCP6ROW_OWNER_PID) == 56 && sizeof(MIB_UDP6ROW_OWNER_PID) == 28);
static_assert(offsetof(MIB_TCP6ROW_OWNER_PID, dwRemotePort) == 44 && offsetof(MIB_UDP6ROW_OWNER_PID, dwOwningPid) == 24);
static_assert(offsetof(MIB_TCP6TABLE_OWNER_PID, table) == 4 && offsetof(MIB_UDP6TABLE_OWNER_PID, table) == 4);
static_assert(sizeof(MIB_TCPSTATS) == 60 && sizeof(MIB_UDPSTATS) == 20);
static_assert(sizeof(MIBICMPSTATS) == 52 && sizeof(MIB_ICMP) == 104);
static_assert(sizeof(MIBICMPSTATS_EX) == 1032 && sizeof(MIB_ICMP_EX) == 2064);
static_assert(sizeof(MIB_IPSTATS) == 92);

using PMIB_TCPROW = MIB_TCPROW*;
using PMIB_TCPTABLE = MIB_TCPTABLE*;
using PMIB_TCPROW_EX = MIB_TCPROW_EX*;
using PMIB_TCPTABLE_EX = MIB_TCPTABLE_EX*;
using PMIB_UDPROW = MIB_UDPROW*;
using PMIB_UDPTABLE = MIB_UDPTABLE*;
using PMIB_UDPROW_EX = MIB_UDPROW_EX*;
using PMIB_UDPTABLE_EX = MIB_UDPTABLE_EX*;
using PMIB_TCPSTATS = MIB_TCPSTATS*;
using PMIB_UDPSTATS = MIB_UDPSTATS*;
using PMIB_ICMP = MIB_ICMP*;
using PMIB_ICMP_EX = MIB_ICMP_EX*;
using PMIB_IPSTATS = MIB_IPSTATS*;

// Plain tables. With a null table or *pdwSize smaller than the table, *pdwSize receives the
// size to allocate (some rows more than now: 16 and a quarter of the table, so a table that
// grows a little before the next call still fits) and the result is ERROR_INSUFFICIENT_BUFFER. bOrder sorts the rows (see
// AllocateAndGetTcpExTableFromStack). ERROR_INVALID_PARAMETER for a null pdwSize;
// ERROR_NOT_SUPPORTED when the kernel offers no socket dump.
DWORD GetTcpTable(PMIB_TCPTABLE pTcpTable, DWORD* pdwSize, BOOL bOrder);
DWORD GetUdpTable(PMIB_UDPTABLE pUdpTable, DWORD* pdwSize, BOOL bOrder);

// Extended tables with the owning process id of each row, allocated from hHeap (only the
// process heap, GetProcessHeap()) with dwFlags passed to HeapAlloc; the caller frees the block
// with HeapFree. dwFamily must be 2 (IPv4). With bOrder the rows are sorted by local address,
// local port, remote address, remote port, each compared as a number (addresses and ports in
// host order), then by state and process id. A socket held by several processes is reported
// with the lowest process id that holds it.
DWORD AllocateAndGetTcpExTableFromStack(void** ppTcpTable, BOOL bOrder, HANDLE hHeap, DWORD dwFlags,
                                        DWORD dwFamily);
DWORD AllocateAndGetUdpExTableFromStack(void** ppUdpTable, BOOL bOrder, HANDLE hHeap, DWORD dwFlags,
                                        DWORD dwFamily);

// Extended tables in the caller's buffer. Only ulAf AF_INET6 with TCP_TABLE_OWNER_PID_ALL
// (MIB_TCP6TABLE_OWNER_PID) and UDP_TABLE_OWNER_PID (MIB_UDP6TABLE_OWNER_PID) is offered here
// (IPv4 comes from the calls above); other families or classes are ERROR_NOT_SUPPORTED, a
// Reserved other than 0 or a null pdwSize ERROR_INVALID_PARAMETER. Sizes are answered as for
// the plain tables. Sockets of both families on an IPv4-mapped address (::ffff:a.b.c.d) are in
// this table as the kernel holds them; bOrder sorts by local address and port, remote address
// and port (addresses byte by byte), then state and process id.
DWORD GetExtendedTcpTable(void* pTcpTable, DWORD* pdwSize, BOOL bOrder, ULONG ulAf, TCP_TABLE_CLASS TableClass,
                          ULONG Reserved);
DWORD GetExtendedUdpTable(void* pUdpTable, DWORD* pdwSize, BOOL bOrder, ULONG ulAf, UDP_TABLE_CLASS TableClass,
                          ULONG Reserved);

// Only dwState 12 (MIB_TCP_STATE_DELETE_TCB) is accepted: the connection with the row's four
// addresses and ports is torn down (the local socket gets a reset error, the peer a reset).
// ERROR_NOT_FOUND: no such connection; ERROR_ACCESS_DENIED: not privileged (CAP_NET_ADMIN);
// ERROR_NOT_SUPPORTED: the kernel was built without socket destruction; ERROR_INVALID_PARAMETER:
// null row or another state.
DWORD SetTcpEntry(PMIB_TCPROW pTcpRow);
// The same for an IPv6 connection, which the platform's IP Helper has no call for: a blocked
// process must lose its IPv6 connections as it loses its IPv4 ones. Scope ids are not read.
DWORD SetTcpEntry6(const MIB_TCP6ROW* pTcpRow);

// Counters of this machine (its network namespace). Counters are 32 bits wide and wrap.
DWORD GetTcpStatistics(PMIB_TCPSTATS pStats);
DWORD GetUdpStatistics(PMIB_UDPSTATS pStats);
DWORD GetIcmpStatistics(PMIB_ICMP pStats);
DWORD GetIpStatistics(PMIB_IPSTATS pStats);

// The counters of one address family: AF_INET those of the calls above (GetIcmpStatisticsEx by
// message type), AF_INET6 the kernel's IPv6 counters (/proc/net/snmp6). The kernel counts TCP of
// both families together, so GetTcpStatistics covers IPv6 as well. ERROR_NOT_SUPPORTED: this
// machine has no IPv6; ERROR_INVALID_PARAMETER: a null record or another family.
DWORD GetIpStatisticsEx(PMIB_IPSTATS pStats, ULONG dwFamily);
DWORD GetIcmpStatisticsEx(PMIB_ICMP_EX pStats, ULONG dwFamily);
DWORD GetUdpStatisticsEx(PMIB_UDPSTATS pStats, ULONG dwFamily);

// Pointer types of the calls, for GetProcAddress.
using PGetTcpTable = DWORD (*)(PMIB_TCPTABLE, DWORD*, BOOL);
using PGetUdpTable = DWORD (*)(PMIB_UDPTABLE, DWORD*, BOOL);
using PAllocateAndGetTcpExTableFromStack = DWORD (*)(void**, BOOL, HANDLE, DWORD, DWORD);
using PAllocateAndGetUdpExTableFromStack = DWORD (*)(void**, BOOL, HANDLE, DWORD, DWORD);
using PGetExtendedTcpTable = DWORD (*)(void*, DWORD*, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);
using PGetExtendedUdpTable = DWORD (*)(void*, DWORD*, BOOL, ULONG, UDP_TABLE_CLASS, ULONG);
using PSetTcpEntry = DWORD (*)(PMIB_TCPROW);
using PSetTcpEntry6 = DWORD (*)(const MIB_TCP6ROW*);
using PGetTcpStatistics = DWORD (*)(PMIB_TCPSTATS);
using PGetUdpStatistics = DWORD (*)(PMIB_UDPSTATS);
using PGetIcmpStatistics = DWORD (*)(PMIB_ICMP);
using PGetIpStatistics = DWORD (*)(PMIB_IPSTATS);
using PGetIpStatisticsEx = DWORD (*)(PMIB_IPSTATS, ULONG);
using PGetIcmpStatisticsEx = DWORD (*)(PMIB_ICMP_EX, ULONG);
using PGetUdpStatisticsEx = DWORD (*)(PMIB_UDPSTATS, ULONG);

// The entry points of "iphlpapi.dll": the calls above under their own names.
LibraryExportTable IpHelperExports();

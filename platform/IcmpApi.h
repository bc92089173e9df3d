#pragma once
#include <netinet/in.h>

#include <cstddef>

#include "common/WinTypes.h"
#include "platform/DynamicLibrary.h"
#include "platform/Handle.h"
#include "platform/LastError.h"

// The ICMP echo library ("ICMP.DLL"): one echo request at a time with a time-to-live and a
// timeout, over a raw ICMP socket (CAP_NET_RAW). Callers load the library and look the calls up
// by name (DynamicLibrary.h), as they do for the IP Helper calls.
//
//   HANDLE icmp = IcmpCreateFile();
//   char reply[sizeof(ICMP_ECHO_REPLY) + 32 + 8];
//   IP_OPTION_INFORMATION options{};
//   options.Ttl = 3;
//   if (IcmpSendEcho(icmp, address, data, 32, &options, reply, sizeof reply, 3000) != 0) ... reply's Status
//   else ... GetLastError() (IP_REQ_TIMED_OUT)
//   IcmpCloseHandle(icmp);
//
// Every answer is matched to its request by identifier and sequence number (for error answers,
// those of the request they quote), and by the address the request went to: answers to another
// program's echoes, or to an earlier echo of this handle that timed out, are passed over.

using IPAddr = DWORD;  // IPv4, network byte order

// IP status codes: the Status of a reply, or the last error when no reply came.
constexpr DWORD IP_SUCCESS = 0;
constexpr DWORD IP_STATUS_BASE = 11000;
constexpr DWORD IP_BUF_TOO_SMALL = 11001;
constexpr DWORD IP_DEST_NET_UNREACHABLE = 11002;
constexpr DWORD IP_DEST_HOST_UNREACHABLE = 11003;
constexpr DWORD IP_DEST_PROT_UNREACHABLE = 11004;
constexpr DWORD IP_DEST_PORT_UNREACHABLE = 11005;
constexpr DWORD IP_NO_RESOURCES = 11006;
constexpr DWORD IP_BAD_OPTION = 11007;
constexpr DWORD IP_HW_ERROR = 11008;
constexpr DWORD IP_PACKET_TOO_BIG = 11009;
constexpr DWORD IP_REQ_TIMED_OUT = 11010;
constexpr DWORD IP_BAD_REQ = 11011;
constexpr DWORD IP_BAD_ROUTE = 11012;
constexpr DWORD IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr DWORD IP_TTL_EXPIRED_REASSEM = 11014;
constexpr DWORD IP_PARAM_PROBLEM = 11015;
constexpr DWORD IP_SOURCE_QUENCH = 11016;
constexpr DWORD IP_OPTION_TOO_BIG = 11017;
constexpr DWORD IP_BAD_DESTINATION = 11018;
constexpr DWORD IP_GENERAL_FAILURE = 11050;

// The request was cut short by IcmpCancelEcho.
constexpr DWORD ERROR_CANCELLED = 1223;

constexpr unsigned char IP_FLAG_DF = 0x2;  // don't fragment

struct IP_OPTION_INFORMATION {
  unsigned char Ttl;
  unsigned char Tos;
  unsigned char Flags;
  unsigned char OptionsSize;
  unsigned char* OptionsData;
};

// One answer, written at the start of the reply buffer; its data follows it in the buffer.
struct ICMP_ECHO_REPLY {
  IPAddr Address;       // who answered: the destination, or the router that sent an error
  DWORD Status;         // IP_SUCCESS, IP_TTL_EXPIRED_TRANSIT, IP_DEST_..._UNREACHABLE, ...
  DWORD RoundTripTime;  // ms
  unsigned short DataSize;
  unsigned short Reserved;
  void* Data;  // into the reply buffer
  IP_OPTION_INFORMATION Options;  // of the answer's IP header (no options data)
};

using PIP_OPTION_INFORMATION = IP_OPTION_INFORMATION*;
using PICMP_ECHO_REPLY = ICMP_ECHO_REPLY*;

// A handle for echo requests, or INVALID_HANDLE_VALUE with the last error ERROR_ACCESS_DENIED
// (no CAP_NET_RAW) or ERROR_NOT_ENOUGH_MEMORY.
HANDLE IcmpCreateFile();

// FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
BOOL IcmpCloseHandle(HANDLE icmpHandle);

// Sends one echo request of RequestSize bytes from RequestData to DestinationAddress with the
// options' time-to-live, type of service and don't-fragment flag (a null RequestOptions sends
// with the system's defaults) and waits up to Timeout ms for its answer. Returns 1 with the
// answer in ReplyBuffer (an error answer from a router is an answer too: its Status tells which),
// or 0 with the last error: IP_REQ_TIMED_OUT, IP_BUF_TOO_SMALL (ReplySize below
// sizeof(ICMP_ECHO_REPLY) + 8), IP_BAD_DESTINATION (0.0.0.0 or 255.255.255.255),
// IP_PACKET_TOO_BIG, IP_BAD_OPTION, ERROR_INVALID_PARAMETER, ERROR_INVALID_HANDLE,
// ERROR_CANCELLED or IP_GENERAL_FAILURE. The answer's data is cut to what fits the buffer.
DWORD IcmpSendEcho(HANDLE icmpHandle, IPAddr DestinationAddress, void* RequestData, unsigned short RequestSize,
                   PIP_OPTION_INFORMATION RequestOptions, void* ReplyBuffer, DWORD ReplySize, DWORD Timeout);

// This system's addition: ends the echo waiting on the handle at once, and every later one on it
// (ERROR_CANCELLED), so a closing window need not wait out a timeout. Safe from any thread while
// the handle is open.
BOOL IcmpCancelEcho(HANDLE icmpHandle);

// IPv6: the same echoes as ICMPv6 with a hop limit, over a raw ICMPv6 socket (or a ping socket,
// or the capture helper's raw socket). The handle is closed and cancelled with the calls above.
//
//   HANDLE icmp = Icmp6CreateFile();
//   sockaddr_in6 from{AF_INET6}, to = ...;  // from: :: lets the system choose
//   char reply[sizeof(ICMPV6_ECHO_REPLY) + 32 + 8];
//   if (Icmp6SendEcho2(icmp, nullptr, nullptr, nullptr, &from, &to, data, 32, &options, reply, sizeof reply, 3000))
//     Icmp6ParseReplies(reply, sizeof reply) ... the reply's Status and Address

// A socket address as an answer carries it: its fields in network order, without the family.
#pragma pack(push, 1)
struct IPV6_ADDRESS_EX {
  unsigned short sin6_port;
  DWORD sin6_flowinfo;
  unsigned short sin6_addr[8];
  DWORD sin6_scope_id;
};
#pragma pack(pop)
static_assert(sizeof(IPV6_ADDRESS_EX) == 26);

// One answer, at the start of the reply buffer; the echoed data follows it.
struct ICMPV6_ECHO_REPLY {
  IPV6_ADDRESS_EX Address;  // who answered: the destination, or the router that sent an error
  DWORD Status;             // IP_SUCCESS, IP_HOP_LIMIT_EXCEEDED, IP_DEST_..._UNREACHABLE, ...
  unsigned int RoundTripTime;  // ms
};
using PICMPV6_ECHO_REPLY = ICMPV6_ECHO_REPLY*;

// The IPv6 names of the status codes the two families share.
constexpr DWORD IP_DEST_NO_ROUTE = IP_DEST_NET_UNREACHABLE;
constexpr DWORD IP_DEST_ADDR_UNREACHABLE = IP_DEST_HOST_UNREACHABLE;
constexpr DWORD IP_DEST_PROHIBITED = IP_DEST_PROT_UNREACHABLE;
constexpr DWORD IP_HOP_LIMIT_EXCEEDED = IP_TTL_EXPIRED_TRANSIT;
constexpr DWORD IP_REASSEMBLY_TIME_EXCEEDED = IP_TTL_EXPIRED_REASSEM;
constexpr DWORD IP_PARAMETER_PROBLEM = IP_PARAM_PROBLEM;
constexpr DWORD IP_DEST_SCOPE_MISMATCH = IP_OPTION_TOO_BIG;

// As IcmpCreateFile, for ICMPv6 echoes.
HANDLE Icmp6CreateFile();

// Sends one ICMPv6 echo request to DestinationAddress with the options' time-to-live as its hop
// limit, from SourceAddress (null or :: lets the system choose), and waits up to Timeout ms. Event
// and ApcRoutine must be null: every call waits for its answer. Returns 1 with the answer in
// ReplyBuffer, or 0 with the last error as IcmpSendEcho gives it (IP_BUF_TOO_SMALL below
// sizeof(ICMPV6_ECHO_REPLY) + 8, IP_BAD_DESTINATION for :: or a multicast address).
DWORD Icmp6SendEcho2(HANDLE IcmpHandle, HANDLE Event, void* ApcRoutine, void* ApcContext, sockaddr_in6* SourceAddress,
                     sockaddr_in6* DestinationAddress, void* RequestData, unsigned short RequestSize,
                     PIP_OPTION_INFORMATION RequestOptions, void* ReplyBuffer, DWORD ReplySize, DWORD Timeout);

// The number of answers in a reply buffer Icmp6SendEcho2 filled: 1 (its Status tells which), or 0
// with ERROR_INVALID_PARAMETER for a buffer too small to hold one.
DWORD Icmp6ParseReplies(void* ReplyBuffer, DWORD ReplySize);

using PIcmpCreateFile = HANDLE (*)();
using PIcmpCloseHandle = BOOL (*)(HANDLE);
using PIcmpSendEcho = DWORD (*)(HANDLE, IPAddr, void*, unsigned short, PIP_OPTION_INFORMATION, void*, DWORD, DWORD);
using PIcmpCancelEcho = BOOL (*)(HANDLE);
using PIcmp6SendEcho2 = DWORD (*)(HANDLE, HANDLE, void*, void*, sockaddr_in6*, sockaddr_in6*, void*, unsigned short,
                                  PIP_OPTION_INFORMATION, void*, DWORD, DWORD);
using PIcmp6ParseReplies = DWORD (*)(void*, DWORD);

// The entry points of "icmp.dll".
LibraryExportTable IcmpExports();

// The endpoint tables and connection teardown of the IP Helper library, from the kernel's
// socket dump and the open files of the processes.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/IpHelper.h"
#include "platform/ProcessHeap.h"
#include "platform/linux/SockDiag.h"
#include "platform/linux/SocketOwners.h"

namespace {

// Kernel TCP states (include/net/tcp_states.h) and the numbers the tables report.
constexpr std::uint8_t kTcpEstablished = 1, kTcpSynSent = 2, kTcpSynRecv = 3, kTcpFinWait1 = 4,
                       kTcpFinWait2 = 5, kTcpTimeWait = 6, kTcpClose = 7, kTcpCloseWait = 8,
                       kTcpLastAck = 9, kTcpListen = 10, kTcpClosing = 11, kTcpNewSynRecv = 12;

// Every state a connection or listener can be in (1..12, the kernel's pending-connection state
// included and shown as "Syn Rcvd"); sockets that are only bound are not endpoints yet.
constexpr std::uint32_t kTcpStates = 0x1FFEu;
// UDP sockets are unconnected (close) or connected (established); both are local endpoints.
constexpr std::uint32_t kUdpStates = ~0u;

// Rows advised on top of the current count in a size answer, for sockets opened before the
// caller comes back with the buffer: a fixed few plus a quarter of the table.
std::size_t WithSlack(std::size_t rows) { return rows + 16 + rows / 4; }

DWORD TableState(std::uint8_t kernelState) {
  switch (kernelState) {
    case kTcpEstablished: return MIB_TCP_STATE_ESTAB;
    case kTcpSynSent: return MIB_TCP_STATE_SYN_SENT;
    case kTcpSynRecv: return MIB_TCP_STATE_SYN_RCVD;
    case kTcpNewSynRecv: return MIB_TCP_STATE_SYN_RCVD;  // a connection still queued on its listener
    case kTcpFinWait1: return MIB_TCP_STATE_FIN_WAIT1;
    case kTcpFinWait2: return MIB_TCP_STATE_FIN_WAIT2;
    case kTcpTimeWait: return MIB_TCP_STATE_TIME_WAIT;
    case kTcpClose: return MIB_TCP_STATE_CLOSED;
    case kTcpCloseWait: return MIB_TCP_STATE_CLOSE_WAIT;
    case kTcpLastAck: return MIB_TCP_STATE_LAST_ACK;
    case kTcpListen: return MIB_TCP_STATE_LISTEN;
    case kTcpClosing: return MIB_TCP_STATE_CLOSING;
    default: return MIB_TCP_STATE_CLOSED;
  }
}

DWORD DumpError(int error) {
  switch (error) {
    case 0: return NO_ERROR;
    case EPROTONOSUPPORT:
    case EAFNOSUPPORT:
    case ENOENT:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ENOMEM:
    case ENOBUFS: return ERROR_NOT_ENOUGH_MEMORY;
    case EPERM:
    case EACCES: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
  }
}

// One endpoint as gathered from the dump, before it becomes a table row.
struct Endpoint {
  DWORD state = 0;
  std::uint32_t localAddr = 0, remoteAddr = 0;
  std::uint16_t localPort = 0, remotePort = 0;
  std::uint32_t inode = 0;
  DWORD processId = 0;
  // IPv6 endpoints.
  std::array<std::uint8_t, 16> localAddr6{}, remoteAddr6{};
  DWORD localScopeId = 0, remoteScopeId = 0;
};

// A link-local address (fe80::/10) means something only with its interface.
DWORD ScopeOf(const std::uint8_t* address, std::uint32_t interface) {
  return address[0] == 0xFE && (address[1] & 0xC0) == 0x80 ? interface : 0;
}

DWORD Collect(int protocol, std::vector<Endpoint>& out, int family = AF_INET) {
  const bool tcp = protocol == IPPROTO_TCP;
  const int error = DumpInetSockets(family, protocol, tcp ? kTcpStates : kUdpStates, [&](const InetSocket& s) {
    Endpoint e;
    e.state = tcp ? TableState(s.state) : 0;
    e.localAddr = s.localAddr;
    e.localPort = s.localPort;
    if (tcp) {
      e.remoteAddr = s.remoteAddr;
      e.remotePort = s.remotePort;
    }
    if (family == AF_INET6) {
      std::memcpy(e.localAddr6.data(), s.localAddr6, 16);
      e.localScopeId = ScopeOf(s.localAddr6, s.interface);
      if (tcp) {
        std::memcpy(e.remoteAddr6.data(), s.remoteAddr6, 16);
        e.remoteScopeId = ScopeOf(s.remoteAddr6, s.interface);
      }
    }
    e.inode = s.inode;
    out.push_back(e);
  });
  return DumpError(error);
}

void AddOwners(std::vector<Endpoint>& endpoints) {
  std::unordered_map<std::uint32_t, std::uint32_t> owners;
  owners.reserve(endpoints.size());
  for (const Endpoint& e : endpoints)
    if (e.inode != 0) owners.emplace(e.inode, 0);
  FindSocketOwners(owners);
  for (Endpoint& e : endpoints)
    if (e.inode != 0) e.processId = owners[e.inode];
}

// Local address, local port, remote address, remote port as numbers, then state and process.
void Sort(std::vector<Endpoint>& endpoints) {
  auto key = [](const Endpoint& e) {
    return std::make_tuple(ntohl(e.localAddr), ntohs(e.localPort), ntohl(e.remoteAddr), ntohs(e.remotePort),
                           e.state, e.processId);
  };
  std::sort(endpoints.begin(), endpoints.end(),
            [&key](const Endpoint& a, const Endpoint& b) { return key(a) < key(b); });
}

// Addresses byte by byte, then scope, ports as numbers, state and process.
void Sort6(std::vector<Endpoint>& endpoints) {
  auto key = [](const Endpoint& e) {
    return std::make_tuple(std::cref(e.localAddr6), e.localScopeId, ntohs(e.localPort), std::cref(e.remoteAddr6),
                           e.remoteScopeId, ntohs(e.remotePort), e.state, e.processId);
  };
  std::sort(endpoints.begin(), endpoints.end(),
            [&key](const Endpoint& a, const Endpoint& b) { return key(a) < key(b); });
}

template <typename Table, typename Row>
constexpr std::size_t TableBytes(std::size_t rows) {
  return std::max(sizeof(Table), offsetof(Table, table) + rows * sizeof(Row));
}

void FillRow(MIB_TCPROW& row, const Endpoint& e) {
  row.dwState = e.state;
  row.dwLocalAddr = e.localAddr;
  row.dwLocalPort = e.localPort;
  row.dwRemoteAddr = e.remoteAddr;
  row.dwRemotePort = e.remotePort;
}
void FillRow(MIB_TCPROW_EX& row, const Endpoint& e) {
  row.dwState = e.state;
  row.dwLocalAddr = e.localAddr;
  row.dwLocalPort = e.localPort;
  row.dwRemoteAddr = e.remoteAddr;
  row.dwRemotePort = e.remotePort;
  row.dwProcessId = e.processId;
}
void FillRow(MIB_UDPROW& row, const Endpoint& e) {
  row.dwLocalAddr = e.localAddr;
  row.dwLocalPort = e.localPort;
}
void FillRow(MIB_UDPROW_EX& row, const Endpoint& e) {
  row.dwLocalAddr = e.localAddr;
  row.dwLocalPort = e.localPort;
  row.dwProcessId = e.processId;
}

void FillRow(MIB_TCP6ROW_OWNER_PID& row, const Endpoint& e) {
  std::memcpy(row.ucLocalAddr, e.localAddr6.data(), 16);
  row.dwLocalScopeId = e.localScopeId;
  row.dwLocalPort = e.localPort;
  std::memcpy(row.ucRemoteAddr, e.remoteAddr6.data(), 16);
  row.dwRemoteScopeId = e.remoteScopeId;
  row.dwRemotePort = e.remotePort;
  row.dwState = e.state;
  row.dwOwningPid = e.processId;
}
void FillRow(MIB_UDP6ROW_OWNER_PID& row, const Endpoint& e) {
  std::memcpy(row.ucLocalAddr, e.localAddr6.data(), 16);
  row.dwLocalScopeId = e.localScopeId;
  row.dwLocalPort = e.localPort;
  row.dwOwningPid = e.processId;
}

// Rows are written through a pointer to the row array's first element, which the block was
// sized for, so the one-element declaration of the array never bounds the walk.
template <typename Table, typename Row>
void Fill(Table* table, const std::vector<Endpoint>& endpoints) {
  table->dwNumEntries = static_cast<DWORD>(endpoints.size());
  Row* rows = table->table;
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    rows[i] = Row{};
    FillRow(rows[i], endpoints[i]);
  }
}

template <typename Table, typename Row>
DWORD GetPlainTable(int protocol, Table* table, DWORD* size, BOOL order) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  std::vector<Endpoint> endpoints;
  if (const DWORD error = Collect(protocol, endpoints)) return error;
  const std::size_t needed = TableBytes<Table, Row>(endpoints.size());
  if (table == nullptr || *size < needed) {
    const std::size_t advised = TableBytes<Table, Row>(WithSlack(endpoints.size()));
    if (advised > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    *size = static_cast<DWORD>(advised);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (order) Sort(endpoints);
  Fill<Table, Row>(table, endpoints);
  return NO_ERROR;
}

template <typename Table, typename Row>
DWORD AllocateAndGetTable(int protocol, void** result, BOOL order, HANDLE heap, DWORD flags, DWORD family) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (family != 2 || heap != GetProcessHeap()) return ERROR_INVALID_PARAMETER;
  std::vector<Endpoint> endpoints;
  if (const DWORD error = Collect(protocol, endpoints)) return error;
  AddOwners(endpoints);
  if (order) Sort(endpoints);
  auto* table = static_cast<Table*>(HeapAlloc(heap, flags, TableBytes<Table, Row>(endpoints.size())));
  if (table == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  Fill<Table, Row>(table, endpoints);
  *result = table;
  return NO_ERROR;
}

template <typename Table, typename Row>
DWORD GetExtendedTable(int protocol, void* buffer, DWORD* size, BOOL order, ULONG family, bool ownerClass,
                       ULONG reserved) {
  if (size == nullptr || reserved != 0) return ERROR_INVALID_PARAMETER;
  if (family != AF_INET6 || !ownerClass) return ERROR_NOT_SUPPORTED;
  std::vector<Endpoint> endpoints;
  if (const DWORD error = Collect(protocol, endpoints, AF_INET6)) return error;
  const std::size_t needed = TableBytes<Table, Row>(endpoints.size());
  if (buffer == nullptr || *size < needed) {
    const std::size_t advised = TableBytes<Table, Row>(WithSlack(endpoints.size()));
    if (advised > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    *size = static_cast<DWORD>(advised);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  AddOwners(endpoints);
  if (order) Sort6(endpoints);
  Fill<Table, Row>(static_cast<Table*>(buffer), endpoints);
  return NO_ERROR;
}

}  // namespace

DWORD GetExtendedTcpTable(void* pTcpTable, DWORD* pdwSize, BOOL bOrder, ULONG ulAf, TCP_TABLE_CLASS TableClass,
                          ULONG Reserved) {
  return GetExtendedTable<MIB_TCP6TABLE_OWNER_PID, MIB_TCP6ROW_OWNER_PID>(
      IPPROTO_TCP, pTcpTable, pdwSize, bOrder, ulAf, TableClass == TCP_TABLE_OWNER_PID_ALL, Reserved);
}

DWORD GetExtendedUdpTable(void* pUdpTable, DWORD* pdwSize, BOOL bOrder, ULONG ulAf, UDP_TABLE_CLASS TableClass,
                          ULONG Reserved) {
  return GetExtendedTable<MIB_UDP6TABLE_OWNER_PID, MIB_UDP6ROW_OWNER_PID>(
      IPPROTO_UDP, pUdpTable, pdwSize, bOrder, ulAf, TableClass == UDP_TABLE_OWNER_PID, Reserved);
}

DWORD GetTcpTable(PMIB_TCPTABLE pTcpTable, DWORD* pdwSize, BOOL bOrder) {
  return GetPlainTable<MIB_TCPTABLE, MIB_TCPROW>(IPPROTO_TCP, pTcpTable, pdwSize, bOrder);
}

DWORD GetUdpTable(PMIB_UDPTABLE pUdpTable, DWORD* pdwSize, BOOL bOrder) {
  return GetPlainTable<MIB_UDPTABLE, MIB_UDPROW>(IPPROTO_UDP, pUdpTable, pdwSize, bOrder);
}

DWORD AllocateAndGetTcpExTableFromStack(void** ppTcpTable, BOOL bOrder, HANDLE hHeap, DWORD dwFlags,
                                        DWORD dwFamily) {
  return AllocateAndGetTable<MIB_TCPTABLE_EX, MIB_TCPROW_EX>(IPPROTO_TCP, ppTcpTable, bOrder, hHeap, dwFlags,
                                                             dwFamily);
}

DWORD AllocateAndGetUdpExTableFromStack(void** ppUdpTable, BOOL bOrder, HANDLE hHeap, DWORD dwFlags,
                                        DWORD dwFamily) {
  return AllocateAndGetTable<MIB_UDPTABLE_EX, MIB_UDPROW_EX>(IPPROTO_UDP, ppUdpTable, bOrder, hHeap, dwFlags,
                                                             dwFamily);
}

namespace {

DWORD DestroyResult(int error) {
  switch (error) {
    case 0: return NO_ERROR;
    case ENOENT: return ERROR_NOT_FOUND;
    case EPERM:
    case EACCES: return ERROR_ACCESS_DENIED;
    case EOPNOTSUPP:
    case EPROTONOSUPPORT: return ERROR_NOT_SUPPORTED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace

DWORD SetTcpEntry(PMIB_TCPROW pTcpRow) {
  if (pTcpRow == nullptr || pTcpRow->dwState != MIB_TCP_STATE_DELETE_TCB) return ERROR_INVALID_PARAMETER;
  return DestroyResult(DestroyTcpSocket(pTcpRow->dwLocalAddr, static_cast<std::uint16_t>(pTcpRow->dwLocalPort),
                                        pTcpRow->dwRemoteAddr, static_cast<std::uint16_t>(pTcpRow->dwRemotePort)));
}

DWORD SetTcpEntry6(const MIB_TCP6ROW* pTcpRow) {
  if (pTcpRow == nullptr || pTcpRow->State != MIB_TCP_STATE_DELETE_TCB) return ERROR_INVALID_PARAMETER;
  return DestroyResult(DestroyTcpSocket6(pTcpRow->LocalAddr, static_cast<std::uint16_t>(pTcpRow->dwLocalPort),
                                         pTcpRow->RemoteAddr, static_cast<std::uint16_t>(pTcpRow->dwRemotePort)));
}

#include "controls/connections/ConnectionTables.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/AddressText.h"

#include "platform/ProcessHeap.h"
#include "platform/TaskAllocator.h"

namespace {

constexpr DWORD kFamilyIpv4 = 2;

DWORD PortOf(DWORD tablePort) { return ntohs(static_cast<std::uint16_t>(tablePort)); }

DWORD MappedAddress(const std::uint8_t* address) {
  DWORD v4 = 0;
  std::memcpy(&v4, address + 12, sizeof v4);
  return v4;
}

// The endpoint of an IPv6 table row: an IPv4 one when its addresses are IPv4-mapped (a remote
// address of :: beside a mapped local one, as a mapped listener has, is IPv4 0.0.0.0).
TableEndpoint EndpointOf6(DWORD state, const UCHAR* local, DWORD localScope, DWORD localPort, const UCHAR* remote,
                          DWORD remoteScope, DWORD remotePort, DWORD processId) {
  static constexpr std::uint8_t kAny[16] = {};
  TableEndpoint e;
  e.state = state;
  e.localPort = PortOf(localPort);
  e.remotePort = PortOf(remotePort);
  e.processId = processId;
  const bool remoteNone = std::memcmp(remote, kAny, 16) == 0;
  if (IsV4Mapped(local) && (remoteNone || IsV4Mapped(remote))) {
    e.localAddr = MappedAddress(local);
    e.remoteAddr = remoteNone ? 0 : MappedAddress(remote);
    return e;
  }
  e.family = AF_INET6;
  std::memcpy(e.localAddr6.data(), local, 16);
  std::memcpy(e.remoteAddr6.data(), remote, 16);
  e.localScopeId = localScope;
  e.remoteScopeId = remoteScope;
  return e;
}

// Fetches an extended IPv6 table into a task allocator block of *room bytes, the room the table
// needed last time (0 at first), which is then its size; a table that has outgrown it is asked
// again with the room advised. Null when it could not be fetched; *missing tells a machine
// without IPv6 from a failure.
template <typename Call, typename Class>
void* FetchExtended(Call call, Class tableClass, DWORD* room, bool* missing) {
  *missing = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    void* table = *room >= 4 ? CoTaskMemAlloc(*room) : nullptr;
    if (*room >= 4 && !table) return nullptr;
    DWORD advised = *room;
    const DWORD result = call(table, &advised, 1, AF_INET6, tableClass, 0);
    if (result == NO_ERROR && table) return table;
    CoTaskMemFree(table);
    if (result == ERROR_NOT_SUPPORTED) *missing = true;
    if (result != ERROR_INSUFFICIENT_BUFFER || advised <= *room) return nullptr;
    *room = advised;
  }
  return nullptr;
}

TableEndpoint EndpointOfRow(const MIB_TCP6ROW_OWNER_PID& r) {
  return EndpointOf6(r.dwState, r.ucLocalAddr, r.dwLocalScopeId, r.dwLocalPort, r.ucRemoteAddr, r.dwRemoteScopeId,
                     r.dwRemotePort, r.dwOwningPid);
}

TableEndpoint EndpointOfRow(const MIB_UDP6ROW_OWNER_PID& r) {
  static constexpr UCHAR kNone[16] = {};
  return EndpointOf6(1, r.ucLocalAddr, r.dwLocalScopeId, r.dwLocalPort, kNone, 0, 0, r.dwOwningPid);
}

// Appends the endpoints of an extended IPv6 table; rows beyond the room fetched are never read.
template <typename Table, typename Call, typename Class>
bool AppendTable6(Call call, Class tableClass, DWORD* room, std::vector<TableEndpoint>* endpoints) {
  if (!call) return true;
  bool missing = false;
  auto* table = static_cast<Table*>(FetchExtended(call, tableClass, room, &missing));
  if (!table) return missing;
  const std::size_t fits = (*room - offsetof(Table, table)) / sizeof table->table[0];
  const std::size_t count = std::min<std::size_t>(table->dwNumEntries, fits);
  endpoints->reserve(endpoints->size() + count);
  for (std::size_t i = 0; i < count; ++i) endpoints->push_back(EndpointOfRow(table->table[i]));
  CoTaskMemFree(table);
  return true;
}

}  // namespace

ConnectionTables::~ConnectionTables() {
  if (m_library) FreeLibrary(m_library);
}

void ConnectionTables::Load() {
  if (m_library) return;
  m_library = LoadLibraryA("iphlpapi.dll");
  if (!m_library) return;
  m_getTcpTable = reinterpret_cast<PGetTcpTable>(GetProcAddress(m_library, "GetTcpTable"));
  m_getUdpTable = reinterpret_cast<PGetUdpTable>(GetProcAddress(m_library, "GetUdpTable"));
  m_allocTcpEx = reinterpret_cast<PAllocateAndGetTcpExTableFromStack>(
      GetProcAddress(m_library, "AllocateAndGetTcpExTableFromStack"));
  m_allocUdpEx = reinterpret_cast<PAllocateAndGetUdpExTableFromStack>(
      GetProcAddress(m_library, "AllocateAndGetUdpExTableFromStack"));
  m_getTcp6 = reinterpret_cast<PGetExtendedTcpTable>(GetProcAddress(m_library, "GetExtendedTcpTable"));
  m_getUdp6 = reinterpret_cast<PGetExtendedUdpTable>(GetProcAddress(m_library, "GetExtendedUdpTable"));
}

bool ConnectionTables::AppendTcp6(std::vector<TableEndpoint>* endpoints) const {
  return AppendTable6<MIB_TCP6TABLE_OWNER_PID>(m_getTcp6, TCP_TABLE_OWNER_PID_ALL, &m_tcp6Room, endpoints);
}

bool ConnectionTables::AppendUdp6(std::vector<TableEndpoint>* endpoints) const {
  return AppendTable6<MIB_UDP6TABLE_OWNER_PID>(m_getUdp6, UDP_TABLE_OWNER_PID, &m_udp6Room, endpoints);
}

bool ConnectionTables::FetchTcp(std::vector<TableEndpoint>* endpoints) const {
  endpoints->clear();
  if (m_allocTcpEx) {
    // The plain table is not tried when the extended call exists but fails.
    void* block = nullptr;
    const DWORD result = m_allocTcpEx(&block, 1, GetProcessHeap(), 0, kFamilyIpv4);
    bool ok = false;
    if (result == NO_ERROR && block) {
      const std::size_t bytes = HeapSize(GetProcessHeap(), 0, block);
      const auto* table = static_cast<const MIB_TCPTABLE_EX*>(block);
      const std::size_t room = bytes >= offsetof(MIB_TCPTABLE_EX, table)
                                   ? (bytes - offsetof(MIB_TCPTABLE_EX, table)) / sizeof(MIB_TCPROW_EX)
                                   : 0;
      if (bytes > 0 && bytes != static_cast<std::size_t>(-1)) {
        const std::size_t count = std::min<std::size_t>(table->dwNumEntries, room);
        const MIB_TCPROW_EX* rows = table->table;
        endpoints->reserve(count);
        for (std::size_t i = 0; i < count; ++i)
          endpoints->push_back(TableEndpoint{rows[i].dwState, rows[i].dwLocalAddr, PortOf(rows[i].dwLocalPort),
                                             rows[i].dwRemoteAddr, PortOf(rows[i].dwRemotePort), rows[i].dwProcessId});
        ok = true;
      }
    }
    if (block) HeapFree(GetProcessHeap(), 0, block);
    return ok;
  }
  if (!m_getTcpTable) return false;
  // Ask for the size, then fetch; a table that grew past the advised room is asked again once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = 0;
    if (m_getTcpTable(nullptr, &size, 1) != ERROR_INSUFFICIENT_BUFFER || size < sizeof(MIB_TCPTABLE)) return false;
    auto* table = static_cast<MIB_TCPTABLE*>(CoTaskMemAlloc(size));
    if (!table) return false;
    const DWORD result = m_getTcpTable(table, &size, 1);
    if (result == NO_ERROR) {
      const std::size_t room = (size - offsetof(MIB_TCPTABLE, table)) / sizeof(MIB_TCPROW);
      const std::size_t count = std::min<std::size_t>(table->dwNumEntries, room);
      const MIB_TCPROW* rows = table->table;
      endpoints->reserve(count);
      for (std::size_t i = 0; i < count; ++i)
        endpoints->push_back(TableEndpoint{rows[i].dwState, rows[i].dwLocalAddr, PortOf(rows[i].dwLocalPort),
                                           rows[i].dwRemoteAddr, PortOf(rows[i].dwRemotePort), 0});
    }
    CoTaskMemFree(table);
    if (result == NO_ERROR) return true;
    if (result != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  return false;
}

bool ConnectionTables::FetchUdp(std::vector<TableEndpoint>* endpoints) const {
  endpoints->clear();
  if (m_allocUdpEx) {
    void* block = nullptr;
    const DWORD result = m_allocUdpEx(&block, 1, GetProcessHeap(), 0, kFamilyIpv4);
    bool ok = false;
    if (result == NO_ERROR && block) {
      const std::size_t bytes = HeapSize(GetProcessHeap(), 0, block);
      const auto* table = static_cast<const MIB_UDPTABLE_EX*>(block);
      const std::size_t room = bytes >= offsetof(MIB_UDPTABLE_EX, table)
                                   ? (bytes - offsetof(MIB_UDPTABLE_EX, table)) / sizeof(MIB_UDPROW_EX)
                                   : 0;
      if (bytes > 0 && bytes != static_cast<std::size_t>(-1)) {
        const std::size_t count = std::min<std::size_t>(table->dwNumEntries, room);
        const MIB_UDPROW_EX* rows = table->table;
        endpoints->reserve(count);
        for (std::size_t i = 0; i < count; ++i)
          endpoints->push_back(
              TableEndpoint{1, rows[i].dwLocalAddr, PortOf(rows[i].dwLocalPort), 0, 0, rows[i].dwProcessId});
        ok = true;
      }
    }
    if (block) HeapFree(GetProcessHeap(), 0, block);
    return ok;
  }
  if (!m_getUdpTable) return false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD size = 0;
    if (m_getUdpTable(nullptr, &size, 1) != ERROR_INSUFFICIENT_BUFFER || size < sizeof(MIB_UDPTABLE)) return false;
    auto* table = static_cast<MIB_UDPTABLE*>(CoTaskMemAlloc(size));
    if (!table) return false;
    const DWORD result = m_getUdpTable(table, &size, 1);
    if (result == NO_ERROR) {
      const std::size_t room = (size - offsetof(MIB_UDPTABLE, table)) / sizeof(MIB_UDPROW);
      const std::size_t count = std::min<std::size_t>(table->dwNumEntries, room);
      const MIB_UDPROW* rows = table->table;
      endpoints->reserve(count);
      for (std::size_t i = 0; i < count; ++i)
        endpoints->push_back(TableEndpoint{1, rows[i].dwLocalAddr, PortOf(rows[i].dwLocalPort), 0, 0, 0});
    }
    CoTaskMemFree(table);
    if (result == NO_ERROR) return true;
    if (result != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  return false;
}

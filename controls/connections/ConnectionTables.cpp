#include "controls/connections/ConnectionTables.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/ProcessHeap.h"
#include "platform/TaskAllocator.h"

namespace {

constexpr DWORD kFamilyIpv4 = 2;

DWORD PortOf(DWORD tablePort) { return ntohs(static_cast<std::uint16_t>(tablePort)); }

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

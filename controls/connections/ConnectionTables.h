#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "common/WinTypes.h"
#include "platform/DynamicLibrary.h"
#include "platform/IpHelper.h"

// One endpoint of the machine's tables, ports in host order; UDP endpoints have no remote pair
// and state 1. The process id is 0 when the plain tables had to be used. IPv6 endpoints (family
// AF_INET6) have their addresses in the 16-byte fields and 0 in the 32-bit ones.
struct TableEndpoint {
  DWORD state = 0;
  DWORD localAddr = 0;
  DWORD localPort = 0;
  DWORD remoteAddr = 0;
  DWORD remotePort = 0;
  DWORD processId = 0;
  DWORD family = 0;  // AF_INET6, or anything else for IPv4
  std::array<std::uint8_t, 16> localAddr6{};
  DWORD localScopeId = 0;
  std::array<std::uint8_t, 16> remoteAddr6{};
  DWORD remoteScopeId = 0;
};

// The machine's TCP and UDP endpoint tables from the IP helper library, loaded at run time:
// the extended tables (with owning process ids) when their entry points exist, otherwise the
// plain ones. The connections scanner and the firewall's process list both read them here.
class ConnectionTables {
 public:
  ConnectionTables() = default;
  ~ConnectionTables();
  ConnectionTables(const ConnectionTables&) = delete;
  ConnectionTables& operator=(const ConnectionTables&) = delete;

  // Loads "iphlpapi.dll" and looks its table calls up by name; a call that is missing is skipped.
  void Load();

  // The IPv4 tables. False when the table could not be fetched; endpoints then holds nothing.
  bool FetchTcp(std::vector<TableEndpoint>* endpoints) const;
  bool FetchUdp(std::vector<TableEndpoint>* endpoints) const;
  // Appends the IPv6 endpoints, with the owning process ids. A socket on IPv4-mapped addresses
  // (::ffff:a.b.c.d) is appended as the IPv4 endpoint it serves. True, appending nothing, when
  // the call is missing or the machine has no IPv6; false when the table could not be fetched.
  bool AppendTcp6(std::vector<TableEndpoint>* endpoints) const;
  bool AppendUdp6(std::vector<TableEndpoint>* endpoints) const;

  bool HasExtendedTcp() const { return m_allocTcpEx != nullptr; }
  bool HasExtendedUdp() const { return m_allocUdpEx != nullptr; }

 private:
  HMODULE m_library = nullptr;
  PGetTcpTable m_getTcpTable = nullptr;
  PGetUdpTable m_getUdpTable = nullptr;
  PAllocateAndGetTcpExTableFromStack m_allocTcpEx = nullptr;
  PAllocateAndGetUdpExTableFromStack m_allocUdpEx = nullptr;
  PGetExtendedTcpTable m_getTcp6 = nullptr;
  PGetExtendedUdpTable m_getUdp6 = nullptr;
  // Bytes the IPv6 tables took last time: the next fetch starts with that room.
  mutable DWORD m_tcp6Room = 0;
  mutable DWORD m_udp6Room = 0;
};

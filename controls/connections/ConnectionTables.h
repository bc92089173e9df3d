#pragma once
#include <vector>

#include "common/WinTypes.h"
#include "platform/DynamicLibrary.h"
#include "platform/IpHelper.h"

// One endpoint of the machine's tables, ports in host order; UDP endpoints have no remote pair
// and state 1. The process id is 0 when the plain tables had to be used.
struct TableEndpoint {
  DWORD state = 0;
  DWORD localAddr = 0;
  DWORD localPort = 0;
  DWORD remoteAddr = 0;
  DWORD remotePort = 0;
  DWORD processId = 0;
};

// The machine's IPv4 TCP and UDP endpoint tables from the IP helper library, loaded at run time:
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

  // False when the table could not be fetched; endpoints then holds nothing.
  bool FetchTcp(std::vector<TableEndpoint>* endpoints) const;
  bool FetchUdp(std::vector<TableEndpoint>* endpoints) const;

  bool HasExtendedTcp() const { return m_allocTcpEx != nullptr; }
  bool HasExtendedUdp() const { return m_allocUdpEx != nullptr; }

 private:
  HMODULE m_library = nullptr;
  PGetTcpTable m_getTcpTable = nullptr;
  PGetUdpTable m_getUdpTable = nullptr;
  PAllocateAndGetTcpExTableFromStack m_allocTcpEx = nullptr;
  PAllocateAndGetUdpExTableFromStack m_allocUdpEx = nullptr;
};

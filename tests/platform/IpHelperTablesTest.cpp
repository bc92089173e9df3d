#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "LoopbackSockets.h"
#include "platform/IpHelper.h"
#include "platform/ProcessHeap.h"

namespace {

const DWORD kOurPid = static_cast<DWORD>(::getpid());

std::uint16_t Port(DWORD field) { return ntohs(static_cast<std::uint16_t>(field)); }

bool Is(const MIB_TCPROW_EX& r, const sockaddr_in& local, const sockaddr_in& remote) {
  return r.dwLocalAddr == local.sin_addr.s_addr && Port(r.dwLocalPort) == ntohs(local.sin_port) &&
         r.dwRemoteAddr == remote.sin_addr.s_addr && Port(r.dwRemotePort) == ntohs(remote.sin_port);
}

// The calls as the connection scanner reaches them: through the library, by name.
class IpHelperTables : public ::testing::Test {
 protected:
  void SetUp() override {
    m_library = LoadLibraryA("iphlpapi.dll");
    ASSERT_NE(m_library, nullptr);
    getTcpTable = reinterpret_cast<PGetTcpTable>(GetProcAddress(m_library, "GetTcpTable"));
    getUdpTable = reinterpret_cast<PGetUdpTable>(GetProcAddress(m_library, "GetUdpTable"));
    getTcpEx = reinterpret_cast<PAllocateAndGetTcpExTableFromStack>(
        GetProcAddress(m_library, "AllocateAndGetTcpExTableFromStack"));
    getUdpEx = reinterpret_cast<PAllocateAndGetUdpExTableFromStack>(
        GetProcAddress(m_library, "AllocateAndGetUdpExTableFromStack"));
    setTcpEntry = reinterpret_cast<PSetTcpEntry>(GetProcAddress(m_library, "SetTcpEntry"));
    ASSERT_TRUE(getTcpTable && getUdpTable && getTcpEx && getUdpEx && setTcpEntry);
  }
  void TearDown() override { FreeLibrary(m_library); }

  // The extended table's rows, walked as callers walk them (table->table[i]).
  template <typename Table, typename Row>
  std::vector<Row> Extended(PAllocateAndGetTcpExTableFromStack call) {
    void* block = nullptr;
    EXPECT_EQ(call(&block, 1, GetProcessHeap(), 0, 2), NO_ERROR);
    std::vector<Row> rows;
    if (block == nullptr) return rows;
    auto* table = static_cast<Table*>(block);
    EXPECT_GE(HeapSize(GetProcessHeap(), 0, block), offsetof(Table, table) + table->dwNumEntries * sizeof(Row));
    for (DWORD i = 0; i < table->dwNumEntries; ++i) rows.push_back(table->table[i]);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
    return rows;
  }
  std::vector<MIB_TCPROW_EX> TcpEx() { return Extended<MIB_TCPTABLE_EX, MIB_TCPROW_EX>(getTcpEx); }
  std::vector<MIB_UDPROW_EX> UdpEx() { return Extended<MIB_UDPTABLE_EX, MIB_UDPROW_EX>(getUdpEx); }

  std::vector<MIB_TCPROW_EX> Rows(const sockaddr_in& local, const sockaddr_in& remote) {
    std::vector<MIB_TCPROW_EX> found;
    for (const auto& r : TcpEx())
      if (Is(r, local, remote)) found.push_back(r);
    return found;
  }

  HMODULE m_library = nullptr;
  PGetTcpTable getTcpTable = nullptr;
  PGetUdpTable getUdpTable = nullptr;
  PAllocateAndGetTcpExTableFromStack getTcpEx = nullptr;
  PAllocateAndGetUdpExTableFromStack getUdpEx = nullptr;
  PSetTcpEntry setTcpEntry = nullptr;
};

TEST_F(IpHelperTables, ListenerAndConnectionsAppearWithOurProcessStatesAndOrder) {
  Fd listener = TcpListener();
  ASSERT_TRUE(listener);
  std::vector<TcpPair> pairs;
  for (int i = 0; i < 4; ++i) pairs.push_back(ConnectTo(listener.get()));
  ASSERT_TRUE(pairs[0].client && pairs[0].server);
  const sockaddr_in listenAt = LocalOf(listener.get());
  const sockaddr_in client = LocalOf(pairs[0].client.get());
  const sockaddr_in server = LocalOf(pairs[0].server.get());

  const auto rows = TcpEx();
  int listening = 0, clientSide = 0, serverSide = 0;
  for (const auto& r : rows) {
    if (Is(r, listenAt, sockaddr_in{})) {
      ++listening;
      EXPECT_EQ(r.dwState, MIB_TCP_STATE_LISTEN);
      EXPECT_EQ(r.dwProcessId, kOurPid);
      EXPECT_EQ(r.dwLocalPort >> 16, 0u) << "the upper half of a port field is zero";
    }
    // Both ends of one connection: mirror images of each other.
    const bool isClient = Is(r, client, server), isServer = Is(r, server, client);
    clientSide += isClient;
    serverSide += isServer;
    if (isClient || isServer) {
      EXPECT_EQ(r.dwState, MIB_TCP_STATE_ESTAB);
      EXPECT_EQ(r.dwProcessId, kOurPid);
    }
  }
  EXPECT_EQ(listening, 1);
  EXPECT_EQ(clientSide, 1);
  EXPECT_EQ(serverSide, 1);
  EXPECT_EQ(ntohs(server.sin_port), ntohs(listenAt.sin_port));

  // Sorted: local address, local port, remote address, remote port, each as a number.
  auto key = [](const MIB_TCPROW_EX& r) {
    return std::make_tuple(ntohl(r.dwLocalAddr), Port(r.dwLocalPort), ntohl(r.dwRemoteAddr), Port(r.dwRemotePort));
  };
  ASSERT_GE(rows.size(), 9u);
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LE(key(rows[i - 1]), key(rows[i])) << "row " << i;
}

TEST_F(IpHelperTables, ClosedConnectionLeavesAtMostTimeWaitWithoutProcess) {
  Fd listener = TcpListener();
  TcpPair pair = ConnectTo(listener.get());
  ASSERT_TRUE(pair.client && pair.server);
  const sockaddr_in listenAt = LocalOf(listener.get());
  const sockaddr_in client = LocalOf(pair.client.get());
  const sockaddr_in server = LocalOf(pair.server.get());
  pair.client.Close();
  pair.server.Close();
  listener.Close();

  // Loopback finishes the closing handshake at once; allow it a moment all the same.
  std::vector<MIB_TCPROW_EX> left;
  for (int attempt = 0; attempt < 100; ++attempt) {
    left.clear();
    for (const auto& r : TcpEx())
      if (Is(r, listenAt, sockaddr_in{}) || Is(r, client, server) || Is(r, server, client)) left.push_back(r);
    if (std::all_of(left.begin(), left.end(), [](const auto& r) { return r.dwState == MIB_TCP_STATE_TIME_WAIT; }))
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LE(left.size(), 1u) << "only the side that closed first waits";
  for (const auto& r : left) {
    EXPECT_EQ(r.dwState, MIB_TCP_STATE_TIME_WAIT);
    EXPECT_EQ(r.dwProcessId, 0u) << "no process holds a connection in TIME_WAIT";
  }
}

TEST_F(IpHelperTables, UdpSocketsAreLocalEndpointsWhetherConnectedOrNot) {
  Fd bound = UdpSocket();
  Fd connected = UdpSocket();
  ASSERT_TRUE(bound && connected);
  sockaddr_in target = LocalOf(bound.get());
  ASSERT_EQ(::connect(connected.get(), reinterpret_cast<sockaddr*>(&target), sizeof target), 0);

  DWORD size = 0;
  ASSERT_EQ(getUdpTable(nullptr, &size, 1), ERROR_INSUFFICIENT_BUFFER);
  std::vector<char> buffer(size);
  ASSERT_EQ(getUdpTable(reinterpret_cast<MIB_UDPTABLE*>(buffer.data()), &size, 1), NO_ERROR);
  const auto* plain = reinterpret_cast<const MIB_UDPTABLE*>(buffer.data());
  const auto extended = UdpEx();
  for (const int fd : {bound.get(), connected.get()}) {
    const sockaddr_in local = LocalOf(fd);
    int inExtended = 0, inPlain = 0;
    for (const auto& r : extended) {
      if (r.dwLocalAddr == local.sin_addr.s_addr && r.dwLocalPort == local.sin_port) {
        ++inExtended;
        EXPECT_EQ(r.dwProcessId, kOurPid);
      }
    }
    for (DWORD i = 0; i < plain->dwNumEntries; ++i)
      inPlain += plain->table[i].dwLocalAddr == local.sin_addr.s_addr && plain->table[i].dwLocalPort == local.sin_port;
    EXPECT_EQ(inExtended, 1) << "port " << ntohs(local.sin_port);
    EXPECT_EQ(inPlain, 1) << "port " << ntohs(local.sin_port);
  }

  const sockaddr_in gone = LocalOf(bound.get());
  bound.Close();
  for (const auto& r : UdpEx())
    EXPECT_FALSE(r.dwLocalAddr == gone.sin_addr.s_addr && r.dwLocalPort == gone.sin_port) << "closed socket listed";
}

TEST_F(IpHelperTables, PlainTableAnswersSizeQueriesAndRefusesShortBuffers) {
  Fd listener = TcpListener();
  ASSERT_TRUE(listener);

  DWORD size = 0;
  EXPECT_EQ(getTcpTable(nullptr, nullptr, 1), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(getTcpTable(nullptr, &size, 1), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GE(size, sizeof(MIB_TCPTABLE));

  // A buffer with room for the count only is refused untouched, and the answer names the size.
  std::vector<char> small(sizeof(DWORD) + 3, 0x5A);
  DWORD smallSize = static_cast<DWORD>(small.size());
  EXPECT_EQ(getTcpTable(reinterpret_cast<MIB_TCPTABLE*>(small.data()), &smallSize, 1), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_GT(smallSize, small.size());
  EXPECT_EQ(std::count(small.begin(), small.end(), 0x5A), static_cast<long>(small.size()));

  // The advised size fills, unless sockets opened meanwhile (other programs) outgrew it; then
  // the answer is a larger size. Nothing is written past the size given.
  std::vector<char> buffer;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 20 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.assign(size + 1, 0);
    DWORD given = size;
    result = getTcpTable(reinterpret_cast<MIB_TCPTABLE*>(buffer.data()), &given, 1);
    EXPECT_EQ(buffer[size], 0);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
      EXPECT_GT(given, size);
    }
    size = given;
  }
  ASSERT_EQ(result, NO_ERROR);
  const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
  ASSERT_LE(offsetof(MIB_TCPTABLE, table) + table->dwNumEntries * sizeof(MIB_TCPROW), size);
  const sockaddr_in local = LocalOf(listener.get());
  int found = 0;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW& r = table->table[i];
    if (r.dwLocalAddr == local.sin_addr.s_addr && r.dwLocalPort == local.sin_port) {
      ++found;
      EXPECT_EQ(r.dwState, MIB_TCP_STATE_LISTEN);
      EXPECT_EQ(r.dwRemoteAddr | r.dwRemotePort, 0u);
    }
  }
  EXPECT_EQ(found, 1);
}

TEST_F(IpHelperTables, ExtendedCallsCheckTheirArguments) {
  void* block = reinterpret_cast<void*>(1);
  EXPECT_EQ(getTcpEx(nullptr, 1, GetProcessHeap(), 0, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(getTcpEx(&block, 1, GetProcessHeap(), 0, 23), ERROR_INVALID_PARAMETER) << "IPv6 is not offered";
  EXPECT_EQ(block, nullptr) << "the result is cleared on failure";
  int notAHeap = 0;
  EXPECT_EQ(getUdpEx(&block, 1, &notAHeap, 0, 2), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(getUdpEx(&block, 0, GetProcessHeap(), HEAP_ZERO_MEMORY, 2), NO_ERROR);
  EXPECT_GE(HeapSize(GetProcessHeap(), 0, block), sizeof(MIB_UDPTABLE_EX)) << "even an empty table is a whole record";
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
}

TEST_F(IpHelperTables, SetTcpEntryDeleteTearsDownAnEstablishedConnection) {
  Fd listener = TcpListener();
  TcpPair pair = ConnectTo(listener.get());
  ASSERT_TRUE(pair.client && pair.server);
  const sockaddr_in client = LocalOf(pair.client.get());
  const sockaddr_in server = LocalOf(pair.server.get());

  MIB_TCPROW row{MIB_TCP_STATE_ESTAB, client.sin_addr.s_addr, client.sin_port, server.sin_addr.s_addr,
                 server.sin_port};
  EXPECT_EQ(setTcpEntry(&row), ERROR_INVALID_PARAMETER) << "only the delete state may be set";
  EXPECT_EQ(setTcpEntry(nullptr), ERROR_INVALID_PARAMETER);

  row.dwState = MIB_TCP_STATE_DELETE_TCB;
  const DWORD result = setTcpEntry(&row);
  if (result == ERROR_NOT_SUPPORTED)
    GTEST_SKIP() << "this kernel was built without socket destruction (CONFIG_INET_DIAG_DESTROY)";
  if (result == ERROR_ACCESS_DENIED) GTEST_SKIP() << "tearing connections down needs CAP_NET_ADMIN";
  ASSERT_EQ(result, NO_ERROR);

  // The peer sees a reset (or end of stream), the local side an error; both rows are gone.
  ASSERT_TRUE(WaitReadable(pair.server.get(), 5000));
  char byte = 0;
  EXPECT_LE(::recv(pair.server.get(), &byte, 1, 0), 0);
  EXPECT_LT(::send(pair.client.get(), "x", 1, MSG_NOSIGNAL), 0);
  EXPECT_TRUE(Rows(client, server).empty());
  EXPECT_TRUE(Rows(server, client).empty());
  EXPECT_EQ(setTcpEntry(&row), ERROR_NOT_FOUND);
}

}  // namespace

TEST_F(IpHelperTables, Ipv6ExtendedTablesAnswerSizesAndCarryAddressesPortsStatesAndOwners) {
  auto tcp6 = reinterpret_cast<PGetExtendedTcpTable>(GetProcAddress(m_library, "GetExtendedTcpTable"));
  auto udp6 = reinterpret_cast<PGetExtendedUdpTable>(GetProcAddress(m_library, "GetExtendedUdpTable"));
  ASSERT_TRUE(tcp6 && udp6);
  DWORD size = 0;
  EXPECT_EQ(tcp6(nullptr, nullptr, 1, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(tcp6(nullptr, &size, 1, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(tcp6(nullptr, &size, 1, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(udp6(nullptr, &size, 1, AF_INET6, UDP_TABLE_BASIC, 0), ERROR_NOT_SUPPORTED);

  const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(listener);
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int client = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  const int udp = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << "the port is free for UDP";

  size = 0;
  ASSERT_EQ(tcp6(nullptr, &size, 1, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0), ERROR_INSUFFICIENT_BUFFER);
  std::vector<unsigned char> small(sizeof(MIB_TCP6TABLE_OWNER_PID));
  DWORD smallSize = static_cast<DWORD>(small.size());
  EXPECT_EQ(tcp6(small.data(), &smallSize, 1, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0), ERROR_INSUFFICIENT_BUFFER);
  std::vector<unsigned char> buffer(size);
  ASSERT_EQ(tcp6(buffer.data(), &size, 1, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0), NO_ERROR);
  const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buffer.data());
  const std::uint16_t port = ntohs(address.sin6_port);
  std::vector<std::tuple<std::uint16_t, std::uint16_t, DWORD>> ours;  // local port, remote port, state
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCP6ROW_OWNER_PID& r = table->table[i];
    if (std::memcmp(r.ucLocalAddr, &in6addr_loopback, 16) != 0) continue;
    if (Port(r.dwLocalPort) != port && Port(r.dwRemotePort) != port) continue;
    EXPECT_EQ(r.dwOwningPid, kOurPid);
    EXPECT_EQ(r.dwLocalScopeId, 0u);
    ours.emplace_back(Port(r.dwLocalPort), Port(r.dwRemotePort), r.dwState);
    if (i > 0) {
      EXPECT_LE(std::memcmp(table->table[i - 1].ucLocalAddr, r.ucLocalAddr, 16), 0) << "sorted";
    }
  }
  sockaddr_in6 clientAddress{};
  length = sizeof clientAddress;
  ::getsockname(client, reinterpret_cast<sockaddr*>(&clientAddress), &length);
  const std::uint16_t clientPort = ntohs(clientAddress.sin6_port);
  std::vector<std::tuple<std::uint16_t, std::uint16_t, DWORD>> expected = {
      {port, 0, MIB_TCP_STATE_LISTEN}, {port, clientPort, MIB_TCP_STATE_ESTAB}, {clientPort, port, MIB_TCP_STATE_ESTAB}};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ours, expected);

  size = 0;
  ASSERT_EQ(udp6(nullptr, &size, 1, AF_INET6, UDP_TABLE_OWNER_PID, 0), ERROR_INSUFFICIENT_BUFFER);
  buffer.assign(size, 0);
  ASSERT_EQ(udp6(buffer.data(), &size, 1, AF_INET6, UDP_TABLE_OWNER_PID, 0), NO_ERROR);
  const auto* udpTable = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(buffer.data());
  int found = 0;
  for (DWORD i = 0; i < udpTable->dwNumEntries; ++i) {
    const MIB_UDP6ROW_OWNER_PID& r = udpTable->table[i];
    if (Port(r.dwLocalPort) != port || std::memcmp(r.ucLocalAddr, &in6addr_loopback, 16) != 0) continue;
    EXPECT_EQ(r.dwOwningPid, kOurPid);
    ++found;
  }
  EXPECT_EQ(found, 1);
  for (int fd : {listener, client, server, udp}) ::close(fd);
}

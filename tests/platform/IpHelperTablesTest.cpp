#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "LoopbackSockets.h"
#include "platform/IpHelper.h"
#include "platform/ProcessHeap.h"

namespace {

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

  std::vector<MIB_TCPROW_EX> TcpEx(BOOL order = 1) {
    void* block = nullptr;
    EXPECT_EQ(getTcpEx(&block, order, GetProcessHeap(), 0, 2), NO_ERROR);
    std::vector<MIB_TCPROW_EX> rows;
    if (block == nullptr) return rows;
    auto* table = static_cast<MIB_TCPTABLE_EX*>(block);
    EXPECT_GE(HeapSize(GetProcessHeap(), 0, block),
              offsetof(MIB_TCPTABLE_EX, table) + table->dwNumEntries * sizeof(MIB_TCPROW_EX));
    for (DWORD i = 0; i < table->dwNumEntries; ++i) rows.push_back(table->table[i]);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
    return rows;
  }
  std::vector<MIB_UDPROW_EX> UdpEx() {
    void* block = nullptr;
    EXPECT_EQ(getUdpEx(&block, 1, GetProcessHeap(), 0, 2), NO_ERROR);
    std::vector<MIB_UDPROW_EX> rows;
    if (block == nullptr) return rows;
    auto* table = static_cast<MIB_UDPTABLE_EX*>(block);
    for (DWORD i = 0; i < table->dwNumEntries; ++i) rows.push_back(table->table[i]);
    HeapFree(GetProcessHeap(), 0, block);
    return rows;
  }
  // Rows with these endpoints (as the socket layer reports them).
  static std::vector<MIB_TCPROW_EX> Matching(const std::vector<MIB_TCPROW_EX>& rows, const sockaddr_in& local,
                                             const sockaddr_in& remote) {
    std::vector<MIB_TCPROW_EX> found;
    for (const auto& r : rows)
      if (r.dwLocalAddr == local.sin_addr.s_addr && ntohs(static_cast<std::uint16_t>(r.dwLocalPort)) == ntohs(local.sin_port) &&
          r.dwRemoteAddr == remote.sin_addr.s_addr &&
          ntohs(static_cast<std::uint16_t>(r.dwRemotePort)) == ntohs(remote.sin_port))
        found.push_back(r);
    return found;
  }
  static sockaddr_in PeerOf(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return a;
  }

  HMODULE m_library = nullptr;
  PGetTcpTable getTcpTable = nullptr;
  PGetUdpTable getUdpTable = nullptr;
  PAllocateAndGetTcpExTableFromStack getTcpEx = nullptr;
  PAllocateAndGetUdpExTableFromStack getUdpEx = nullptr;
  PSetTcpEntry setTcpEntry = nullptr;
};

const DWORD kOurPid = static_cast<DWORD>(::getpid());

TEST_F(IpHelperTables, ListenerAndConnectedPairAppearWithOurProcessAndTheirStates) {
  Fd listener = TcpListener();
  ASSERT_TRUE(listener);
  TcpPair pair = ConnectTo(listener.get());
  ASSERT_TRUE(pair.client && pair.server);
  const sockaddr_in listenAt = LocalOf(listener.get());
  const sockaddr_in client = LocalOf(pair.client.get());
  const sockaddr_in server = LocalOf(pair.server.get());

  const auto rows = TcpEx();
  const auto listening = Matching(rows, listenAt, sockaddr_in{});
  ASSERT_EQ(listening.size(), 1u);
  EXPECT_EQ(listening[0].dwState, MIB_TCP_STATE_LISTEN);
  EXPECT_EQ(listening[0].dwProcessId, kOurPid);
  EXPECT_EQ(listening[0].dwLocalPort >> 16, 0u) << "the upper half of a port field is zero";

  const auto clientSide = Matching(rows, client, PeerOf(pair.client.get()));
  const auto serverSide = Matching(rows, server, PeerOf(pair.server.get()));
  ASSERT_EQ(clientSide.size(), 1u);
  ASSERT_EQ(serverSide.size(), 1u);
  for (const auto& row : {clientSide[0], serverSide[0]}) {
    EXPECT_EQ(row.dwState, MIB_TCP_STATE_ESTAB);
    EXPECT_EQ(row.dwProcessId, kOurPid);
  }
  // The two rows are mirror images of one connection.
  EXPECT_EQ(clientSide[0].dwLocalAddr, serverSide[0].dwRemoteAddr);
  EXPECT_EQ(clientSide[0].dwLocalPort, serverSide[0].dwRemotePort);
  EXPECT_EQ(clientSide[0].dwRemotePort, serverSide[0].dwLocalPort);
  EXPECT_EQ(ntohs(static_cast<std::uint16_t>(serverSide[0].dwLocalPort)), ntohs(listenAt.sin_port));
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
    const auto rows = TcpEx();
    left = Matching(rows, listenAt, sockaddr_in{});
    for (const auto& r : Matching(rows, client, server)) left.push_back(r);
    for (const auto& r : Matching(rows, server, client)) left.push_back(r);
    bool settled = true;
    for (const auto& r : left) settled = settled && r.dwState == MIB_TCP_STATE_TIME_WAIT;
    if (settled) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (const auto& r : left) {
    EXPECT_EQ(r.dwState, MIB_TCP_STATE_TIME_WAIT);
    EXPECT_EQ(r.dwProcessId, 0u) << "no process holds a connection in TIME_WAIT";
  }
  EXPECT_LE(left.size(), 1u) << "only the side that closed first waits";
}

TEST_F(IpHelperTables, UdpSocketsAreLocalEndpointsWhetherConnectedOrNot) {
  Fd bound = UdpSocket();
  Fd connected = UdpSocket();
  ASSERT_TRUE(bound && connected);
  sockaddr_in target = LocalOf(bound.get());
  ASSERT_EQ(::connect(connected.get(), reinterpret_cast<sockaddr*>(&target), sizeof target), 0);

  const auto rows = UdpEx();
  for (const int fd : {bound.get(), connected.get()}) {
    const sockaddr_in local = LocalOf(fd);
    int found = 0;
    for (const auto& r : rows) {
      if (r.dwLocalAddr == local.sin_addr.s_addr && r.dwLocalPort == local.sin_port) {
        ++found;
        EXPECT_EQ(r.dwProcessId, kOurPid);
      }
    }
    EXPECT_EQ(found, 1) << "port " << ntohs(local.sin_port);
  }

  // The plain table has the same endpoints.
  DWORD size = 0;
  ASSERT_EQ(getUdpTable(nullptr, &size, 1), ERROR_INSUFFICIENT_BUFFER);
  std::vector<char> buffer(size);
  ASSERT_EQ(getUdpTable(reinterpret_cast<MIB_UDPTABLE*>(buffer.data()), &size, 1), NO_ERROR);
  const auto* table = reinterpret_cast<const MIB_UDPTABLE*>(buffer.data());
  const sockaddr_in local = LocalOf(bound.get());
  bool found = false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i)
    found = found || (table->table[i].dwLocalAddr == local.sin_addr.s_addr &&
                      table->table[i].dwLocalPort == local.sin_port);
  EXPECT_TRUE(found);

  bound.Close();
  const sockaddr_in gone = local;
  for (const auto& r : UdpEx())
    EXPECT_FALSE(r.dwLocalAddr == gone.sin_addr.s_addr && r.dwLocalPort == gone.sin_port) << "closed socket still listed";
}

TEST_F(IpHelperTables, PlainTableAnswersSizeQueriesAndRefusesShortBuffers) {
  Fd listener = TcpListener();
  ASSERT_TRUE(listener);

  DWORD size = 0;
  EXPECT_EQ(getTcpTable(nullptr, nullptr, 1), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(getTcpTable(nullptr, &size, 1), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GE(size, sizeof(MIB_TCPTABLE));

  // A buffer with room for the count only is refused, and the answer names the size needed.
  std::vector<char> small(sizeof(DWORD) + 3, 0x5A);
  DWORD smallSize = static_cast<DWORD>(small.size());
  EXPECT_EQ(getTcpTable(reinterpret_cast<MIB_TCPTABLE*>(small.data()), &smallSize, 1), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_GT(smallSize, small.size());
  for (char c : small) EXPECT_EQ(c, 0x5A) << "nothing is written into a buffer that is too small";

  // The advised size fills, with room to spare for sockets opened meanwhile.
  std::vector<char> buffer(size + 1, 0);
  DWORD given = size;
  ASSERT_EQ(getTcpTable(reinterpret_cast<MIB_TCPTABLE*>(buffer.data()), &given, 1), NO_ERROR);
  const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
  ASSERT_LE(offsetof(MIB_TCPTABLE, table) + table->dwNumEntries * sizeof(MIB_TCPROW), size);
  const sockaddr_in local = LocalOf(listener.get());
  bool found = false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW& r = table->table[i];
    if (r.dwLocalAddr == local.sin_addr.s_addr && r.dwLocalPort == local.sin_port) {
      found = true;
      EXPECT_EQ(r.dwState, MIB_TCP_STATE_LISTEN);
      EXPECT_EQ(r.dwRemoteAddr, 0u);
      EXPECT_EQ(r.dwRemotePort, 0u);
    }
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(buffer[size], 0) << "nothing written past the size given";
}

TEST_F(IpHelperTables, SortedTablesAreInAddressAndPortOrder) {
  // Several listeners and connections so there is something to order.
  Fd listener = TcpListener();
  std::vector<TcpPair> pairs;
  for (int i = 0; i < 5; ++i) pairs.push_back(ConnectTo(listener.get()));

  auto key = [](const MIB_TCPROW_EX& r) {
    return std::make_tuple(ntohl(r.dwLocalAddr), ntohs(static_cast<std::uint16_t>(r.dwLocalPort)),
                           ntohl(r.dwRemoteAddr), ntohs(static_cast<std::uint16_t>(r.dwRemotePort)));
  };
  const auto rows = TcpEx(1);
  ASSERT_GE(rows.size(), 11u);
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LE(key(rows[i - 1]), key(rows[i])) << "row " << i;

  DWORD size = 0;
  getTcpTable(nullptr, &size, 1);
  std::vector<char> buffer(size);
  ASSERT_EQ(getTcpTable(reinterpret_cast<MIB_TCPTABLE*>(buffer.data()), &size, 1), NO_ERROR);
  const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
  for (DWORD i = 1; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW& a = table->table[i - 1];
    const MIB_TCPROW& b = table->table[i];
    EXPECT_LE(std::make_tuple(ntohl(a.dwLocalAddr), ntohs(static_cast<std::uint16_t>(a.dwLocalPort)),
                              ntohl(a.dwRemoteAddr), ntohs(static_cast<std::uint16_t>(a.dwRemotePort))),
              std::make_tuple(ntohl(b.dwLocalAddr), ntohs(static_cast<std::uint16_t>(b.dwLocalPort)),
                              ntohl(b.dwRemoteAddr), ntohs(static_cast<std::uint16_t>(b.dwRemotePort))));
  }
}

TEST_F(IpHelperTables, ExtendedCallsCheckTheirArguments) {
  void* block = reinterpret_cast<void*>(1);
  EXPECT_EQ(getTcpEx(nullptr, 1, GetProcessHeap(), 0, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(getTcpEx(&block, 1, GetProcessHeap(), 0, 23), ERROR_INVALID_PARAMETER) << "IPv6 is not offered";
  EXPECT_EQ(block, nullptr) << "the result is cleared on failure";
  int notAHeap = 0;
  EXPECT_EQ(getUdpEx(&block, 1, &notAHeap, 0, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(block, nullptr);

  // Heap flags reach the allocation: a zero-filled block stays valid for HeapSize/HeapFree.
  ASSERT_EQ(getUdpEx(&block, 0, GetProcessHeap(), HEAP_ZERO_MEMORY, 2), NO_ERROR);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(HeapSize(GetProcessHeap(), 0, block), sizeof(MIB_UDPTABLE_EX));
  EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, block));
}

TEST_F(IpHelperTables, SetTcpEntryDeleteTearsDownAnEstablishedConnection) {
  Fd listener = TcpListener();
  TcpPair pair = ConnectTo(listener.get());
  ASSERT_TRUE(pair.client && pair.server);
  const sockaddr_in client = LocalOf(pair.client.get());
  const sockaddr_in server = LocalOf(pair.server.get());

  MIB_TCPROW row{};
  row.dwState = MIB_TCP_STATE_ESTAB;
  row.dwLocalAddr = client.sin_addr.s_addr;
  row.dwLocalPort = client.sin_port;
  row.dwRemoteAddr = server.sin_addr.s_addr;
  row.dwRemotePort = server.sin_port;
  EXPECT_EQ(setTcpEntry(&row), ERROR_INVALID_PARAMETER) << "only the delete state may be set";
  EXPECT_EQ(setTcpEntry(nullptr), ERROR_INVALID_PARAMETER);

  row.dwState = MIB_TCP_STATE_DELETE_TCB;
  const DWORD result = setTcpEntry(&row);
  if (result == ERROR_NOT_SUPPORTED) GTEST_SKIP() << "this kernel was built without socket destruction (CONFIG_INET_DIAG_DESTROY)";
  if (result == ERROR_ACCESS_DENIED) GTEST_SKIP() << "tearing connections down needs CAP_NET_ADMIN";
  ASSERT_EQ(result, NO_ERROR);

  // The peer sees a reset (or end of stream); the local side an error.
  ASSERT_TRUE(WaitReadable(pair.server.get(), 5000));
  char byte = 0;
  EXPECT_LE(::recv(pair.server.get(), &byte, 1, 0), 0);
  EXPECT_LT(::send(pair.client.get(), "x", 1, MSG_NOSIGNAL), 0);

  EXPECT_TRUE(Matching(TcpEx(), client, server).empty());
  EXPECT_EQ(setTcpEntry(&row), ERROR_NOT_FOUND) << "the connection is gone";
}

}  // namespace

// IPv6 sockets in the connections pane and the connection log, in a network namespace of the
// test's own: rows of both families with their addresses and process, IPv4-mapped sockets as
// IPv4 rows, disconnects logged, a mixed log reloaded, and the commands of an IPv6 row (its link
// monitor captures on the namespace's loopback).
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>

#include "ConnectionsTestSupport.h"
#include "common/FieldText.h"
#include "common/MonListMonLogData6.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/link/DlgIpMon.h"
#include "controls/link/IpMon.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "ui/ScriptedServices.h"

using namespace conntest;

namespace {

constexpr char kLongAddress[] = "2001:db8:aaaa:bbbb:cccc:dddd:eeee:1";  // longer than a header field
constexpr int kSkipped = 77;

sockaddr_in6 Address6(const char* text, std::uint16_t port) {
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  inet_pton(AF_INET6, text, &a.sin6_addr);
  return a;
}

std::uint16_t Port6(const Socket& s) {
  sockaddr_in6 a{};
  socklen_t length = sizeof a;
  ::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin6_port);
}

Socket Bind6(int type, const char* text, bool v6only = true, std::uint16_t port = 0) {
  Socket s(::socket(AF_INET6, type | SOCK_CLOEXEC, 0));
  const int only = v6only ? 1 : 0;
  ::setsockopt(s.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
  const sockaddr_in6 a = Address6(text, port);
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return Socket();
  if (type == SOCK_STREAM && ::listen(s.fd(), 16) != 0) return Socket();
  return s;
}

// An IPv6 client connected to a listener at the address, and the accepted end.
Pair Connect6(const Socket& listener, const char* text, std::uint16_t port) {
  Pair pair;
  pair.client = Socket(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in6 a = Address6(text, port);
  if (::connect(pair.client.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return Pair{};
  pair.server = Socket(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  return pair;
}

bool BringLoopbackUp() {
  Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(s.fd(), SIOCGIFFLAGS, &request) != 0) return false;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  return ::ioctl(s.fd(), SIOCSIFFLAGS, &request) == 0;
}

std::array<std::uint8_t, 16> Bytes6(const char* text) {
  std::array<std::uint8_t, 16> bytes{};
  inet_pton(AF_INET6, text, bytes.data());
  return bytes;
}

std::array<std::uint8_t, 16> Local6(const RowView& r) {
  std::array<std::uint8_t, 16> bytes{};
  std::memcpy(bytes.data(), r.record.localAddr6, 16);
  return bytes;
}

}  // namespace

class Ipv6Test : public ConnectionsTest {
 protected:
  // Runs the body in a child process inside a new network namespace whose loopback is up and
  // holds kLongAddress too; the child's failures are the test's. Needs root and IPv6.
  void InNamespace(const std::function<void()>& body) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::unshare(CLONE_NEWNET) != 0 || !BringLoopbackUp()) ::_exit(kSkipped);
      if (!std::filesystem::exists("/proc/net/if_inet6") ||
          std::system((std::string("ip -6 addr add ") + kLongAddress + "/128 dev lo nodad").c_str()) != 0)
        ::_exit(kSkipped);
      body();
      if (m_list) m_list->ProcessClose();
      m_list.reset();
      std::fflush(nullptr);
      ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == kSkipped) GTEST_SKIP() << "no network namespace with IPv6 here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed (see above)";
  }
};

TEST_F(Ipv6Test, SocketsOfBothFamiliesAreRowsAndAMixedLogReloadsAsItWasLogged) {
  InNamespace([&] {
    MonListMon& list = CreateList(50);
    const int narrowAddress = list.GetColumnWidth(3);
    Socket loop = Bind6(SOCK_STREAM, "::1");
    Socket any = Bind6(SOCK_STREAM, "::", false);  // dual-stack: an IPv6 row all the same
    Socket udp = Bind6(SOCK_DGRAM, "::1");
    Socket udpLong = Bind6(SOCK_DGRAM, kLongAddress);
    Socket udpMapped = Bind6(SOCK_DGRAM, "::ffff:127.0.0.1", false);
    Socket listener4 = ListenTcp();
    ASSERT_GE(loop.fd(), 0);
    ASSERT_GE(any.fd(), 0);
    ASSERT_GE(udpLong.fd(), 0);
    ASSERT_GE(udpMapped.fd(), 0);
    Pair pair = Connect6(loop, "::1", Port6(loop));
    Pair mapped = Connect6(listener4, "::ffff:127.0.0.1", listener4.LocalPort());
    ASSERT_GE(pair.server.fd(), 0);
    ASSERT_GE(mapped.server.fd(), 0);
    const std::uint16_t clientPort = Port6(pair.client);
    const std::uint16_t mappedPort = Port6(mapped.client);
    list.ListStart();
    ASSERT_TRUE(WaitFor([&] {
      return !RowsOnPort(list, "TCP6", clientPort).empty() && !RowsOnPort(list, "TCP", mappedPort).empty() &&
             !RowsOnPort(list, "UDP6", Port6(udpLong)).empty() && !RowsOnPort(list, "UDP", Port6(udpMapped)).empty();
    }));

    const std::string pid = std::to_string(::getpid());
    auto only = [&](const char* type, std::uint16_t port) {
      std::vector<RowView> rows = RowsOnPort(list, type, port);
      EXPECT_EQ(rows.size(), 1u) << type << " " << port;
      return rows.empty() ? RowView{} : rows[0];
    };
    const RowView listen = Rows(list, [&](const RowView& r) {
      return r.Text(1) == "TCP6" && r.Text(4) == std::to_string(Port6(loop)) && r.Text(2) == "Listen";
    }).at(0);
    EXPECT_EQ(listen.Text(0), OwnName());
    EXPECT_EQ(listen.Text(2), "Listen");
    EXPECT_EQ(listen.Text(3), "::1");
    EXPECT_EQ(listen.Text(5), "::");
    EXPECT_EQ(listen.Text(6), "0");
    EXPECT_EQ(listen.Text(9), pid);
    EXPECT_EQ(listen.record.family, static_cast<std::uint32_t>(AF_INET6));
    EXPECT_EQ(listen.record.localAddr, 0u);
    EXPECT_EQ(Local6(listen), Bytes6("::1"));
    EXPECT_EQ(only("TCP6", Port6(any)).Text(3), "::");

    const RowView client = only("TCP6", clientPort);
    EXPECT_EQ(client.Text(2), "Connected");
    EXPECT_EQ(client.Text(5), "::1");
    EXPECT_EQ(client.Text(6), std::to_string(Port6(loop)));
    EXPECT_EQ(client.Text(9), pid);

    const RowView wide = only("UDP6", Port6(udpLong));
    EXPECT_EQ(wide.Text(3), kLongAddress);  // whole, in its shortest form
    EXPECT_EQ(wide.Text(5), "");
    EXPECT_EQ(only("UDP6", Port6(udp)).Text(3), "::1");
    EXPECT_GT(list.GetColumnWidth(3), narrowAddress);
    EXPECT_GE(list.GetColumnWidth(3), list.GetStringWidth(kLongAddress));

    // Sockets on IPv4-mapped addresses are the IPv4 endpoints they serve.
    const RowView mappedRow = only("TCP", mappedPort);
    EXPECT_EQ(mappedRow.Text(3), "127.0.0.1");
    EXPECT_EQ(mappedRow.Text(5), "127.0.0.1");
    EXPECT_EQ(mappedRow.Text(9), pid);
    EXPECT_NE(mappedRow.record.family, static_cast<std::uint32_t>(AF_INET6));
    EXPECT_EQ(mappedRow.record.remoteAddr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(only("UDP", Port6(udpMapped)).Text(3), "127.0.0.1");
    EXPECT_TRUE(RowsOnPort(list, "TCP6", mappedPort).empty());

    // The IPv6 connection is reset (no TIME_WAIT left): its rows are marked and logged once.
    const linger reset{1, 0};
    ::setsockopt(pair.client.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    pair.client.Close();
    pair.server.Close();
    ASSERT_TRUE(WaitFor([&] {
      const auto rows = RowsOnPort(list, "TCP6", clientPort);
      return !rows.empty() && rows[0].Text(2) == "Disconnect";
    }));
    list.ListStop();
    Scanner().LogFlush();

    const std::vector<LogRecord> records = RecordsOnPort(m_logPath, "TCP6", clientPort);
    ASSERT_EQ(records.size(), 2u);
    for (const LogRecord& r : records) {
      EXPECT_EQ(r.header.dataLength, 124);
      EXPECT_EQ(r.header.recordLength, 124 + 108);
      EXPECT_EQ(GetFieldText(r.header.localAddr), "::1");  // short enough for the header
      EXPECT_EQ(GetFieldText(r.header.remoteAddr), "::1");
      _MonListMonLogData6 d{};
      std::memcpy(&d, r.data.data(), sizeof d);
      EXPECT_EQ(d.base.localAddr, 0u);
      EXPECT_EQ(d.base.localPort, clientPort);
      EXPECT_EQ(d.base.remotePort, Port6(loop));
      EXPECT_EQ(std::memcmp(d.localAddr, Bytes6("::1").data(), 16), 0);
      EXPECT_EQ(std::memcmp(d.remoteAddr, Bytes6("::1").data(), 16), 0);
      EXPECT_EQ(GetFieldText(d.base.processName), OwnName());
    }
    EXPECT_EQ(records[1].Data().state, kStateDisconnected);
    // IPv4 records beside them keep their 84 bytes.
    ASSERT_FALSE(RecordsOnPort(m_logPath, "TCP", mappedPort).empty());
    EXPECT_EQ(RecordsOnPort(m_logPath, "TCP", mappedPort)[0].header.dataLength, 84);
    // A text too long for the header is left out there and read from the data.
    const std::vector<LogRecord> longRecords = RecordsOnPort(m_logPath, "UDP6", Port6(udpLong));
    ASSERT_EQ(longRecords.size(), 1u);
    EXPECT_EQ(GetFieldText(longRecords[0].header.localAddr), "");
    std::string local, remote, type;
    std::vector<unsigned char> buffer(8);  // shorter than the data: the texts still come whole
    ASSERT_GT(Scanner().LogRead(static_cast<LONG>(longRecords[0].offset), buffer.data(), 8, &local, &remote,
                                nullptr, &type), 0);
    EXPECT_EQ(local, kLongAddress);
    EXPECT_EQ(remote, "");
    EXPECT_EQ(type, "UDP6");

    // Reloaded, the log gives back every row as it was logged, both families in file order.
    std::vector<std::vector<std::string>> logged;
    for (const LogRecord& r : ParseLog(FileBytes(m_logPath))) logged.push_back({r.Type(), std::to_string(r.Data().localPort)});
    list.LoadLastLog();
    ASSERT_TRUE(WaitFor([&] { return Scanner().IsLogLast() == 0; }));
    const std::vector<RowView> reloaded = Rows(list);
    ASSERT_EQ(reloaded.size(), logged.size());
    for (std::size_t i = 0; i < reloaded.size(); ++i) {
      EXPECT_EQ(reloaded[i].Text(1), logged[i][0]);
      EXPECT_EQ(reloaded[i].Text(4), logged[i][1]);
    }
    const std::vector<RowView> again = RowsOnPort(list, "TCP6", clientPort);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].Text(2), "Connected");
    EXPECT_EQ(again[1].Text(2), "Disconnect");
    for (const RowView& r : again) {
      EXPECT_EQ(r.Text(3), "::1");
      EXPECT_EQ(r.Text(5), "::1");
      EXPECT_EQ(r.record.family, static_cast<std::uint32_t>(AF_INET6));
      EXPECT_EQ(Local6(r), Bytes6("::1"));
    }
    ASSERT_EQ(RowsOnPort(list, "UDP6", Port6(udpLong)).size(), 1u);
    EXPECT_EQ(RowsOnPort(list, "UDP6", Port6(udpLong))[0].Text(3), kLongAddress);
    ASSERT_FALSE(RowsOnPort(list, "TCP", mappedPort).empty());
    EXPECT_EQ(RowsOnPort(list, "TCP", mappedPort)[0].Text(5), "127.0.0.1");
  });
}

TEST_F(Ipv6Test, CommandsOfAnIpv6RowFollowItsLinkPrefillARuleAndRelatedRowsMatchWholeAddresses) {
  InNamespace([&] {
    ScriptedServices script;
    m_profile.WriteProfileInt("", "AdapterCurr", 0);
    m_profile.WriteProfileString("", "AdapterCurrName", "lo");
    MonListMon& list = CreateList(50);
    Socket loop = Bind6(SOCK_STREAM, "::1");
    Socket other = Bind6(SOCK_STREAM, kLongAddress, true, Port6(loop));  // same port, other address
    Pair pair = Connect6(loop, "::1", Port6(loop));
    ASSERT_GE(pair.server.fd(), 0);
    ASSERT_GE(other.fd(), 0);
    const std::uint16_t clientPort = Port6(pair.client);
    list.ListStart();
    ASSERT_TRUE(WaitFor([&] {
      return RowsOnPort(list, "TCP6", Port6(loop)).size() == 3 && !RowsOnPort(list, "TCP6", clientPort).empty();
    }));
    list.ListStop();

    // The listener on ::1 relates to no row: the other listener shares only its port.
    const RowView listen = Rows(list, [&](const RowView& r) {
      return r.Text(1) == "TCP6" && r.Text(3) == "::1" && r.Text(2) == "Listen";
    }).at(0);
    EXPECT_EQ(list.ListSelectRelated(listen.row), 0);

    // The link monitor follows the client's connection: its packets, not those of a connection to
    // the other listener on the same port, shown and logged.
    const int row = RowsOnPort(list, "TCP6", clientPort).at(0).row;
    list.UserDoubleClick(row, 0);
    ASSERT_EQ(list.OpenWindows().size(), 1u);
    auto* monitor = dynamic_cast<DlgIpMon*>(list.OpenWindows()[0]);
    ASSERT_NE(monitor, nullptr);
    const std::string ports[] = {std::to_string(clientPort), std::to_string(Port6(loop))};
    EXPECT_EQ(monitor->GetWindowText(), "Connections Link - TCP6 - [::1]:" + ports[0] + " -> [::1]:" + ports[1]);
    ASSERT_TRUE(monitor->GetThread()->GetIdleMessage());
    Pair beside = Connect6(other, kLongAddress, Port6(loop));
    constexpr int kMessages = 10;
    char byte = 'x';
    for (int i = 0; i < kMessages; ++i)
      for (const Pair* p : {&pair, &beside}) {
        ASSERT_EQ(::send(p->client.fd(), &byte, 1, 0), 1);
        ASSERT_EQ(::recv(p->server.fd(), &byte, 1, 0), 1);
      }
    IpMon* packets = monitor->GetList();
    EXPECT_TRUE(WaitFor([&] { return packets->GetItemCount() >= kMessages; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    monitor->ClickButton(DlgIpMon::IDC_BUTTON_STOP);
    const auto texts = [&] {  // type, addresses and ports of every row
      std::vector<std::string> all(static_cast<std::size_t>(packets->GetItemCount()));
      for (std::size_t r = 0; r < all.size(); ++r)
        for (int column : {0, 2, 3, 4, 5}) all[r] += packets->GetItemText(static_cast<int>(r), column) + " ";
      return all;
    };
    const std::vector<std::string> shown = texts();
    for (const std::string& r : shown)
      EXPECT_TRUE(r == "TCP6 ::1 " + ports[0] + " ::1 " + ports[1] + " " || r == "TCP6 ::1 " + ports[1] + " ::1 " + ports[0] + " ")
          << r;
    // Reloaded from the log, the rows are the same.
    packets->Reload(-1);
    EXPECT_EQ(texts(), shown);

    // Block/Allow makes an IPv6 rule: the editor opens with the remote address.
    std::string from;
    script.OnNextModal([&](Dialog& d) {
      from = d.GetDlgItemText(DlgPelorinFirewallIp::IDC_IP_FROM);
      d.ClickButton(DlgPelorinFirewallIp::IDC_BUTTON_DONE);  // else the modal loop waits out its limit
    });
    list.IpSetProperties();
    EXPECT_TRUE(script.Messages().empty());
    ASSERT_EQ(script.ModalCaptions().size(), 1u);
    EXPECT_EQ(from, "::1");
  });
}

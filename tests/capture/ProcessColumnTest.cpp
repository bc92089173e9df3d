// The packet pane's "Process" column: real sockets of this process and of a child process, and
// packets replayed through the capture thread that name their endpoints.
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include "CaptureTestSupport.h"

using namespace capture_test;

namespace {

// A socket bound to address:0 (IPv4 or IPv6), returning its fd and the port it got.
int BoundSocket(int type, const char* address, int* port) {
  sockaddr_in6 at6{};
  sockaddr_in at{};
  const bool six = inet_pton(AF_INET6, address, &at6.sin6_addr) == 1;
  at6.sin6_family = AF_INET6;
  at.sin_family = AF_INET;
  inet_pton(AF_INET, address, &at.sin_addr);
  auto* name = six ? reinterpret_cast<sockaddr*>(&at6) : reinterpret_cast<sockaddr*>(&at);
  socklen_t length = six ? sizeof at6 : sizeof at;
  const int fd = ::socket(six ? AF_INET6 : AF_INET, type, 0);
  if (fd < 0 || ::bind(fd, name, length) != 0 || (type == SOCK_STREAM && ::listen(fd, 1) != 0) ||
      ::getsockname(fd, name, &length) != 0)
    return -1;
  *port = ntohs(six ? at6.sin6_port : at.sin_port);
  return fd;
}

// A child that binds a UDP socket on every address and then becomes "sleep", keeping it.
struct SleepingOwner {
  pid_t pid = -1;
  int port = 0;
  SleepingOwner() {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      int bound = 0;
      const int fd = BoundSocket(SOCK_DGRAM, "0.0.0.0", &bound);
      if (fd < 0 || ::write(ready[1], &bound, sizeof bound) != sizeof bound) ::_exit(1);
      ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
      ::_exit(1);
    }
    ::close(ready[1]);
    if (pid > 0 && ::read(ready[0], &port, sizeof port) != sizeof port) port = 0;
    ::close(ready[0]);
  }
  ~SleepingOwner() {
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
};

std::string Cell(MonListIpMon& pane, int row) {
  std::string text;
  pane.GetCell(row, MonListIpMon::kProcessColumn, &text, nullptr, nullptr);
  return text;
}

}  // namespace

TEST(PacketProcessColumn, NamesTheOwnerOfEachPacketsLocalSocket) {
  CaptureEnv env;
  int udpPort = 0, tcpPort = 0;
  const int udp = BoundSocket(SOCK_DGRAM, "127.0.0.1", &udpPort);
  const int tcp = BoundSocket(SOCK_STREAM, "0.0.0.0", &tcpPort);
  ASSERT_GE(udp, 0);
  ASSERT_GE(tcp, 0);
  SleepingOwner child;
  ASSERT_GT(child.port, 0);
  // The exec has happened once the child's name is "sleep".
  ASSERT_TRUE(WaitUntil(
      [&] {
        char name[32] = {};
        FILE* comm = std::fopen(("/proc/" + std::to_string(child.pid) + "/comm").c_str(), "r");
        if (comm == nullptr) return false;
        const bool got = std::fgets(name, sizeof name, comm) != nullptr && std::string(name) == "sleep\n";
        std::fclose(comm);
        return got;
      },
      5000));

  const std::vector<std::vector<std::uint8_t>> frames = {
      // From our UDP socket outward.
      BuildFrame({.protocol = 17,
                  .source = "127.0.0.1",
                  .destination = "10.9.9.9",
                  .sourcePort = udpPort,
                  .destinationPort = 53}),
      // Into the child's socket, bound to every address.
      BuildFrame({.protocol = 17,
                  .source = "10.9.9.9",
                  .destination = "127.0.0.1",
                  .sourcePort = 999,
                  .destinationPort = child.port}),
      // Into our listening TCP socket, on another local address it covers.
      BuildFrame({.protocol = 6,
                  .source = "10.9.9.9",
                  .destination = "127.0.0.2",
                  .sourcePort = 4000,
                  .destinationPort = tcpPort}),
      // No socket here: the same port as ours but TCP, and a conversation of strangers.
      BuildFrame({.protocol = 6,
                  .source = "127.0.0.1",
                  .destination = "10.9.9.9",
                  .sourcePort = udpPort,
                  .destinationPort = 53}),
      BuildFrame(
          {.protocol = 17, .source = "10.1.1.1", .destination = "10.2.2.2", .sourcePort = 7, .destinationPort = 9}),
      BuildFrame({.protocol = 1, .source = "127.0.0.1", .destination = "127.0.0.1"}),
  };
  const std::string capture = env.File("owners.pcap");
  ASSERT_TRUE(WriteCapture(capture, frames));
  env.UseCaptureFile(capture);
  auto pane = MakePane(env.App());
  ASSERT_NE(pane, nullptr);
  ASSERT_TRUE(Replay(*pane));
  ASSERT_EQ(pane->GetItemCount(), 6);

  // Named as the connections pane names them.
  const std::string self =
      PelorinCListView::ProcessNameFormat(std::filesystem::read_symlink("/proc/self/exe").filename().string());
  const std::string sleeping = PelorinCListView::ProcessNameFormat("sleep");
  const std::string expected[] = {self, sleeping, self, "", "", ""};
  // The first look asks for the names; the pane's own thread fetches them soon after.
  EXPECT_TRUE(WaitUntil([&] { return Cell(*pane, 0) == self && Cell(*pane, 1) == sleeping; }, 5000))
      << Cell(*pane, 0) << " / " << Cell(*pane, 1);
  for (int row = 0; row < 6; ++row) EXPECT_EQ(Cell(*pane, row), expected[row]) << "row " << row;
  // Every reader of the cell gets the text drawn, not only the view.
  EXPECT_EQ(pane->GetItemText(0, MonListIpMon::kProcessColumn), self);
  EXPECT_EQ(pane->GetItemText(0, 7), "Ok");

  // Once the child has gone, a refresh forgets its socket.
  ::kill(child.pid, SIGKILL);
  ::waitpid(child.pid, nullptr, 0);
  child.pid = -1;
  pane->GetOwnerCache()->Refresh();
  EXPECT_EQ(Cell(*pane, 1), "");
  ::close(udp);
  ::close(tcp);
}

TEST(PacketProcessColumn, NamesTheOwnerOfIpv6PacketsLocalSockets) {
  CaptureEnv env;
  // A UDP socket on ::1 and a TCP listener on every IPv6 address.
  int ports[2] = {};
  const int udp = BoundSocket(SOCK_DGRAM, "::1", &ports[0]);
  const int tcp = BoundSocket(SOCK_STREAM, "::", &ports[1]);
  if (udp < 0 || tcp < 0) GTEST_SKIP() << "no IPv6 on this machine";
  const std::string capture = env.File("owners6.pcap");
  ASSERT_TRUE(WriteCapture(
      capture, {BuildFrame6({.nextHeader = 17, .source = "::1", .destination = "2001:db8::9", .sourcePort = ports[0]}),
                BuildFrame6({.nextHeader = 6, .source = "2001:db8::9", .destination = "2001:db8::1",
                             .sourcePort = 4000, .destinationPort = ports[1]}),
                // The UDP port over TCP, and an IPv4 packet of the same endpoint numbers: no owner.
                BuildFrame6({.nextHeader = 6, .source = "::1", .destination = "2001:db8::9", .sourcePort = ports[0]}),
                BuildFrame({.protocol = 17, .source = "127.0.0.1", .sourcePort = ports[0]})}));
  env.UseCaptureFile(capture);
  auto pane = MakePane(env.App());
  ASSERT_NE(pane, nullptr);
  ASSERT_TRUE(Replay(*pane));
  ASSERT_EQ(pane->GetItemCount(), 4);
  const std::string self =
      PelorinCListView::ProcessNameFormat(std::filesystem::read_symlink("/proc/self/exe").filename().string());
  EXPECT_TRUE(WaitUntil([&] { return Cell(*pane, 0) == self; }, 5000)) << Cell(*pane, 0);
  const std::string expected[] = {self, self, "", ""};
  for (int row = 0; row < 4; ++row) EXPECT_EQ(Cell(*pane, row), expected[row]) << "row " << row;
  ::close(udp);
  ::close(tcp);
}

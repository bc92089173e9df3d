// The engine as a firewall: the real program filtering the test's private namespace, with a
// peer namespace behind a veth pair to block.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>

#include "FirewallTestSupport.h"
#include "PeerNamespace.h"
#include "PrivateNetwork.h"
#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/FirewallProcessRecord.h"
#include "common/FirewallRule.h"
#include "common/FirewallRuleLogRecord.h"
#include "common/RuleRange.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RampaEngineProcess.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"
#include "platform/Registry.h"

namespace {

const char kConsoleKey[] = "Software\\DunmereIncProducts\\Setup\\IpRamparo";
const char kEngineKey[] = "Software\\DunmereIncProducts\\Setup\\RamparoThreadApp";
constexpr std::uint16_t kPort = 4555;

std::uint32_t Address(const char* dotted) { return ::inet_addr(dotted); }

_FirewallRule Rule(const char* name, const char* from, const char* to = nullptr, bool active = true) {
  _FirewallRule rule{};
  SetFieldText(rule.name, name);
  rule.active = active ? 1 : 0;
  rule.entries[kRuleRangeStart] = {Address(from), 0xFFFFFFFFu, 0, 0};
  if (to) rule.entries[kRuleRangeEnd] = {Address(to), 0xFFFFFFFFu, 0, 0};
  rule.kind = 1;
  return rule;
}

_FirewallRule Rule6(const char* name, const char* from, const char* to = "") {
  _FirewallRule rule{};
  SetFieldText(rule.name, name);
  rule.active = 1;
  SetRuleRange(rule, from, to);
  return rule;
}

// An endpoint of either family, by its text.
sockaddr_storage Endpoint(const char* address, std::uint16_t port, socklen_t* size) {
  sockaddr_storage endpoint{};
  if (std::strchr(address, ':') != nullptr) {
    auto* six = reinterpret_cast<sockaddr_in6*>(&endpoint);
    six->sin6_family = AF_INET6;
    six->sin6_port = htons(port);
    ::inet_pton(AF_INET6, address, &six->sin6_addr);
    *size = sizeof *six;
  } else {
    auto* four = reinterpret_cast<sockaddr_in*>(&endpoint);
    four->sin_family = AF_INET;
    four->sin_port = htons(port);
    four->sin_addr.s_addr = Address(address);
    *size = sizeof *four;
  }
  return endpoint;
}

// A socket bound in the namespace of the calling thread.
int Bound(int type, const char* address, std::uint16_t port) {
  socklen_t size = 0;
  const sockaddr_storage endpoint = Endpoint(address, port, &size);
  const int fd = ::socket(endpoint.ss_family, type | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&endpoint), size) != 0) {
    ::close(fd);
    return -1;
  }
  if (type == SOCK_STREAM) ::listen(fd, 16);
  return fd;
}

bool Connects(const char* address, std::uint16_t port) {
  socklen_t size = 0;
  const sockaddr_storage endpoint = Endpoint(address, port, &size);
  const int fd = ::socket(endpoint.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  ::connect(fd, reinterpret_cast<const sockaddr*>(&endpoint), size);
  pollfd wait{fd, POLLOUT, 0};
  int error = -1;
  socklen_t length = sizeof error;
  const bool done = ::poll(&wait, 1, 700) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0;
  ::close(fd);
  return done && error == 0;
}

// One datagram from a socket to a receiver: whether it arrived.
bool Delivered(int from, int to, const char* toAddress) {
  socklen_t size = 0;
  const sockaddr_storage endpoint = Endpoint(toAddress, kPort, &size);
  ::sendto(from, "x", 1, 0, reinterpret_cast<const sockaddr*>(&endpoint), size);
  pollfd wait{to, POLLIN, 0};
  char byte;
  return ::poll(&wait, 1, 500) == 1 && ::recv(to, &byte, 1, 0) == 1;
}

bool Pings(const char* address) { return PeerNamespace::Run(std::string("ping -q -c 1 -W 1 ") + address + " >/dev/null"); }

std::vector<_FirewallRuleLogRecord> LogRecords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<_FirewallRuleLogRecord> records;
  _FirewallRuleLogRecord record;
  while (in.read(reinterpret_cast<char*>(&record), sizeof record)) records.push_back(record);
  return records;
}

// What a command of the test's own prints, and its wait status.
std::string Output(const std::string& command, int* status = nullptr) {
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string text;
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  const int ended = pipe ? ::pclose(pipe) : -1;
  if (status) *status = ended;
  return text;
}

std::string Tables() { return Output("nft list tables"); }

// The cgroup v2 group of a process ("0::/PATH"); "" when there is none.
std::string GroupOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/cgroup");
  std::string line;
  while (std::getline(file, line))
    if (line.rfind("0::", 0) == 0) return line;
  return {};
}

class EngineFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InPrivateNetwork()) GTEST_SKIP() << "the engine filters only as root, in a namespace of the test's own";
    ASSERT_TRUE(m_peer.Ok());
    ::setenv("PELORIN_REGISTRY", m_registry.c_str(), 1);
    Setting("IpRamparoBlockAll", 1);
    Setting("IpRamparoBlockDirections", 3);
    Setting("IpRamparoLog", 1);
    m_listener = m_peer.InPeerThread([] { return Bound(SOCK_STREAM, PeerNamespace::kPeer, kPort); });
    ASSERT_GE(m_listener, 0);
  }
  void TearDown() override {
    // Ended as a user would, so it moves blocked processes back and removes its group.
    if (m_engine.IsRunning() && !(m_engine.Signal(SIGTERM) && m_engine.WaitForExit(10000))) {
      m_engine.Signal(SIGKILL);
      m_engine.WaitForExit(10000);
    }
    if (m_listener >= 0) ::close(m_listener);
    PeerNamespace::Run("nft delete table inet ramparo 2>/dev/null");
  }

  void Setting(const char* name, std::uint32_t value) {
    ASSERT_TRUE(Registry(m_registry).SetValue(kConsoleKey, name, RegistryValue::Dword(value)));
  }
  // The process file, named in the settings, blocks processes of this name.
  void BlockProcess(const std::string& name) {
    _FirewallProcessRecord record{};
    SetFieldText(record.processName, name);
    record.blocked = 1;
    ASSERT_TRUE(FirewallProcessFile::Write(m_folder.File("procs.prc"), {record}));
    ASSERT_TRUE(Registry(m_registry)
                    .SetValue(kConsoleKey, "IpRamparoProcesses", RegistryValue::String(m_folder.File("procs.prc"))));
  }
  void Rules(const std::vector<_FirewallRule>& rules) { ASSERT_TRUE(FirewallRuleFile::Write(m_rules, rules)); }
  // The engine started and attached, the firewall started.
  void StartFiltering() {
    ASSERT_TRUE(m_engine.Start(PELORIN_ENGINE_DIR, m_folder.Path()));
    ASSERT_TRUE(WaitFor([&] { return PeekBlock(m_folder.File("RamparoInterfaceMem.mem"), kRampaOffEnginePresent) != 0; },
                        std::chrono::seconds(10)));
    ASSERT_NE(m_console.MemAttach(), nullptr);
    Request(kRampaMsgStart);
    ASSERT_EQ(RampaBlockGet(m_console.MemGetView(), kRampaOffFiltering), 1u);
  }
  std::uint8_t* Request(std::int32_t code) {
    std::uint8_t* reply = m_console.SendEngineMessageWithReturn(code, 0, 0, 1);
    EXPECT_NE(reply, nullptr) << code;
    return reply;
  }

  PeerNamespace m_peer;
  TempFolder m_folder;
  std::string m_registry = m_folder.File("registry.reg");
  std::string m_rules = m_folder.File("Ramparo.cfg");
  CRampaMem m_console{nullptr, "RamparoInterfaceMem.mem", m_folder.File("RamparoInterfaceMem.mem")};
  RampaEngineProcess m_engine;
  int m_listener = -1;
};

}  // namespace

TEST_F(EngineFilterTest, ABlockedPeerIsUnreachableLoggedAndCountedUntilTheRuleIsDeactivated) {
  ASSERT_TRUE(Pings(PeerNamespace::kPeer));
  // The later range covers the peer too: its blocks still belong to the first rule naming it.
  Rules({Rule("elsewhere", "192.0.2.1"), Rule("peer", PeerNamespace::kPeer), Rule("wide", "10.77.0.2", "10.77.2.0")});
  StartFiltering();
  EXPECT_FALSE(Pings(PeerNamespace::kPeer));
  EXPECT_FALSE(Connects(PeerNamespace::kPeer, kPort));

  // Our echo request and SYNs were dropped on the way out, by rule 1 alone.
  const RampaStatisticsReply statistics = RampaStatisticsReply::Parse(Request(kRampaMsgStatistics), kRampaPayloadSize);
  ASSERT_EQ(statistics.status, RampaStatisticsReply::Status::Ok);
  ASSERT_EQ(statistics.entries.size(), 1u);
  EXPECT_EQ(statistics.entries[0].ruleCode, -1);
  EXPECT_GE(statistics.entries[0].blockCount, 2u);
  EXPECT_EQ(statistics.entries[0].firstAddress, Address(PeerNamespace::kPeer));
  EXPECT_EQ(statistics.entries[0].protocol, 0u) << "every protocol";
  EXPECT_EQ(RampaStatisticsReply::Parse(Request(kRampaMsgStatistics), kRampaPayloadSize).status,
            RampaStatisticsReply::Status::Ignored)
      << "a reply holds the blocks since the one before, as the console adds them up";

  const std::string log = m_folder.File("RamparoBlockLog.log");
  EXPECT_EQ(Registry(m_registry).GetValue(kEngineKey, "IpRamparoBlockLogFile"), RegistryValue::String(log));
  ASSERT_TRUE(WaitFor([&] { return LogRecords(log).size() >= 2; }, std::chrono::seconds(5)));
  const auto records = LogRecords(log);
  EXPECT_EQ(GetFieldText(records[0].rule.name), "peer");
  EXPECT_EQ(records[0].rule.entries[kRuleRangeStart].address, Address(PeerNamespace::kPeer));
  for (const auto& record : records) EXPECT_EQ(record.blockedAddress, Address(PeerNamespace::kPeer));
  EXPECT_EQ(records[0].blockedPort, 0u) << "the echo request has no port";
  EXPECT_EQ(ntohs(records[1].blockedPort), kPort);
  EXPECT_GE(records[0].time.year, 2024u);
  EXPECT_EQ(std::filesystem::file_size(log) % 200, 0u);

  Rules({Rule("elsewhere", "192.0.2.1"), Rule("peer", PeerNamespace::kPeer, nullptr, false)});
  Request(kRampaMsgReloadRules);
  EXPECT_TRUE(Pings(PeerNamespace::kPeer));
  EXPECT_TRUE(Connects(PeerNamespace::kPeer, kPort));

  Rules({Rule("peer", PeerNamespace::kPeer)});
  Request(kRampaMsgReloadRules);
  Request(kRampaMsgStop);
  EXPECT_TRUE(Pings(PeerNamespace::kPeer)) << "a stopped firewall blocks nothing";
  EXPECT_NE(Tables().find("inet ramparo"), std::string::npos) << "stopping empties the table";
  Request(kRampaMsgShutdown);
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_EQ(Tables(), "") << "shutting down removes the table";
}

TEST_F(EngineFilterTest, AnIpv6RuleBlocksItsPeerOverIpv6OnlyAndIsLoggedAndCountedByItsAddress) {
  const int listener6 = m_peer.InPeerThread([] { return Bound(SOCK_STREAM, PeerNamespace::kPeer6, kPort); });
  ASSERT_GE(listener6, 0);
  ASSERT_TRUE(Pings(PeerNamespace::kPeer6));
  ASSERT_TRUE(Connects(PeerNamespace::kPeer6, kPort));
  // A range this wide stays a range of 128-bit addresses in the kernel. Block All is set.
  Rules({Rule("elsewhere", "192.0.2.1"), Rule6("peer6", PeerNamespace::kPeer6, "fd77::1:0")});
  StartFiltering();
  EXPECT_FALSE(Pings(PeerNamespace::kPeer6));
  EXPECT_FALSE(Connects(PeerNamespace::kPeer6, kPort));
  EXPECT_TRUE(Pings(PeerNamespace::kPeer)) << "the peer's IPv4 address is not in the rule";
  EXPECT_TRUE(Connects(PeerNamespace::kPeer, kPort));

  const RampaStatisticsReply statistics = RampaStatisticsReply::Parse(Request(kRampaMsgStatistics), kRampaPayloadSize);
  ASSERT_EQ(statistics.entries.size(), 1u);
  EXPECT_EQ(statistics.entries[0].ruleCode, -1);
  EXPECT_GE(statistics.entries[0].blockCount, 2u);
  EXPECT_TRUE(statistics.entries[0].ipv6);
  EXPECT_EQ(Inet6Ntop(statistics.entries[0].firstAddress6), PeerNamespace::kPeer6);
  EXPECT_EQ(Inet6Ntop(statistics.entries[0].secondAddress6), "fd77::1:0");

  const std::string log = m_folder.File("RamparoBlockLog.log");
  ASSERT_TRUE(WaitFor([&] { return LogRecords(log).size() >= 2; }, std::chrono::seconds(5)));
  bool tcp = false;
  for (const auto& record : LogRecords(log)) {
    EXPECT_EQ(GetFieldText(record.rule.name), "peer6");
    EXPECT_EQ(RuleRangeText(record.rule, kRuleRangeEnd), "fd77::1:0");
    EXPECT_EQ(record.family, kLogFamilyIpv6);
    EXPECT_EQ(Inet6Ntop(record.blockedAddress6), PeerNamespace::kPeer6);
    EXPECT_EQ(Inet6Ntop(record.localAddress6), PeerNamespace::kHere6);
    EXPECT_EQ(record.blockedAddress, 0u);
    tcp = tcp || (record.protocol == 6 && ntohs(record.blockedPort) == kPort);
  }
  EXPECT_TRUE(tcp) << "the SYN is logged with the peer's port";

  // Blocking ICMP alone blocks ICMPv6 and leaves neighbour discovery, and so TCP, alone.
  Setting("IpRamparoBlockAll", 0);
  Request(kRampaMsgSettings);
  EXPECT_FALSE(Pings(PeerNamespace::kPeer6));
  EXPECT_TRUE(Connects(PeerNamespace::kPeer6, kPort));
  ::close(listener6);
}

TEST_F(EngineFilterTest, RangesDirectionsAndProtocolsChooseWhatIsBlocked) {
  const int here = Bound(SOCK_DGRAM, PeerNamespace::kHere, kPort);
  const int there = m_peer.InPeerThread([] { return Bound(SOCK_DGRAM, PeerNamespace::kPeer, kPort); });
  ASSERT_GE(here, 0);
  ASSERT_GE(there, 0);
  // A range written high to low still covers the peer; one this wide stays a range in the kernel.
  Rules({Rule("range", "10.77.1.200", "10.77.0.2")});
  Setting("IpRamparoBlockAll", 0);
  Setting("IpRamparoBlockUdp", 1);
  Setting("IpRamparoBlockIcmp", 0);
  Setting("IpRamparoBlockDirections", 1);  // incoming
  StartFiltering();
  EXPECT_TRUE(Delivered(here, there, PeerNamespace::kPeer));
  EXPECT_FALSE(Delivered(there, here, PeerNamespace::kHere));
  EXPECT_TRUE(Pings(PeerNamespace::kPeer)) << "only udp is blocked";

  Setting("IpRamparoBlockDirections", 2);  // outgoing
  Request(kRampaMsgSettings);
  EXPECT_FALSE(Delivered(here, there, PeerNamespace::kPeer));
  EXPECT_TRUE(Delivered(there, here, PeerNamespace::kHere));

  Setting("IpRamparoBlockUdp", 0);
  Setting("IpRamparoBlockTcp", 1);
  Request(kRampaMsgSettings);
  EXPECT_TRUE(Delivered(here, there, PeerNamespace::kPeer));
  EXPECT_FALSE(Connects(PeerNamespace::kPeer, kPort));

  Rules({Rule("range", "10.77.0.3", "10.77.0.9")});  // the peer is outside it now
  Request(kRampaMsgReloadRules);
  EXPECT_TRUE(Connects(PeerNamespace::kPeer, kPort));
  ::close(here);
  ::close(there);
}

TEST_F(EngineFilterTest, AKilledEnginesTableGoesWithItAndNoSecondEngineTakesATableOver) {
  Rules({Rule("peer", PeerNamespace::kPeer)});
  StartFiltering();
  ASSERT_FALSE(Pings(PeerNamespace::kPeer));
  ASSERT_TRUE(m_engine.Signal(SIGKILL));
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_EQ(Tables(), "") << "the kernel removed the table with the engine's netlink socket";
  EXPECT_TRUE(Pings(PeerNamespace::kPeer)) << "nothing is filtered until an engine starts again";

  void* view = m_console.MemGetView();
  RampaBlockSet(view, kRampaOffEnginePresent, 0);
  RampaBlockSet(view, kRampaOffRequestPending, 0);
  ASSERT_TRUE(m_engine.Start(PELORIN_ENGINE_DIR, m_folder.Path()));
  ASSERT_TRUE(WaitFor([&] { return RampaBlockGet(view, kRampaOffEnginePresent) != 0; }, std::chrono::seconds(10)));
  EXPECT_EQ(Tables(), "table inet ramparo\n") << "the engine holds its table from its start";
  EXPECT_TRUE(Pings(PeerNamespace::kPeer)) << "an empty table blocks nothing";
  Request(kRampaMsgStart);
  EXPECT_FALSE(Pings(PeerNamespace::kPeer));

  // A second engine, on a block and registry of its own, is refused at start; the table stays the
  // first one's, open to read and closed to change.
  TempFolder other;
  int status = -1;
  const std::string said = Output("cd " + other.Path() + " && PELORIN_REGISTRY=" + other.File("registry.reg") +
                                      " timeout 10 " + RampaEngineProcess::ProgramPath(PELORIN_ENGINE_DIR) + " 2>&1",
                                  &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(said.find("another engine holds the table inet ramparo"), std::string::npos) << said;
  EXPECT_FALSE(PeerNamespace::Run("nft delete table inet ramparo 2>/dev/null"));
  const std::string table = Output("nft list table inet ramparo");
  EXPECT_NE(table.find("flags owner"), std::string::npos) << table;
  EXPECT_NE(table.find("chain r0_out"), std::string::npos) << table;
  EXPECT_FALSE(Pings(PeerNamespace::kPeer));

  ASSERT_TRUE(m_engine.Signal(SIGHUP));
  ASSERT_TRUE(m_engine.WaitForExit(10000));
  EXPECT_EQ(RampaBlockGet(view, kRampaOffEnginePresent), 0u);
  EXPECT_EQ(RampaBlockGet(view, kRampaOffFiltering), 0u);
  EXPECT_EQ(Tables(), "");
}

TEST_F(EngineFilterTest, ABlockedProcessCannotConnectWhileOthersCan) {
  // A program of a name of its own: every process of a blocked name is blocked.
  const std::string name = "rampablock" + std::to_string(::getpid());
  const std::string program = m_folder.File(name);
  std::filesystem::copy_file("/bin/bash", program);
  BlockProcess(name);
  Rules({});
  StartFiltering();
  // The process has a connection before the engine takes it up, as the processes window lists it.
  const std::string peer = std::string("/dev/tcp/") + PeerNamespace::kPeer + "/" + std::to_string(kPort);
  const std::string fifo = m_folder.File("go");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FILE* blocked = ::popen(("timeout 4 " + program + " -c 'trap \"\" PIPE; exec 3<>" + peer +
                           " && echo early; read; echo x >&3 && echo kept; exec 4<>" + peer + " && echo connected' <" +
                           fifo + " 2>/dev/null")
                              .c_str(),
                          "r");
  ASSERT_NE(blocked, nullptr);
  const int go = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  char line[64] = {};
  ASSERT_NE(std::fgets(line, sizeof line, blocked), nullptr);
  ASSERT_STREQ(line, "early\n");
  Request(kRampaMsgSettings);
  ASSERT_EQ(::write(go, "\n", 1), 1);
  ::close(go);
  const bool said = std::fgets(line, sizeof line, blocked) != nullptr;
  ::pclose(blocked);
  EXPECT_FALSE(said) << "its connection was torn down and a new one is dropped: " << line;

  const std::string connect = " -c 'exec 3<>" + peer + " && echo connected' ";
  FILE* other = ::popen(("timeout 3 /bin/bash" + connect + "</dev/null").c_str(), "r");
  ASSERT_NE(other, nullptr);
  EXPECT_NE(std::fgets(line, sizeof line, other), nullptr);
  ::pclose(other);
  EXPECT_STREQ(line, "connected\n");

  const RampaStatisticsReply statistics = RampaStatisticsReply::Parse(Request(kRampaMsgStatistics), kRampaPayloadSize);
  ASSERT_EQ(statistics.entries.size(), 1u);
  EXPECT_EQ(statistics.entries[0].ruleCode, -6001);
  EXPECT_GE(statistics.entries[0].blockCount, 1u);

  // Its dropped SYNs are in the rule log under its name, as blocks of every address.
  const std::string log = m_folder.File("RamparoBlockLog.log");
  ASSERT_TRUE(WaitFor([&] { return !LogRecords(log).empty(); }, std::chrono::seconds(5)));
  const _FirewallRuleLogRecord first = LogRecords(log)[0];
  EXPECT_EQ(GetFieldText(first.rule.name), name);
  EXPECT_EQ(first.rule.active, 1u);
  EXPECT_EQ(first.rule.entries[kRuleRangeStart].address, 0u);
  EXPECT_EQ(first.rule.entries[kRuleRangeEnd].address, 0xFFFFFFFFu);
  EXPECT_EQ(first.blockedAddress, Address(PeerNamespace::kPeer));
  EXPECT_EQ(ntohs(first.blockedPort), kPort);
  EXPECT_EQ(first.localAddress, Address(PeerNamespace::kHere));
  EXPECT_NE(first.localPort, 0u);
  EXPECT_GE(first.time.year, 2024u);
  EXPECT_EQ(std::filesystem::file_size(log) % 200, 0u);
}

TEST_F(EngineFilterTest, ABlockedProcessCannotConnectOverIpv6AndItsBlockNamesIt) {
  const std::string name = "rampablock6" + std::to_string(::getpid());
  const std::string program = m_folder.File(name);
  std::filesystem::copy_file("/bin/bash", program);
  const int listener6 = m_peer.InPeerThread([] { return Bound(SOCK_STREAM, PeerNamespace::kPeer6, kPort); });
  ASSERT_GE(listener6, 0);
  BlockProcess(name);
  Rules({});
  StartFiltering();
  // Each shell connects, then waits on a fifo until the engine has taken the processes up again:
  // the blocked one loses its connection and cannot make another.
  const std::string peer = "/dev/tcp/" + std::string(PeerNamespace::kPeer6) + "/" + std::to_string(kPort);
  const std::string connect = " -c 'trap \"\" PIPE; exec 3<>" + peer + " && echo early; read; echo x >&3 && echo kept; " +
                              "exec 4<>" + peer + " && echo connected'";
  const std::string fifo = m_folder.File("go");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& shell : {program, std::string("/bin/bash")}) {
    FILE* run = ::popen(("timeout 3 " + shell + connect + " <" + fifo + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(run, nullptr);
    const int go = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, run), nullptr);
    ASSERT_STREQ(line, "early\n");
    Request(kRampaMsgSettings);
    ASSERT_EQ(::write(go, "\n", 1), 1);
    ::close(go);
    const bool said = std::fgets(line, sizeof line, run) != nullptr;
    ::pclose(run);
    EXPECT_EQ(said, shell != program) << shell << ": " << line;
  }
  // Its SYN, logged while the socket still waits, is named after it.
  const std::string log = m_folder.File("RamparoBlockLog.log");
  ASSERT_TRUE(WaitFor([&] { return !LogRecords(log).empty(); }, std::chrono::seconds(5)));
  const _FirewallRuleLogRecord first = LogRecords(log)[0];
  EXPECT_EQ(first.family, kLogFamilyIpv6);
  EXPECT_EQ(Inet6Ntop(first.blockedAddress6), PeerNamespace::kPeer6);
  EXPECT_EQ(ntohs(first.blockedPort), kPort);
  EXPECT_EQ(GetFieldText(first.rule.name), name);
  ::close(listener6);
}

TEST_F(EngineFilterTest, OnlyProcessesOfTheEnginesUserAreBlocked) {
  // Two processes of one blocked name in the engine's namespace: one of ours (the engine's user),
  // one of 'nobody'.
  const std::string name = "rampauser" + std::to_string(::getpid());
  const std::string program = m_folder.File(name);
  std::filesystem::copy_file("/bin/sleep", program);
  ASSERT_EQ(::chmod(m_folder.Path().c_str(), 0755), 0);  // so that 'nobody' may run it
  const uid_t users[2] = {::getuid(), 65534};
  pid_t children[2] = {-1, -1};
  for (int i = 0; i < 2; ++i) {
    children[i] = ::fork();
    if (children[i] == 0) {
      // The death signal is set after the change of user, which clears it.
      if (::setresuid(users[i], users[i], users[i]) == 0 && ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0)
        ::execl(program.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  for (const pid_t child : children) {
    std::error_code failed;
    ASSERT_TRUE(WaitFor(
        [&] { return std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/exe", failed) == program; },
        std::chrono::seconds(5)));
  }
  BlockProcess(name);
  Rules({});
  StartFiltering();
  EXPECT_NE(GroupOf(children[0]).find("/ramparo-net"), std::string::npos) << GroupOf(children[0]);
  EXPECT_EQ(GroupOf(children[1]).rfind("0::/", 0), 0u);
  EXPECT_EQ(GroupOf(children[1]).find("/ramparo-net"), std::string::npos) << GroupOf(children[1]);
  for (const pid_t child : children) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
}

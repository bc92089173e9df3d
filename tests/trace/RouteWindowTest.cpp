// The route window on the user-interface thread: its first contents and settings, the server
// list, a trace of the machine's own loopback address, host vitals and free queries against a
// whois server of ours, and closing while a whois wait is pending or a name server stays silent.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>

#include "../firewall/PrivateNetwork.h"
#include "TraceTestSupport.h"
#include "common/TraceRoutePoint.h"
#include "controls/trace/CTraceThread.h"
#include "controls/trace/CWhoIsQuery.h"
#include "controls/packets/PacketWindowRequest.h"
#include "controls/trace/DlgPelorinTrace.h"
#include "controls/trace/RouteWindow.h"
#include "controls/trace/DlgPelorinTraceIds.h"
#include "controls/trace/WhoIsServerList.h"
#include "ui/ComboBox.h"
#include "ui/ListBox.h"

using namespace trace_test;
using namespace TraceIds;
using Manner = WhoIsServer::Manner;

namespace {

_MonListMonItemDataIp AddressRecord(const char* address) {
  _MonListMonItemDataIp record{};
  record.localAddr = inet_addr(address);
  return record;
}

std::vector<std::string> Lines(DlgPelorinTrace& window) { return window.GetDlgItemAs<ListBox>(IDC_LIST_ROUTE)->Lines(); }

bool HasLine(DlgPelorinTrace& window, const std::string& line) {
  const std::vector<std::string> lines = Lines(window);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// What a child process saw when it traced a name against a name server of its own.
struct SilentResolverReport {
  char skipped[128] = "";  // why the private namespaces could not be had
  bool refusedFails = false;
  int queries = 0;  // that the silent server read before Done
  long doneMs = -1;
  bool closed = false;
  bool lookupLeftRunning = false;
  bool lookupEnded = false;
};

bool LookupThreadRuns() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(task.path() / "comm"), name);
    if (name == "name lookup") return true;
  }
  return false;
}

// Runs in a forked child, the only thread of its process, so that it may take a mount and a
// network namespace of its own: the resolver asks 127.0.0.1, first refused (nothing listens), then
// a server that reads every query and answers only after Done.
SilentResolverReport TraceAgainstSilentResolver(const std::string& resolvConf) {
  SilentResolverReport report;
  const auto skip = [&](const char* step) {
    std::snprintf(report.skipped, sizeof report.skipped, "%s: %s", step, std::strerror(errno));
    return report;
  };
  if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) return skip("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return skip("private mounts");
  if (!BringLoopbackUp()) return skip("loopback up");
  if (mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) return skip("resolv.conf");
  const int server = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);

  DlgPelorinTrace window(nullptr, nullptr, nullptr, 1);
  window.TypeInto(IDC_EDIT_TRACE_HOST, "silent.pelorin.test");
  window.ClickButton(IDC_BUTTON_TRACE);
  report.refusedFails = PumpUntil([&] { return HasLine(window, CTraceThread::kTraceFailed); }, 5000) &&
                        PumpUntil([&] { return window.GetDlgItem(IDC_BUTTON_TRACE)->IsWindowEnabled(); }, 2000);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) return skip("name server");
  window.ClickButton(IDC_BUTTON_TRACE);
  char query[512];
  ssize_t size = 0;
  socklen_t atSize = sizeof at;
  PumpUntil([&] {
    for (ssize_t n; (n = recvfrom(server, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&at), &atSize)) > 12;
         ++report.queries)
      size = n;
    return report.queries > 0;
  }, 3000);
  const auto start = std::chrono::steady_clock::now();
  window.ClickButton(IDC_BUTTON_DONE);
  report.doneMs = MillisecondsSince(start);
  report.closed = window.GetThread() == nullptr && !window.IsWindowVisible();
  // The lookup nobody waits for any more gets its answer now, "no such name", and ends by itself.
  report.lookupLeftRunning = LookupThreadRuns();
  query[2] = static_cast<char>(query[2] | 0x80);
  query[3] = static_cast<char>(0x83);
  sendto(server, query, static_cast<std::size_t>(size), 0, reinterpret_cast<sockaddr*>(&at), atSize);
  report.lookupEnded = PumpUntil([] { return !LookupThreadRuns(); }, 3000);
  close(server);
  return report;
}

}  // namespace

TEST(RouteWindow, OpensWithTheSavedSettingsAndKeepsTheServerList) {
  TraceEnv env;
  env.App().WriteProfileString("", "TraceIp", "10.5.6.7");
  auto window = std::make_unique<DlgPelorinTrace>(nullptr, &env.App(), nullptr, 1);
  EXPECT_TRUE(window->IsReady());
  EXPECT_EQ(window->GetDlgItemText(IDC_IPADDRESS_TRACE), "10.5.6.7");
  EXPECT_EQ(window->GetDlgItemText(IDC_EDIT_WHOIS_QUERY), "?");
  // No list file yet: it is made with the defaults, the first one chosen.
  auto* servers = window->GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS);
  EXPECT_EQ(servers->Entries(), WhoIsServerList::Defaults());
  EXPECT_EQ(servers->GetWindowText(), WhoIsServerList::Defaults()[0]);

  // A server already listed is only chosen; a new one is added; both disable the button.
  servers->TypeText(WhoIsServerList::Defaults()[2]);
  EXPECT_TRUE(window->ClickButton(IDC_BUTTON_ADD_SERVER));
  EXPECT_EQ(servers->GetCount(), 4);
  EXPECT_EQ(servers->GetCurSel(), 2);
  EXPECT_FALSE(window->GetDlgItem(IDC_BUTTON_ADD_SERVER)->IsWindowEnabled());
  servers->TypeText("whois.example.net");
  EXPECT_TRUE(window->ClickButton(IDC_BUTTON_ADD_SERVER));
  EXPECT_EQ(servers->GetCount(), 5);
  EXPECT_EQ(servers->GetCurSel(), 4);

  // Nothing to trace: the address field is empty.
  window->SetDlgItemText(IDC_IPADDRESS_TRACE, "");
  window->TypeInto(IDC_EDIT_TRACE_HOST, "");
  ASSERT_TRUE(window->ClickButton(IDC_BUTTON_TRACE));
  ASSERT_TRUE(PumpUntil([&] { return HasLine(*window, CTraceThread::kNotSpecified); }, 2000));

  // Done saves the settings and the list, with the new server.
  window->TypeInto(IDC_EDIT_TRACE_HOST, "far.example");
  window->ClickButton(IDC_BUTTON_DONE);
  EXPECT_EQ(env.App().GetProfileString("", "TraceHost", ""), "far.example");
  EXPECT_EQ(env.App().GetProfileString("", "TraceWhoIsServer", ""), "whois.example.net");
  EXPECT_EQ(WhoIsServerList::Read(WhoIsServerList::kFileName)->size(), 5u);
  window.reset();

  // Opened for an address, the window shows it and takes no host name.
  const _MonListMonItemDataIp record = AddressRecord("10.8.8.8");
  DlgPelorinTrace forAddress(nullptr, &env.App(), &record, 0);
  EXPECT_EQ(forAddress.GetDlgItemText(IDC_IPADDRESS_TRACE), "10.8.8.8");
  EXPECT_FALSE(forAddress.GetDlgItem(IDC_EDIT_TRACE_HOST)->IsWindowEnabled());
  EXPECT_EQ(forAddress.GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS)->GetCount(), 5);

  // Opened from a packet row's IPv6 address (which the record cannot hold): the field shows it.
  PacketWindowRequest request;
  request.app = &env.App();
  request.traceTarget = "2001:DB8:0::7";
  std::unique_ptr<DlgPelorinTrace> forIpv6(static_cast<DlgPelorinTrace*>(OpenRouteWindow(request)));
  ASSERT_NE(forIpv6, nullptr);
  EXPECT_EQ(forIpv6->GetDlgItemText(IDC_IPADDRESS_TRACE), "2001:db8::7");
  EXPECT_FALSE(forIpv6->GetDlgItem(IDC_EDIT_TRACE_HOST)->IsWindowEnabled());
}

TEST(RouteWindow, TracesTheOwnAddressThenFetchesHostVitalsAndQueries) {
  if (!IsRoot()) GTEST_SKIP() << "ICMP echoes need a raw socket: run as root";
  TraceEnv env;
  WhoIsServer server(Manner::Normal);
  WhoIsServer empty(Manner::Empty);
  const _MonListMonItemDataIp record = AddressRecord("127.0.0.1");
  DlgPelorinTrace window(nullptr, &env.App(), &record, 0);
  auto* servers = window.GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS);
  servers->TypeText(server.Name());

  // The machine's own address answers the first echoes: one hop, and the trace is complete.
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_TRACE));
  ASSERT_TRUE(PumpUntil([&] { return HasLine(window, CTraceThread::kTraceComplete); }, 5000));
  const std::vector<std::string> lines = Lines(window);
  ASSERT_EQ(lines.size(), 2u);
  const std::string hostName = CTraceCallback::ReverseLookup(TraceAddress::FromV4(record.localAddr));
  // The round trip is a few milliseconds at most, more on a loaded machine: only its form is checked.
  const std::string tail = " ms " + (hostName.empty() ? std::string("127.0.0.1") : hostName + " [127.0.0.1]");
  ASSERT_GT(lines[0].size(), 4 + tail.size()) << lines[0];
  const std::string rtt = lines[0].substr(4, lines[0].size() - 4 - tail.size());
  EXPECT_EQ(lines[0].substr(0, 4) + "0" + lines[0].substr(lines[0].size() - tail.size()), "1 - 0" + tail) << lines[0];
  EXPECT_EQ(rtt.find_first_not_of("0123456789"), std::string::npos) << lines[0];
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItem(IDC_BUTTON_TRACE)->IsWindowEnabled(); }, 2000));
  EXPECT_TRUE(window.IsReady());
  // The route point's record and its first detail text.
  auto* list = window.GetDlgItemAs<ListBox>(IDC_LIST_ROUTE);
  const auto* point = reinterpret_cast<const _TraceRoutePoint*>(list->GetItemData(0));
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->hop, 1);
  EXPECT_STREQ(point->address, "127.0.0.1");
  EXPECT_EQ(list->GetItemData(1), 0u);
  EXPECT_TRUE(window.SelectListItem(IDC_LIST_ROUTE, 0));
  EXPECT_EQ(window.GetDlgItemText(IDC_RICHEDIT_VITALS), TraceRouteList::kDefaultDetail);

  // A double click fetches the point's whois text: the address, without the prefix.
  const std::string expected = CWhoIsQuery::ToCrLf(WhoIsServer::kAnswer);
  ASSERT_TRUE(window.DoubleClickListItem(IDC_LIST_ROUTE, 0));
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItemText(IDC_RICHEDIT_VITALS) == expected; }, 5000));
  EXPECT_EQ(server.Queries(), (std::vector<std::string>{"127.0.0.1\r\n"}));
  EXPECT_EQ(window.GetDlgItemText(IDC_STATIC_STATUS), server.Name() + "->? 127.0.0.1");

  // Host Vitals for every point, by host name, from a server that has nothing to say.
  servers->TypeText(empty.Name());
  window.CheckDlgButton(IDC_CHECK_USE_HOST_NAMES, BST_CHECKED);
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_HOST_VITALS));
  ASSERT_TRUE(PumpUntil([&] { return HasLine(window, CTraceThread::kVitalsComplete); }, 5000));
  EXPECT_EQ(empty.Queries(), (std::vector<std::string>{(hostName.empty() ? "127.0.0.1" : hostName) + "\r\n"}));
  EXPECT_EQ(window.GetDlgItemText(IDC_RICHEDIT_VITALS), CWhoIsQuery::kNotAvailable);

  // A free query sends the query text; an empty answer reads "Timeout".
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItem(IDC_BUTTON_QUERY)->IsWindowEnabled(); }, 2000));
  window.TypeInto(IDC_EDIT_WHOIS_QUERY, "? 10.0.0.1");
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_QUERY));
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItemText(IDC_RICHEDIT_VITALS) == CWhoIsQuery::kTimeout; }, 5000));
  EXPECT_EQ(empty.Queries().back(), "? 10.0.0.1\r\n");
  EXPECT_EQ(window.GetDlgItemText(IDC_STATIC_STATUS), empty.Name() + "->? 10.0.0.1");
  EXPECT_EQ(env.App().GetProfileString("", "WhoIsPrefix", ""), "? 10.0.0.1");  // Query saves whatever the record
}

TEST(RouteWindow, DoneCutsAPendingWhoisWaitShort) {
  TraceEnv env;
  WhoIsServer silent(Manner::Silent);
  DlgPelorinTrace window(nullptr, &env.App(), nullptr, 0);
  window.GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS)->TypeText(silent.Name());
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_QUERY));
  ASSERT_TRUE(PumpUntil([&] { return silent.Queries().size() == 1; }, 2000));
  const auto start = std::chrono::steady_clock::now();
  window.ClickButton(IDC_BUTTON_DONE);
  EXPECT_LT(MillisecondsSince(start), 500);
  EXPECT_EQ(window.GetThread(), nullptr);
  EXPECT_FALSE(window.IsWindowVisible());
}

TEST(RouteWindow, DoneDoesNotWaitForASilentNameServer) {
  if (!IsRoot()) GTEST_SKIP() << "a mount and network namespace of the test's own need root";
  TraceEnv env;
  const std::string resolvConf = (std::filesystem::current_path() / "resolv.conf").string();
  std::ofstream(resolvConf) << "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n";  // 10 s to give up
  int report[2];
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  std::fflush(nullptr);  // else the child's exit writes out what is buffered once more
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const SilentResolverReport seen = TraceAgainstSilentResolver(resolvConf);
    // exit, not _exit: the sanitizers' leak check runs in the child too.
    std::exit(write(report[1], &seen, sizeof seen) == sizeof seen ? 0 : 1);
  }
  close(report[1]);
  SilentResolverReport seen;
  const bool reported = child > 0 && read(report[0], &seen, sizeof seen) == sizeof seen;
  close(report[0]);
  int status = -1;
  if (child > 0) waitpid(child, &status, 0);
  ASSERT_TRUE(reported) << "child status " << status;
  if (seen.skipped[0] != 0) GTEST_SKIP() << seen.skipped;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;  // a sanitizer report
  EXPECT_TRUE(seen.refusedFails);
  EXPECT_GT(seen.queries, 0);  // Done came while the lookup waited on the server
  RecordProperty("DoneMs", static_cast<int>(seen.doneMs));
  EXPECT_LT(seen.doneMs, 2000);
  EXPECT_TRUE(seen.closed);
  EXPECT_TRUE(seen.lookupLeftRunning);
  EXPECT_TRUE(seen.lookupEnded);
}

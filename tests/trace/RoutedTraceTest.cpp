// Traces on a routed network of namespaces made by the test (RoutedTopology.h): hop addresses in
// order, the delayed link in the round-trip times, the silent router's line, the same hops as
// traceroute -I and mtr see on the same network in the same run, the trace ending at the
// client's own address and after silent hops, closing during a pending echo, and the route over IPv6.
#include <cstdio>
#include <cctype>
#include <future>
#include <iterator>
#include <sstream>

#include "RoutedTopology.h"
#include <gtest/gtest.h>

#include "TraceTestSupport.h"
#include "controls/trace/CTraceThread.h"
#include "controls/trace/CWhoIsQuery.h"
#include "controls/trace/DlgPelorinTrace.h"
#include "controls/trace/DlgPelorinTraceIds.h"
#include "platform/CaptureHelperClient.h"
#include "tests/RawCapabilityScope.h"
#include "ui/ComboBox.h"
#include "ui/ListBox.h"

using namespace trace_test;
using namespace TraceIds;

namespace {

struct PeerHop {
  std::string address;  // "" for a silent hop
  double rttMs = 0;
};

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
    pclose(pipe);
  }
  return text;
}

// The hops of a peer's report: traceroute -n's "N  a.b.c.d  x ms ..." / "N  * * *" lines (the
// first time), or mtr -r's "N.|-- a.b.c.d  loss sent last avg ..." / "N.|-- ???" lines (the average).
std::vector<PeerHop> PeerHops(const std::string& text, bool mtr) {
  std::vector<PeerHop> hops;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> word{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
    const bool hopLine = mtr ? word.size() >= 6 && word[0].find(".|--") != std::string::npos
                             : word.size() >= 2 && std::isdigit(static_cast<unsigned char>(word[0][0])) &&
                                   word[0].find('.') == std::string::npos;
    if (!hopLine) continue;
    PeerHop hop;
    if (word[1] != "*" && word[1] != "???") {
      hop.address = word[1];
      hop.rttMs = std::stod(word[mtr ? 5 : 2]);
    }
    hops.push_back(hop);
  }
  return hops;
}

class RoutedTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!IsRoot()) GTEST_SKIP() << "namespaces and raw sockets need root";
    m_topology = std::make_unique<RoutedTopology>();
    ASSERT_TRUE(m_topology->Ok()) << "the routed namespaces could not be built";
  }
  // A route window whose worker lives in the client namespace.
  std::unique_ptr<DlgPelorinTrace> OpenInClient(const char* target, DWORD echoTimeout) {
    NetnsScope inClient(m_topology->Client());
    EXPECT_TRUE(inClient.Ok());
    m_record.localAddr = inet_addr(target);
    auto window = std::make_unique<DlgPelorinTrace>(nullptr, &m_env.App(), &m_record, 0);
    window->GetThread()->SetEchoTimeout(echoTimeout);
    return window;
  }
  // One opened from the scan menu, with host typed into its host name field.
  std::unique_ptr<DlgPelorinTrace> OpenForHostInClient(const std::string& host) {
    NetnsScope inClient(m_topology->Client());
    EXPECT_TRUE(inClient.Ok());
    auto window = std::make_unique<DlgPelorinTrace>(nullptr, &m_env.App(), nullptr, 1);
    window->TypeInto(IDC_EDIT_TRACE_HOST, host);
    return window;
  }
  std::vector<std::string> Trace(DlgPelorinTrace& window, int timeoutMs) {
    EXPECT_TRUE(window.ClickButton(IDC_BUTTON_TRACE));
    return Finished(window, timeoutMs);
  }
  // The route lines once the worker has enabled the controls again.
  std::vector<std::string> Finished(DlgPelorinTrace& window, int timeoutMs) {
    auto* list = window.GetDlgItemAs<ListBox>(IDC_LIST_ROUTE);
    EXPECT_TRUE(PumpUntil([&] { return window.GetDlgItem(IDC_BUTTON_TRACE)->IsWindowEnabled() && list->GetCount() > 0; },
                          timeoutMs));
    return list->Lines();
  }

  TraceEnv m_env;
  std::unique_ptr<RoutedTopology> m_topology;
  _MonListMonItemDataIp m_record{};
};

}  // namespace

TEST_F(RoutedTrace, HopsInOrderWithTheDelayAndTheSilentRouterAsThePeersSeeThem) {
  // The peers trace the same network at the same time.
  auto traceroute = std::async(std::launch::async, [&] {
    return Output(m_topology->InClient(std::string("traceroute -I -n ") + RoutedTopology::kTarget + " 2>&1"));
  });
  auto mtr = std::async(std::launch::async, [&] {
    return Output(m_topology->InClient(std::string("mtr -n -r -c 3 -4 ") + RoutedTopology::kTarget + " 2>&1"));
  });
  auto window = OpenInClient(RoutedTopology::kTarget, CTraceThread::kEchoTimeout);
  ASSERT_TRUE(window->ClickButton(IDC_BUTTON_TRACE));
  EXPECT_TRUE(PumpUntil([&] { return !window->GetDlgItem(IDC_BUTTON_TRACE)->IsWindowEnabled(); }, 1000));
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::string> lines = Finished(*window, 15000);
  const long tookMs = MillisecondsSince(start);
  std::printf("trace of the %s-delayed route: %ld ms\n", m_topology->DelayBy(), tookMs);
  // The silent router is given up once the hops beyond it have answered, not after its timeout.
  EXPECT_LT(tookMs, static_cast<long>(CTraceThread::kEchoTimeout));
  ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
  const std::vector<_TraceHopResult>& results = window->GetThread()->Results();
  ASSERT_EQ(results.size(), 4u);
  for (int hop : {1, 3, 4}) {
    const std::string line = std::to_string(hop) + " - " + std::to_string(results[hop - 1].maxRtt) + " ms " +
                             RoutedTopology::HopAddress(hop);
    EXPECT_EQ(lines[hop - 1], line);
  }
  EXPECT_EQ(lines[1], "**  2 - **Host unreachable or blocked :11010");
  EXPECT_EQ(lines[4], CTraceThread::kTraceComplete);
  EXPECT_LT(results[0].maxRtt, 45u);
  EXPECT_LT(results[2].maxRtt, 45u);
  for (DWORD rtt : {results[3].minRtt, results[3].avgRtt, results[3].maxRtt}) {
    EXPECT_GE(rtt, 45u);  // the 50 ms delay, within 10 %
    EXPECT_LE(rtt, 55u);
  }
  EXPECT_TRUE(window->IsReady());

  const std::string tracerouteText = traceroute.get(), mtrText = mtr.get();
  for (const auto& [peer, text] : {std::pair{"traceroute", tracerouteText}, std::pair{"mtr", mtrText}}) {
    const std::vector<PeerHop> hops = PeerHops(text, std::string(peer) == "mtr");
    ASSERT_EQ(hops.size(), 4u) << peer << ":\n" << text;
    for (int hop = 1; hop <= 4; ++hop) {
      const std::string expected = hop == RoutedTopology::kSilentHop ? "" : RoutedTopology::HopAddress(hop);
      EXPECT_EQ(hops[hop - 1].address, expected) << peer << " hop " << hop;
    }
    EXPECT_NEAR(hops[3].rttMs, results[3].avgRtt, 10.0) << peer;
    EXPECT_NEAR(hops[0].rttMs, results[0].avgRtt, 10.0) << peer;
  }
}

// A window without CAP_NET_RAW traces through a ping socket where the namespace allows them, else
// through the capture helper's raw socket, with the same lines; with neither it says why.
TEST_F(RoutedTrace, WithoutCapabilityAPingSocketOrTheHelperTracesTheSameRouteAndNeitherSaysWhy) {
  const std::string helper = CaptureHelperClient::ProgramPath();
  struct Way {
    const char* pingGroups;
    std::string helper;
  };
  for (const Way& way : {Way{"0 2147483647", "/nonexistent/helper"}, Way{"1 0", helper}, Way{"1 0", "/nonexistent/helper"}}) {
    SCOPED_TRACE(std::string(way.pingGroups) + ", " + way.helper);
    ASSERT_TRUE(RoutedTopology::Run(m_topology->InClient(std::string("sysctl -qw net.ipv4.ping_group_range='") +
                                                         way.pingGroups + "'")));
    CaptureHelperClient::SetProgramPath(way.helper);
    RawCapabilityScope unprivileged;  // the window's worker and its echo threads are born without it
    ASSERT_TRUE(unprivileged.Lowered());
    // The same over IPv6, the target typed as the host.
    for (const bool v6 : {false, true}) {
      auto window = v6 ? OpenForHostInClient(RoutedTopology::kTarget6)
                       : OpenInClient(RoutedTopology::kTarget, CTraceThread::kEchoTimeout);
      const std::vector<std::string> lines = Trace(*window, 15000);
      if (way.helper != helper && way.pingGroups[0] == '1') {
        EXPECT_EQ(lines, std::vector<std::string>{CTraceThread::kNoIcmp});
        continue;
      }
      ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
      for (int hop : {1, 3, 4}) {
        const std::string address = v6 ? RoutedTopology::HopAddress6(hop) : RoutedTopology::HopAddress(hop);
        EXPECT_TRUE(lines[hop - 1].ends_with(" ms " + address)) << lines[hop - 1];
      }
      EXPECT_EQ(lines[1], "**  2 - **Host unreachable or blocked :11010");
      EXPECT_EQ(lines[4], CTraceThread::kTraceComplete);
      const std::vector<_TraceHopResult>& results = window->GetThread()->Results();
      ASSERT_EQ(results.size(), 4u);
      EXPECT_GE(results[3].minRtt, 45u);  // the delay is measured the same way
    }
  }
  CaptureHelperClient::SetProgramPath("");
}

TEST_F(RoutedTrace, TheOwnAddressEndsAfterOneHopSilentHopsEndTheTraceAndDoneCutsAnEcho) {
  const DWORD quick = 300;  // ms per silent hop, to keep the test short
  auto own = OpenInClient(RoutedTopology::kClient, quick);
  EXPECT_EQ(Trace(*own, 5000), (std::vector<std::string>{"1 - 0 ms 10.1.0.1", CTraceThread::kTraceComplete}));
  own.reset();

  // Beyond the target lies a black hole: hops 4 to 7 are silent, and four in a row end the trace.
  auto far = OpenInClient(RoutedTopology::kBlackHole, quick);
  const std::vector<std::string> lines = Trace(*far, 10000);
  ASSERT_EQ(lines.size(), 8u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[2], "3 - 0 ms 10.3.0.2");
  for (int hop = 4; hop <= 7; ++hop)
    EXPECT_EQ(lines[hop - 1], "**  " + std::to_string(hop) + " - **Host unreachable or blocked :11010");
  EXPECT_EQ(lines[7], CTraceThread::kTraceComplete);
  far.reset();

  // Closing while a silent hop with no answer beyond it waits its full 3000 ms returns at once.
  auto waiting = OpenInClient(RoutedTopology::kBlackHole, CTraceThread::kEchoTimeout);
  ASSERT_TRUE(waiting->ClickButton(IDC_BUTTON_TRACE));
  auto* list = waiting->GetDlgItemAs<ListBox>(IDC_LIST_ROUTE);
  ASSERT_TRUE(PumpUntil([&] { return list->GetCount() == 3; }, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  waiting->ClickButton(IDC_BUTTON_DONE);
  EXPECT_LT(MillisecondsSince(start), 500);
}

// The same route over IPv6, the target typed as the host: the hops in order as traceroute -6 -I
// sees them in the same run, whois for an IPv6 route point, and IPv6 text that does not parse
// failing as IPv4 text that does not.
TEST_F(RoutedTrace, Ipv6HopsAsTracerouteSeesThemWhoisOfAnIpv6PointAndBadText) {
  auto traceroute = std::async(std::launch::async, [&] {
    return Output(m_topology->InClient(std::string("traceroute -6 -I -n ") + RoutedTopology::kTarget6 + " 2>&1"));
  });
  std::unique_ptr<DlgPelorinTrace> window = OpenForHostInClient(RoutedTopology::kTarget6);
  std::unique_ptr<WhoIsServer> whois;
  {
    NetnsScope inClient(m_topology->Client());
    whois = std::make_unique<WhoIsServer>(WhoIsServer::Manner::Normal);  // on the client's 127.0.0.1
  }
  const auto traceHost = [&](const std::string& host) {
    window->TypeInto(IDC_EDIT_TRACE_HOST, host);
    return Trace(*window, 15000);
  };
  const std::vector<std::string> lines = traceHost(RoutedTopology::kTarget6);
  ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
  const std::vector<_TraceHopResult>& results = window->GetThread()->Results();
  ASSERT_EQ(results.size(), 4u);
  for (int hop : {1, 3, 4}) {
    EXPECT_EQ(lines[hop - 1], std::to_string(hop) + " - " + std::to_string(results[hop - 1].maxRtt) + " ms " +
                                  RoutedTopology::HopAddress6(hop));
    EXPECT_EQ(results[hop - 1].address, 0u);  // the IPv4 field stays empty
  }
  EXPECT_EQ(lines[1], "**  2 - **Host unreachable or blocked :11010");
  EXPECT_EQ(lines[4], CTraceThread::kTraceComplete);
  EXPECT_GE(results[3].minRtt, 45u);  // the delayed link
  const std::string tracerouteText = traceroute.get();
  const std::vector<PeerHop> hops = PeerHops(tracerouteText, false);
  ASSERT_EQ(hops.size(), 4u) << tracerouteText;
  for (int hop = 1; hop <= 4; ++hop)
    EXPECT_EQ(hops[hop - 1].address, hop == RoutedTopology::kSilentHop ? "" : RoutedTopology::HopAddress6(hop));

  // Whois for the first route point asks for its IPv6 text.
  window->GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS)->TypeText(whois->Name());
  ASSERT_TRUE(window->DoubleClickListItem(IDC_LIST_ROUTE, 0));
  const std::string expected = CWhoIsQuery::ToCrLf(WhoIsServer::kAnswer);
  ASSERT_TRUE(PumpUntil([&] { return window->GetDlgItemText(IDC_RICHEDIT_VITALS) == expected; }, 5000));
  EXPECT_EQ(whois->Queries(), std::vector<std::string>{RoutedTopology::HopAddress6(1) + "\r\n"});

  // Text that is no address and no name: the one message, whichever family it looks like.
  const std::vector<std::string> badIpv4 = traceHost("10.0.0.300");
  EXPECT_EQ(badIpv4, std::vector<std::string>{CTraceThread::kTraceFailed});
  for (const char* text : {"2001:db8::g", "1:2:3:4:5:6:7:8:9"}) EXPECT_EQ(traceHost(text), badIpv4) << text;
}

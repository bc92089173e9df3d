// The tracer's hop rules on a scripted echo library: which echo ends a hop and with what status,
// the averages, the hop-report rule and the hop limit, and a refusing callback. The answers come
// from a table given to the ICMP library's name for these tests alone; the real echoes are
// tested on a routed network (RoutedTraceTest.cpp).
#include <net/if.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <mutex>
#include <utility>

#include "common/AddressText.h"
#include "controls/trace/CTraceCallback.h"
#include "controls/trace/CTraceRoute.h"
#include "platform/IcmpApi.h"

namespace {

struct ScriptedAnswer {
  DWORD status;   // IP_SUCCESS / IP_TTL_EXPIRED_TRANSIT / an error answer, or IP_REQ_TIMED_OUT for none
  const char* from;
  DWORD rtt;
};

// Answers by time-to-live and echo number within the hop; a hop without a script is answered by
// a router 10.0.0.<ttl> in 1 ms. Echoes of several hops arrive at once from the tracer's threads.
std::mutex g_scriptLock;
std::map<int, std::vector<ScriptedAnswer>> g_script;
std::map<int, int> g_echoesSeen;
int g_handle;

HANDLE ScriptedCreate() { return &g_handle; }
BOOL ScriptedClose(HANDLE) { return 1; }
DWORD ScriptedSend(HANDLE, IPAddr, void*, unsigned short size, PIP_OPTION_INFORMATION options, void* reply,
                   DWORD replySize, DWORD) {
  EXPECT_EQ(size, 32);
  EXPECT_GE(replySize, sizeof(ICMP_ECHO_REPLY) + 32);
  std::lock_guard<std::mutex> lock(g_scriptLock);
  const int ttl = options->Ttl;
  const int echo = g_echoesSeen[ttl]++;
  const std::string router = "10.0.0." + std::to_string(ttl);
  ScriptedAnswer answer{IP_TTL_EXPIRED_TRANSIT, router.c_str(), 1};
  if (g_script.count(ttl) && echo < static_cast<int>(g_script[ttl].size())) answer = g_script[ttl][echo];
  if (answer.status == IP_REQ_TIMED_OUT) {
    SetLastError(IP_REQ_TIMED_OUT);
    return 0;
  }
  auto* record = static_cast<ICMP_ECHO_REPLY*>(reply);
  *record = ICMP_ECHO_REPLY{};
  record->Address = InetAddr(answer.from);
  record->Status = answer.status;
  record->RoundTripTime = answer.rtt;
  return 1;
}

class RecordingCallback : public CTraceCallback {
 public:
  std::vector<std::pair<int, _TraceHopResult>> hops;
  std::vector<int> maxHops;
  int echoes = 0;
  int refuseAtEcho = -1;
  BOOL OnEcho(int, const TraceEchoResult&) override { return ++echoes == refuseAtEcho ? 0 : 1; }
  BOOL OnHop(int hop, const _TraceHopResult& result) override {
    hops.emplace_back(hop, result);
    return 1;
  }
  void OnMaxHops(int hop) override { maxHops.push_back(hop); }
};

class TraceRules : public ::testing::Test {
 protected:
  TraceRules()
      : m_library("icmp.dll", {MakeExport("IcmpCreateFile", &ScriptedCreate), MakeExport("IcmpCloseHandle", &ScriptedClose),
                               MakeExport("IcmpSendEcho", &ScriptedSend)}) {
    g_script.clear();
    g_echoesSeen.clear();
  }
  ScopedLibraryExports m_library;
  CTraceRoute m_tracer;
  std::vector<_TraceHopResult> m_results;
  RecordingCallback m_callback;
};

}  // namespace

TEST_F(TraceRules, TheFirstUnansweredEchoEndsItsHopAndTheDestinationEndsTheTrace) {
  g_script[1] = {{IP_TTL_EXPIRED_TRANSIT, "10.0.0.1", 1}, {IP_TTL_EXPIRED_TRANSIT, "10.0.0.1", 2},
                 {IP_TTL_EXPIRED_TRANSIT, "10.0.0.1", 4}};
  g_script[2] = {{IP_TTL_EXPIRED_TRANSIT, "10.0.0.2", 7}, {IP_REQ_TIMED_OUT, "", 0}};
  g_script[3] = {{IP_DEST_HOST_UNREACHABLE, "10.0.0.3", 1}};  // an error answer is no answer
  g_script[4] = {{IP_SUCCESS, "10.7.7.7", 9}, {IP_SUCCESS, "10.7.7.7", 9}, {IP_SUCCESS, "10.7.7.7", 10}};
  m_tracer.SetHopsInFlight(1);  // one echo after the other, so the script's echo numbers hold
  m_tracer.SetStop(0);
  ASSERT_TRUE(m_tracer.Trace("10.7.7.7", &m_results, 128, 3000, 3, &m_callback));

  ASSERT_EQ(m_results.size(), 4u);
  EXPECT_EQ(m_results[0].status, 0u);
  EXPECT_EQ(m_results[0].minRtt, 1u);
  EXPECT_EQ(m_results[0].avgRtt, 2u);  // 7 / 3, in whole ms
  EXPECT_EQ(m_results[0].maxRtt, 4u);
  // The second echo timed out: the hop keeps the first echo's address and no times; the third
  // echo is never sent.
  EXPECT_EQ(m_results[1].status, IP_REQ_TIMED_OUT);
  EXPECT_EQ(InetNtoa(m_results[1].address), "10.0.0.2");
  EXPECT_EQ(m_results[1].maxRtt, 0u);
  EXPECT_EQ(g_echoesSeen[2], 2);
  EXPECT_EQ(m_results[2].status, IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(m_results[3].maxRtt, 10u);
  EXPECT_TRUE(m_tracer.IsStop());  // destination reached
  EXPECT_EQ(m_callback.echoes, 3 + 1 + 3);
  EXPECT_EQ(g_echoesSeen.count(5), 0u);

  EXPECT_EQ(CTraceCallback::HopLine(2, m_results[1], ""), "**  2 - **Host unreachable or blocked :11010");
  EXPECT_EQ(CTraceCallback::HopLine(4, m_results[3], ""), "4 - 10 ms 10.7.7.7");
  EXPECT_EQ(CTraceCallback::HopLine(4, m_results[3], "far.example"), "4 - 10 ms far.example [10.7.7.7]");
}

TEST_F(TraceRules, SilentHopsHopReportRuleAndHopLimitOneHopOrManyAtOnce) {
  for (int hopsInFlight : {1, CTraceRoute::kHopsInFlight}) {
    SCOPED_TRACE(hopsInFlight);
    m_tracer.SetHopsInFlight(hopsInFlight);
    // More than three silent hops in a row end the trace; an answered hop in between resets the count.
    g_script.clear();
    g_echoesSeen.clear();
    for (int ttl : {2, 3, 4, 6, 7, 8, 9}) g_script[ttl] = {{IP_REQ_TIMED_OUT, "", 0}, {IP_REQ_TIMED_OUT, "", 0}, {IP_REQ_TIMED_OUT, "", 0}};
    m_results.clear();
    m_callback.hops.clear();
    m_tracer.SetStop(0);
    ASSERT_TRUE(m_tracer.Trace("10.7.7.7", &m_results, 128, 3000, 3, &m_callback));
    EXPECT_EQ(m_results.size(), 9u);
    EXPECT_EQ(m_results[8].status, IP_REQ_TIMED_OUT);
    EXPECT_EQ(m_results[4].status, 0u);
    EXPECT_EQ(m_callback.hops.size(), 9u);
    EXPECT_TRUE(m_tracer.IsStop());

    // A route that never arrives: hops 1-125 and 127 are reported, 128 is the hop limit.
    g_script.clear();
    g_echoesSeen.clear();
    m_results.clear();
    m_callback.hops.clear();
    m_callback.maxHops.clear();
    m_tracer.SetStop(0);
    ASSERT_TRUE(m_tracer.Trace("10.7.7.7", &m_results, 128, 3000, 3, &m_callback));
    EXPECT_EQ(m_results.size(), 128u);
    ASSERT_EQ(m_callback.hops.size(), 126u);
    EXPECT_EQ(m_callback.hops[124].first, 125);
    EXPECT_EQ(m_callback.hops[125].first, 127);
    EXPECT_EQ(InetNtoa(m_callback.hops[125].second.address), "10.0.0.127");
    EXPECT_EQ(m_callback.maxHops, (std::vector<int>{128}));
    EXPECT_FALSE(m_tracer.IsStop());  // the hop limit is no arrival

    // A callback that refuses cancels the trace.
    m_tracer.SetStop(0);
    m_callback.refuseAtEcho = m_callback.echoes + 2;
    EXPECT_FALSE(m_tracer.Trace("10.7.7.7", &m_results, 128, 3000, 3, &m_callback));
    EXPECT_EQ(GetLastError(), ERROR_CANCELLED);
    m_callback.refuseAtEcho = -1;
  }
}

TEST_F(TraceRules, WithoutTheLibraryOrATargetTheTraceFails) {
  EXPECT_FALSE(m_tracer.Trace("", &m_results, 128, 3000, 3, &m_callback));
  {
    ScopedLibraryExports missing("icmp.dll");
    EXPECT_FALSE(CTraceRoute::IcmpInit());
    EXPECT_FALSE(m_tracer.Trace("10.7.7.7", &m_results, 128, 3000, 3, &m_callback));
  }
  EXPECT_TRUE(m_results.empty());
}

TEST(TraceAddressText, Ipv6TextsParseToTheirShortestFormAndBadOnesToNothing) {
  const std::optional<TraceAddress> full = TraceAddress::Parse("2001:DB8:0:0:0:0:0:1");
  ASSERT_TRUE(full && full->IsV6());
  EXPECT_EQ(full->Text(), "2001:db8::1");
  const std::optional<TraceAddress> scoped = TraceAddress::Parse("fe80::1%lo");
  ASSERT_TRUE(scoped);
  EXPECT_EQ(scoped->scopeId, if_nametoindex("lo"));
  EXPECT_EQ(*scoped, *TraceAddress::Parse("fe80::1"));  // the same address, reached by another way
  // A mapped address is IPv4; the classic IPv4 forms still read.
  EXPECT_EQ(TraceAddress::Parse("::ffff:10.0.0.1"), TraceAddress::FromV4(InetAddr("10.0.0.1")));
  EXPECT_EQ(TraceAddress::Parse("10.1")->Text(), "10.0.0.1");
  for (const char* bad : {"2001:db8::g", "1:2:3:4:5:6:7:8:9", "1::2::3", "", "fd00:4::2 "})
    EXPECT_FALSE(TraceAddress::Parse(bad).has_value()) << bad;
  // Nor does such text resolve as a name.
  EXPECT_FALSE(CTraceRoute::ResolveTarget("2001:db8::g").has_value());
}

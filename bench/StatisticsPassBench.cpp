// Cost of one statistics pass of both statistics panes: the TCP, UDP, ICMP and IP counters (and
// the IPv6 ones where the machine has IPv6) fetched and written into the panes' rows, as the workers do each scan interval. Beside it the
// fetch alone, and a pass that rebuilds the rows (the first pass after a clearing).
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <cstdlib>
#include <string>

#include "common/ResultCodes.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/AppProfile.h"
#include "platform/IpHelper.h"

namespace {

const Rect kRect{0, 0, 700, 200};

// Both panes, created as the frame creates them but never started: the benchmark runs their
// passes on its own thread.
struct Panes {
  Panes() {
    ::setenv("PELORIN_REGISTRY", "/tmp/pelorin-stats-bench.reg", 1);
    if (stat.MonListCreate(nullptr, 1025, kRect) != S_OK || ip.MonListCreate(nullptr, 1026, kRect) != S_OK)
      std::abort();
    stat.GetStatsThread()->LoadEntryPoints();
    ip.GetStatsThread()->LoadEntryPoints();
  }
  void Pass() {
    stat.GetStatsThread()->Scan();
    ip.GetStatsThread()->Scan();
  }
  AppProfile app;
  MonListStat stat{&app, "Pelorin Pro v3.1"};
  MonListStatIp ip{&app, "Pelorin Pro v3.1"};
};

void BM_StatisticsPass_BothPanes(benchmark::State& state) {
  Panes panes;
  panes.Pass();  // the rows exist, as after the first pass
  for (auto _ : state) panes.Pass();
  if (panes.stat.GetItemCount() < 3 || panes.ip.GetItemCount() < 1) state.SkipWithError("rows missing");
}
BENCHMARK(BM_StatisticsPass_BothPanes)->Unit(benchmark::kMicrosecond);

void BM_StatisticsPass_RowsRebuilt(benchmark::State& state) {
  Panes panes;
  for (auto _ : state) {
    panes.stat.GetStatsThread()->SetDeleteAll(1);
    panes.ip.GetStatsThread()->SetDeleteAll(1);
    panes.Pass();
  }
}
BENCHMARK(BM_StatisticsPass_RowsRebuilt)->Unit(benchmark::kMicrosecond);

void BM_StatisticsFetchOnly(benchmark::State& state) {
  MIB_TCPSTATS tcp{};
  MIB_UDPSTATS udp{};
  MIB_ICMP icmp{};
  MIB_IPSTATS ip{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetTcpStatistics(&tcp) | GetUdpStatistics(&udp) | GetIcmpStatistics(&icmp) |
                             GetIpStatistics(&ip));
  }
}
BENCHMARK(BM_StatisticsFetchOnly)->Unit(benchmark::kMicrosecond);

// The IPv6 counters alone: the three calls the IPv6 rows make.
void BM_StatisticsFetchOnlyIpv6(benchmark::State& state) {
  MIB_UDPSTATS udp{};
  MIB_ICMP_EX icmp{};
  MIB_IPSTATS ip{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetUdpStatisticsEx(&udp, AF_INET6) | GetIcmpStatisticsEx(&icmp, AF_INET6) |
                             GetIpStatisticsEx(&ip, AF_INET6));
  }
}
BENCHMARK(BM_StatisticsFetchOnlyIpv6)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

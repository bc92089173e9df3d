// Whole-process timing of a route trace on the routed namespaces of the route tests (4 hops, the
// last link delayed by 50 ms), ours beside traceroute -I -n and mtr -r -c 3 in the same run,
// with and without the silent router; then the whois round trip to a server on 127.0.0.1.
//
//   sudo build-rel/bin/TraceRouteBench [runs]
//
// Each command runs as its own process in the client namespace (ours is this program again with
// --trace); the runs alternate between the commands and the medians are printed.
#include <limits.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "controls/trace/CTraceRoute.h"
#include "controls/trace/CWhoIsQuery.h"
#include "tests/trace/RoutedTopology.h"
#include "tests/trace/TraceTestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double TimedMs(const std::string& command) {
  const auto start = Clock::now();
  RoutedTopology::Run(command + " >/dev/null 2>&1");
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The trace as the route window runs it: 128 hops at most, 3000 ms per echo, 3 echoes per hop.
int TraceOnly(const char* target) {
  CTraceRoute tracer;
  std::vector<_TraceHopResult> results;
  tracer.SetStop(0);
  if (!tracer.Trace(target, &results, 128, 3000, 3, nullptr)) return 1;
  for (std::size_t hop = 0; hop < results.size(); ++hop)
    std::printf("%zu %u %u\n", hop + 1, results[hop].status, results[hop].avgRtt);
  return 0;
}

void CompareTraces(bool silentRouter, int runs, const std::string& self) {
  RoutedTopology topology(silentRouter);
  if (!topology.Ok()) {
    std::printf("the routed namespaces could not be built\n");
    return;
  }
  const std::string target = RoutedTopology::kTarget;
  const std::vector<std::pair<std::string, std::string>> commands = {
      {"PelorinPro trace", topology.InClient(self + " --trace " + target)},
      {"traceroute -I -n", topology.InClient("traceroute -I -n " + target)},
      {"mtr -n -r -c 3 -4", topology.InClient("mtr -n -r -c 3 -4 " + target)},
  };
  std::vector<std::vector<double>> times(commands.size());
  std::vector<double> inProcess;  // the trace alone, without a process start: what the window waits
  for (int run = 0; run < runs; ++run) {
    for (std::size_t i = 0; i < commands.size(); ++i) times[i].push_back(TimedMs(commands[i].second));
    std::thread([&] {
      NetnsScope inClient(topology.Client());
      CTraceRoute tracer;
      std::vector<_TraceHopResult> results;
      tracer.SetStop(0);
      const auto start = Clock::now();
      tracer.Trace(target, &results, 128, 3000, 3, nullptr);
      inProcess.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }).join();
  }
  std::printf("route to %s, %s router, last link delayed %d ms by %s, %d runs each (median wall ms):\n",
              target.c_str(), silentRouter ? "one silent" : "no silent", RoutedTopology::kDelayMs, topology.DelayBy(), runs);
  for (std::size_t i = 0; i < commands.size(); ++i)
    std::printf("  %-20s %8.1f  (min %.1f, max %.1f)\n", commands[i].first.c_str(), Median(times[i]),
                *std::min_element(times[i].begin(), times[i].end()), *std::max_element(times[i].begin(), times[i].end()));
  std::printf("  %-20s %8.1f\n", "(trace in process)", Median(inProcess));
  std::printf("  ratio ours / traceroute -I: %.2f\n", Median(times[0]) / Median(times[1]));
}

void WhoIsRoundTrip(int queries) {
  trace_test::WhoIsServer server(trace_test::WhoIsServer::Manner::Normal);
  CWhoIsQuery whois;
  whois.SetServer(server.Name());
  std::vector<double> times;
  for (int i = 0; i < queries; ++i) {
    const auto start = Clock::now();
    const std::string answer = whois.Query(CWhoIsQuery::BuildQuery("", "10.1.2.3"));
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (answer != trace_test::WhoIsServer::kAnswer) std::printf("unexpected answer\n");
  }
  std::sort(times.begin(), times.end());
  std::printf("whois round trip to 127.0.0.1, %d queries: median %.0f us, 90th percentile %.0f us\n", queries,
              Median(times), times[times.size() * 9 / 10]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--trace") return TraceOnly(argv[2]);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
  if (geteuid() != 0) {
    std::printf("skipped: the namespaces and raw sockets need root\n");
  } else {
    CompareTraces(false, runs, self);
    CompareTraces(true, runs, self);
  }
  WhoIsRoundTrip(200);
  return 0;
}

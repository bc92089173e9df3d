// One scan pass of the connections pane with 10,000 TCP sockets open on loopback, half of them
// IPv6: the pass that fills an empty list, and the pass that refreshes it, against `ss -tanp`
// over the same sockets.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/LoopbackSockets.h"
#include "bench/RatioReporter.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "platform/AppProfile.h"

namespace {

constexpr int kPairs = 2500;  // connected pairs of each family: 10,000 TCP sockets, plus two listeners

// The sockets, a private registry and working folder, and a created pane whose scanner is idle
// (the passes run on the benchmark's thread).
class Setup {
 public:
  static Setup& Get() {
    static Setup setup;
    return setup;
  }
  MonListMon& List() { return *m_list; }
  PelorinCThreadMonListMon& Scanner() { return *m_list->Scanner(); }
  std::size_t Sockets() const { return m_sockets->Count() + m_sockets6->Count(); }

  ~Setup() {
    m_list->ProcessClose();
    m_list.reset();
    m_sockets.reset();
    m_sockets6.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

 private:
  Setup() {
    char pattern[] = "/tmp/pelorin-scanbench-XXXXXX";
    if (!::mkdtemp(pattern)) std::exit(1);
    m_dir = pattern;
    std::filesystem::current_path(m_dir);
    ::setenv("PELORIN_REGISTRY", (m_dir + "/registry.reg").c_str(), 1);
    m_sockets = std::make_unique<LoopbackSockets>(kPairs);
    m_sockets6 = std::make_unique<LoopbackSockets>(kPairs, AF_INET6);
    m_list = std::make_unique<MonListMon>(&m_profile, "Connections", "PelorinPro");
    if (m_list->MonListCreate(nullptr, 1024, Rect{0, 0, 800, 600}) != 0 || !m_list->Scanner()) {
      std::fprintf(stderr, "pane creation failed\n");
      std::exit(1);
    }
  }

  std::string m_dir;
  AppProfile m_profile;
  std::unique_ptr<LoopbackSockets> m_sockets;
  std::unique_ptr<LoopbackSockets> m_sockets6;
  std::unique_ptr<MonListMon> m_list;
};

// The first pass over an emptied list and log: a row, texts, icon and a connect record for
// every endpoint.
void BM_ScanPass_FillsEmptyList_10kSockets(benchmark::State& state) {
  Setup& setup = Setup::Get();
  for (auto _ : state) {
    state.PauseTiming();
    setup.Scanner().ListDeleteAll();  // rows and log
    state.ResumeTiming();
    setup.Scanner().ScanPass();
  }
  state.counters["ourSockets"] = static_cast<double>(setup.Sockets());
  state.counters["rows"] = setup.List().GetItemCount();
}
BENCHMARK(BM_ScanPass_FillsEmptyList_10kSockets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// A pass over a filled list: every row found again and refreshed.
void BM_ScanPass_Refresh_10kSockets(benchmark::State& state) {
  Setup& setup = Setup::Get();
  setup.Scanner().ScanPass();
  for (auto _ : state) setup.Scanner().ScanPass();
  state.counters["rows"] = setup.List().GetItemCount();
}
BENCHMARK(BM_ScanPass_Refresh_10kSockets)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// `ss -tanp` over the same sockets.
void BM_SsTanp_10kSockets(benchmark::State& state) {
  Setup::Get();
  TimeSsTanp(state);
}
BENCHMARK(BM_SsTanp_10kSockets)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("BM_SsTanp_10kSockets",
                         {"BM_ScanPass_FillsEmptyList_10kSockets", "BM_ScanPass_Refresh_10kSockets"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

// Round trip of one request with reply (the statistics request) between the console's channel
// and a running engine program: place the request, wait for the reply flag.
//
// The engine is RamparoThreadApp beside this program (or in $PELORIN_ENGINE_DIR), run in a
// private folder with a private registry. The first argument is the engine's poll period in
// ms; the console looks at the reply flag every millisecond. Back to back, each request lands
// just after the engine's last look and waits a whole period; with the second argument 1 a
// random pause of up to 10 ms (not timed) comes before each request, as a console's requests
// arrive at no particular moment.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/RampaEngineProcess.h"
#include "controls/firewall/RampaSharedBlock.h"

namespace {

std::string EngineFolder() {
  if (const char* folder = std::getenv("PELORIN_ENGINE_DIR"); folder && *folder) return folder;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

void BM_EngineRoundTrip(benchmark::State& state) {
  char pattern[] = "/tmp/pelorin-bench-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  ::setenv("PELORIN_REGISTRY", (folder + "/registry.reg").c_str(), 1);
  const std::string file = folder + "/RamparoInterfaceMem.mem";

  RampaEngineProcess engine;
  if (!engine.Start(EngineFolder(), folder, {"--poll-ms", std::to_string(state.range(0))})) {
    state.SkipWithError("cannot start RamparoThreadApp");
    std::filesystem::remove_all(folder);
    return;
  }
  CRampaMem console(nullptr, "RamparoInterfaceMem.mem", file);
  void* view = nullptr;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (std::filesystem::exists(file) && !view) view = console.MemAttach();
    if (view && RampaBlockGet(view, kRampaOffEnginePresent)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pauseUs(0, 10000);
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    if (state.range(1)) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t* reply = console.SendEngineMessageWithReturn(kRampaMsgStatistics, 0, 0, 1);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!reply) {
      state.SkipWithError("no reply from the engine");
      break;
    }
    benchmark::DoNotOptimize(reply);
    times.push_back(elapsed.count() * 1000.0);
    state.SetIterationTime(elapsed.count());
  }
  if (!times.empty()) {
    state.counters["median_ms"] = Percentile(times, 0.5);
    state.counters["p90_ms"] = Percentile(times, 0.9);
    state.counters["max_ms"] = Percentile(times, 1.0);
  }

  console.SendEngineMessageWithReturn(kRampaMsgShutdown, 0, 0, 1);
  if (!engine.WaitForExit(5000)) {
    engine.Signal(SIGKILL);
    engine.WaitForExit(5000);
  }
  console.MemDetach();
  std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(BM_EngineRoundTrip)
    ->Args({10, 0})  // the engine's default poll period
    ->Args({10, 1})
    ->Args({1, 0})
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// The whole per-packet path of the packet pane's capture thread, fed from a capture file: read,
// decode, time text, log append and row insertion into the pane (filters off, Monitor Exclusive
// off, logging on, page size 10000). For scale, the same file is rewritten by tcpdump in the
// same run (read + write of every frame, no decoding). Beside the times, the processor time per
// packet: of the capture thread and the log's writer thread, and of tcpdump. BM_PaneReplay/1
// also draws the newest rows as the view does (every 100 ms, "Process" column included), which
// keeps the pane's socket owner snapshot refreshing in the background during the replay.
//
//   build-rel/bin/CaptureThreadReplayBench [--packets=N] [--half-ipv6] [benchmark flags]
//
// Where timings swing from run to run (a shared machine), --benchmark_repetitions=3
// --benchmark_enable_random_interleaving=true interleaves our runs with tcpdump's; the ratio is
// of the best of all of them.
//
// The capture file (1,000,000 frames by default) is built once per run in a private folder under
// /tmp by repeating the frames of the recorded test captures (with --half-ipv6, their IPv6 frames
// taking every other turn), and removed at exit.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/ReplayCapture.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long g_packets = 1000000;
bool g_halfIpv6 = false;
std::string g_folder;
std::string g_capture;
double g_oursBest = 0, g_tcpdumpBest = 0;  // s, best of the iterations

template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Time on the processor of this process's threads of a name (schedstat, ns), so that the cost per
// packet can be told apart from what other work on the machine takes.
std::uint64_t ThreadCpuNs(const std::string& name) {
  std::uint64_t total = 0;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string text;
    std::getline(comm, text);
    if (text != name) continue;
    std::ifstream stat(task.path() / "schedstat");
    std::uint64_t ns = 0;
    stat >> ns;
    total += ns;
  }
  return total;
}

void BM_PaneReplay(benchmark::State& state) {
  const std::string logPath = g_folder + "/PelorinProLogPkt.rec";
  AppProfile app;
  app.WriteProfileString("", "IpMonLogCurrent", logPath);
  app.WriteProfileInt("", "LogPageSize", 10000);
  app.WriteProfileInt("", "LogIpMon", 1);
  app.WriteProfileInt("", "AdapterCurr", 0);
  app.WriteProfileString("", "AdapterCurrName", "file://" + g_capture);
  app.WriteProfileString("", "AdapterCurrDesc", "replay");

  std::uint64_t rows = 0, frames = 0;
  double captureNs = 0, writerNs = 0, ownersNs = 0;
  const bool drawing = state.range(0) != 0;
  for (auto _ : state) {
    fs::remove(logPath);
    MonListIpMon pane(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
    if (pane.MonListCreate(nullptr, 1024, Rect{0, 0, 800, 400}) != 0) {
      state.SkipWithError("pane not created");
      return;
    }
    MonListIpMonCWinThread* thread = pane.GetCaptureThread();
    WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
    const std::uint64_t captureCpu = ThreadCpuNs("pelorin-worker"), writerCpu = ThreadCpuNs("pelorin-logwr");
    const std::uint64_t ownersCpu = ThreadCpuNs("pelorin-owners");
    std::atomic<bool> drawn{false};
    std::thread view;
    if (drawing)
      view = std::thread([&pane, &drawn] {
        std::string text;
        while (!drawn.load()) {
          const int count = pane.GetItemCount();
          for (int row = std::max(0, count - 30); row < count; ++row)
            for (int column = 0; column <= MonListIpMon::kProcessColumn; ++column)
              pane.GetCell(row, column, &text, nullptr, nullptr);
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
      });
    const auto start = Clock::now();
    pane.ListStart();
    if (!thread->GetIdleMessage()) {
      state.SkipWithError("capture did not start");
      return;
    }
    // The file's end is noticed at the first empty read; timing stops there.
    WaitUntil([thread] { return thread->IsReplayDone(); }, 600000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // A time counts only for the whole file: an end noticed early would flatter it.
    if (thread->GetFramesRead() != static_cast<std::uint64_t>(g_packets)) {
      state.SkipWithError("the replay ended before the file's end");
      return;
    }
    pane.ListStop();
    drawn.store(true);
    if (view.joinable()) view.join();
    ownersNs += static_cast<double>(ThreadCpuNs("pelorin-owners") - ownersCpu);
    captureNs += static_cast<double>(ThreadCpuNs("pelorin-worker") - captureCpu);
    writerNs += static_cast<double>(ThreadCpuNs("pelorin-logwr") - writerCpu);
    rows = thread->GetRowsAdded();
    frames = thread->GetFramesRead();
    state.SetIterationTime(seconds);
    if (g_oursBest == 0 || seconds < g_oursBest) g_oursBest = seconds;
    state.counters["log_MB"] = static_cast<double>(fs::file_size(logPath)) / 1e6;
    pane.ProcessClose();
    UiPump::Instance().PumpPending();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames));
  const double perPacket = static_cast<double>(state.iterations()) * static_cast<double>(g_packets);
  state.counters["capture_cpu_ns_per_pkt"] = captureNs / perPacket;
  state.counters["writer_cpu_ns_per_pkt"] = writerNs / perPacket;
  state.counters["owners_cpu_ns_per_pkt"] = ownersNs / perPacket;
  state.counters["frames"] = static_cast<double>(frames);
  state.counters["rows"] = static_cast<double>(rows);
}

// One refresh of the "Process" column's snapshot (endpoint tables, owners, names): what the pane's
// own thread spends once a second while its rows are drawn.
void BM_OwnerRefresh(benchmark::State& state) {
  AppProfile app;
  MonListIpMon pane(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
  if (pane.MonListCreate(nullptr, 1024, Rect{0, 0, 800, 400}) != 0) {
    state.SkipWithError("pane not created");
    return;
  }
  for (auto _ : state) pane.GetOwnerCache()->Refresh();
  pane.ProcessClose();
  UiPump::Instance().PumpPending();
}

void BM_TcpdumpRewrite(benchmark::State& state) {
  const std::string command = "tcpdump -r '" + g_capture + "' -w '" + g_folder + "/out.pcap' >/dev/null 2>&1";
  double cpuNs = 0;
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("tcpdump failed");
      return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    getrusage(RUSAGE_CHILDREN, &after);
    auto ns = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_usec) * 1e3; };
    cpuNs += ns(after.ru_utime) - ns(before.ru_utime) + ns(after.ru_stime) - ns(before.ru_stime);
    state.SetIterationTime(seconds);
    if (g_tcpdumpBest == 0 || seconds < g_tcpdumpBest) g_tcpdumpBest = seconds;
  }
  state.SetItemsProcessed(state.iterations() * g_packets);
  state.counters["cpu_ns_per_pkt"] = cpuNs / static_cast<double>(state.iterations()) / static_cast<double>(g_packets);
}

}  // namespace

BENCHMARK(BM_PaneReplay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(BM_OwnerRefresh)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TcpdumpRewrite)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--packets=", 10) == 0) g_packets = std::atol(argv[i] + 10);
    if (std::strcmp(argv[i], "--half-ipv6") == 0) g_halfIpv6 = true;
  }
  benchmark::Initialize(&argc, argv);

  std::string pattern = "/tmp/pelorin-replay-XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  g_folder = pattern;
  g_capture = g_folder + "/replay.pcap";
  // A private registry store: the bench never touches the user's settings.
  setenv("PELORIN_REGISTRY", (g_folder + "/registry.reg").c_str(), 1);
  UiPump::Instance().AttachToCurrentThread();
  if (WriteReplayCapture(g_capture, g_packets, g_halfIpv6) < 0) {
    std::fprintf(stderr, "cannot write %s from the test captures in tests/data/pcap\n", g_capture.c_str());
    fs::remove_all(g_folder);
    return 1;
  }
  std::printf("capture: %ld packets in %s (%.1f MB)\n", g_packets, g_capture.c_str(),
              static_cast<double>(fs::file_size(g_capture)) / 1e6);

  benchmark::RunSpecifiedBenchmarks();
  if (g_oursBest > 0 && g_tcpdumpBest > 0)
    std::printf(
        "best: pane replay (read, decode, log, row) %.0f packets/s, tcpdump -r -w %.0f packets/s, "
        "ratio (ours / tcpdump) %.2f\n",
        g_packets / g_oursBest, g_packets / g_tcpdumpBest, g_tcpdumpBest / g_oursBest);
  benchmark::Shutdown();
  fs::remove_all(g_folder);
  return 0;
}

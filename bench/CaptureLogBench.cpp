// Replays a large capture file through the adapter, decodes every frame and appends it to a
// packet log: the per-packet path of the capture thread without the list. For scale, the same
// file is also rewritten by tcpdump (read + write of every frame, no decoding).
//
//   build-rel/bin/CaptureLogBench [--packets=N] [benchmark flags]
//
// The capture file is built once per run in a private temporary folder by repeating the frames of
// the recorded test captures, and removed at exit.
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ReplayCapture.h"
#include "common/TimeText.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogFile.h"
#include "wincap/PelorinAdapter.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long g_packets = 1000000;
std::string g_folder;
std::string g_capture;
double g_captureBytes = 0;
double g_oursBest = 0, g_tcpdumpBest = 0;  // seconds, best of the iterations

// How far each packet goes: 0 read only, 1 read and decode, 2 read, decode and log.
void Replay(benchmark::State& state, int depth, bool best) {
  const std::string logPath = g_folder + "/PelorinProLogPkt.rec";
  long packets = 0, logged = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    _PelorinWinCapAdapter source{};
    const std::string name = "file://" + g_capture;
    name.copy(source.name, sizeof source.name - 1);
    PelorinAdapter adapter(&source);
    PacketLogFile log;
    if (adapter.Open() != 1 || (depth >= 2 && !log.OpenTruncate(logPath))) {
      state.SkipWithError("cannot open the capture or the log");
      return;
    }
    _PelorinAdapterPacket packet{};
    DecodedPacket decoded;
    packets = logged = 0;
    while (adapter.Read(&packet, 0) > 0) {
      ++packets;
      if (depth < 1) continue;
      DecodeFrame(packet.data, packet.length, 14, decoded);
      benchmark::DoNotOptimize(decoded.payload);
      if (depth < 2) continue;
      const std::string time = FormatMillisTime(packet.seconds, static_cast<int>(packet.microseconds / 1000));
      DWORD position = 0;
      if (log.Write(packet.data, static_cast<LONG>(packet.length), decoded.sourceText.c_str(),
                    decoded.destinationText.c_str(), time.c_str(), &position) > 0)
        ++logged;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (best && (g_oursBest == 0 || seconds < g_oursBest)) g_oursBest = seconds;
  }
  state.SetItemsProcessed(state.iterations() * packets);
  state.counters["packets"] = static_cast<double>(packets);
  if (depth >= 2) {
    state.counters["logged"] = static_cast<double>(logged);
    state.counters["log_MB"] = static_cast<double>(fs::file_size(logPath)) / 1e6;
  }
}

void BM_ReplayOnly(benchmark::State& state) { Replay(state, 0, false); }
void BM_ReplayDecode(benchmark::State& state) { Replay(state, 1, false); }
void BM_ReplayDecodeLog(benchmark::State& state) { Replay(state, 2, true); }

void BM_TcpdumpRewrite(benchmark::State& state) {
  const std::string command = "tcpdump -r '" + g_capture + "' -w '" + g_folder + "/out.pcap' >/dev/null 2>&1";
  for (auto _ : state) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("tcpdump failed");
      return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (g_tcpdumpBest == 0 || seconds < g_tcpdumpBest) g_tcpdumpBest = seconds;
  }
  state.SetItemsProcessed(state.iterations() * g_packets);
}

}  // namespace

BENCHMARK(BM_ReplayOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReplayDecode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ReplayDecodeLog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_TcpdumpRewrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--packets=", 10) == 0) g_packets = std::atol(argv[i] + 10);
  benchmark::Initialize(&argc, argv);

  std::string pattern = (fs::temp_directory_path() / "pelorin-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  g_folder = pattern;
  g_capture = g_folder + "/replay.pcap";
  g_captureBytes = WriteReplayCapture(g_capture, g_packets);
  if (g_captureBytes < 0) {
    std::fprintf(stderr, "cannot write %s from the test captures in tests/data/pcap\n", g_capture.c_str());
    fs::remove_all(g_folder);
    return 1;
  }
  std::printf("capture: %ld packets, %.1f MB of frames (%.1f bytes a frame)\n", g_packets, g_captureBytes / 1e6,
              g_captureBytes / static_cast<double>(g_packets));

  benchmark::RunSpecifiedBenchmarks();
  if (g_oursBest > 0 && g_tcpdumpBest > 0)
    std::printf(
        "best: replay+decode+log %.0f packets/s, tcpdump -r -w %.0f packets/s, "
        "ratio (ours / tcpdump) %.2f\n",
        g_packets / g_oursBest, g_packets / g_tcpdumpBest, g_tcpdumpBest / g_oursBest);
  benchmark::Shutdown();
  fs::remove_all(g_folder);
  return 0;
}

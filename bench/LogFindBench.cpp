// Searches a packet log of at least 1 GB, built from the replay capture, with each criterion of
// the "Find" dialog and lists its pages as the "Log Pages" dialog does; in the same run rg and grep
// count the lines holding the same text, exactly and without regard to case, for scale.
//
//   build-rel/bin/LogFindBench [--log-mb=N] [--text=T] [benchmark flags]
//
// The log is written once per run in a private temporary folder with the packet log writer and
// removed at exit. Every timing is on a warm page cache: the file is read once before the first.
// The criteria name only the texts they set; GCC 12 warns about the rest.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <benchmark/benchmark.h>
#include <pcap/pcap.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/RatioReporter.h"
#include "bench/ReplayCapture.h"
#include "bench/ReplayLog.h"
#include "common/TimeText.h"
#include "wincap/DecodedPacket.h"
#include "wincap/LogFindSearch.h"
#include "wincap/LogPagesScan.h"
#include "wincap/PacketLogFile.h"

namespace {

namespace fs = std::filesystem;

long g_logMegabytes = 1100;
std::string g_text = "wikipedia";
std::string g_folder;
std::string g_log;
double g_logBytes = 0;

bool OpenLog(benchmark::State& state, PacketLogBlockReader& reader) {
  if (reader.Open(g_log)) return true;
  state.SkipWithError("cannot open the log");
  return false;
}

void Search(benchmark::State& state, const LogFindTexts& texts) {
  long rows = 0;
  for (auto _ : state) {
    PacketLogBlockReader reader;
    if (!OpenLog(state, reader)) return;
    LogFindSearch search{LogFindCriteria(texts), 256};
    rows = search.Run(reader, [](LogFindHit&& hit) { benchmark::DoNotOptimize(hit.find.position); });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_logBytes));
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_FindText(benchmark::State& state) { Search(state, {.text = g_text}); }
void BM_FindHex(benchmark::State& state) { Search(state, {.hex = "47 45 54 20 2F"}); }  // "GET /"
void BM_FindIpRange(benchmark::State& state) { Search(state, {.ipFrom = "192.168.0.0", .ipTo = "192.168.255.255"}); }
void BM_FindSizeRange(benchmark::State& state) { Search(state, {.sizeMin = "100", .sizeMax = "200"}); }

void BM_LogPages(benchmark::State& state) {
  long pages = 0;
  for (auto _ : state) {
    PacketLogBlockReader reader;
    if (!OpenLog(state, reader)) return;
    pages = ListLogPages(reader, 256, [](LogPageRow&& row) { benchmark::DoNotOptimize(row.page.position); }).pages;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_logBytes));
  state.counters["pages"] = static_cast<double>(pages);
}

// A text search tool counting the lines that hold the text, into a file: grep stops at the first
// match when its output goes to /dev/null.
void Tool(benchmark::State& state, const char* tool, const char* flags) {
  const std::string command = std::string(tool) + " -c " + flags + " -e '" + g_text + "' '" + g_log + "' >'" +
                              g_folder + "/" + tool + ".out'";
  for (auto _ : state) {
    const int status = std::system(command.c_str());
    if (status < 0 || WEXITSTATUS(status) > 1) {  // 1: no line matched
      state.SkipWithError((std::string(tool) + " failed (is it installed?)").c_str());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_logBytes));
}

void BM_GrepExact(benchmark::State& state) { Tool(state, "grep", "-F"); }
void BM_GrepIgnoreCase(benchmark::State& state) { Tool(state, "grep", "-i -F"); }
// A file named on its command line is searched whole, NUL bytes and all.
void BM_RgIgnoreCase(benchmark::State& state) { Tool(state, "rg", "-i -F"); }

}  // namespace

BENCHMARK(BM_RgIgnoreCase)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GrepIgnoreCase)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GrepExact)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FindText)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FindHex)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FindIpRange)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FindSizeRange)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_LogPages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--log-mb=", 9) == 0) g_logMegabytes = std::atol(argv[i] + 9);
    if (std::strncmp(argv[i], "--text=", 7) == 0) g_text = argv[i] + 7;
  }
  benchmark::Initialize(&argc, argv);

  std::string pattern = (fs::temp_directory_path() / "pelorin-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  g_folder = pattern;
  g_log = g_folder + "/PelorinProLogPkt.rec";
  const std::string capture = g_folder + "/replay.pcap";
  if (WriteReplayCapture(capture, 100000) < 0 || !WriteReplayLog(capture, g_log, g_logMegabytes)) {
    std::fprintf(stderr, "cannot build the log in %s from the test captures in tests/data/pcap\n", g_folder.c_str());
    fs::remove_all(g_folder);
    return 1;
  }
  g_logBytes = static_cast<double>(fs::file_size(g_log));
  {
    // Warm the page cache.
    std::ifstream in(g_log, std::ios::binary);
    std::vector<char> block(1 << 20);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  std::printf("log: %.1f MB, text \"%s\"\n", g_logBytes / 1e6, g_text.c_str());

  RatioReporter reporter("BM_RgIgnoreCase", {"BM_GrepIgnoreCase", "BM_GrepExact", "BM_FindText", "BM_FindHex", "BM_FindIpRange",
                                               "BM_FindSizeRange", "BM_LogPages"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  fs::remove_all(g_folder);
  return 0;
}

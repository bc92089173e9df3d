// Exports a packet log of about 1 GB as pcapng and, in the same run, copies the same log with
// cp and a flush to disk, the disk's own speed for the same volume of data.
//
//   build-rel/bin/PacketLogExportBench [--log-mb=N] [--rounds=N]
//
// Both start on a warm page cache and end with their file on disk; the best round of each is
// reported.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/ReplayCapture.h"
#include "bench/ReplayLog.h"
#include "wincap/PacketLogExport.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

}  // namespace

int main(int argc, char** argv) {
  long megabytes = 1100, rounds = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--log-mb=", 9) == 0) megabytes = std::atol(argv[i] + 9);
    if (std::strncmp(argv[i], "--rounds=", 9) == 0) rounds = std::atol(argv[i] + 9);
  }
  std::string pattern = (fs::temp_directory_path() / "pelorin-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const std::string folder = pattern, log = folder + "/PelorinProLogPkt.rec", capture = folder + "/replay.pcap";
  if (WriteReplayCapture(capture, 100000) < 0 || !WriteReplayLog(capture, log, megabytes)) {
    std::fprintf(stderr, "cannot build the log in %s from the test captures\n", folder.c_str());
    fs::remove_all(folder);
    return 1;
  }
  const double logMb = static_cast<double>(fs::file_size(log)) / 1e6;
  const std::string copy = "cp " + log + " " + folder + "/copy.rec && sync " + folder + "/copy.rec";
  double bestCopy = 1e9, bestExport = 1e9, exportMb = 0;
  std::uint64_t records = 0;
  for (long round = 0; round < rounds; ++round) {
    fs::remove(folder + "/copy.rec");
    auto start = Clock::now();
    if (std::system(copy.c_str()) != 0) return 1;
    bestCopy = std::min(bestCopy, Seconds(start));

    PacketLogExport exporter;
    start = Clock::now();
    const PacketLogExport::Result result = exporter.Run(log, folder + "/export.pcapng");
    if (!result.written) {
      std::fprintf(stderr, "export failed: %s\n", result.error.c_str());
      return 1;
    }
    bestExport = std::min(bestExport, Seconds(start));
    records = result.records;
    exportMb = static_cast<double>(fs::file_size(folder + "/export.pcapng")) / 1e6;
  }
  std::printf("log %.0f MB, %llu records; export %.0f MB pcapng in %.2f s (%.0f MB/s of log); cp + sync %.2f s "
              "(%.0f MB/s); export / cp time %.2f\n",
              logMb, static_cast<unsigned long long>(records), exportMb, bestExport, logMb / bestExport, bestCopy,
              logMb / bestCopy, bestExport / bestCopy);
  fs::remove_all(folder);
  return 0;
}

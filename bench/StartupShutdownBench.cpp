// Times the program from the outside, as a user sees it: from launch to the first connections row
// (its connect record reaching the connection log), and from the close request (SIGTERM, which
// the program turns into the same shutdown as File > Exit) to the process's end, with all four
// panes scanning. Runs offscreen; as root the packet pane captures on "lo".
//
//   StartupShutdownBench [runs]
#include <net/if.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/AppProfile.h"
#include "wincap/PelorinWinCapAdapters.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long FileSize(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// The index of "lo" among all capture devices, as the interface dialog stores it; -1 without it.
int LoopbackIndex() {
  PelorinWinCapAdapters adapters;
  for (_PelorinWinCapAdapter* adapter = adapters.AdaptersGetFirst(0); adapter != nullptr;
       adapter = adapters.AdaptersGetNext(0))
    if (std::string(adapter->name, strnlen(adapter->name, sizeof(adapter->name))) == "lo") return static_cast<int>(adapter->index);
  return -1;
}

struct Run {
  double firstRowMs = -1;
  double shutdownMs = -1;
  int exitStatus = -1;
};

Run RunOnce(int loopback) {
  char pattern[] = "/tmp/pelorin-startup-XXXXXX";
  const std::string folder = std::string(mkdtemp(pattern)) + "/";
  const std::string registry = folder + "registry.reg";
  setenv("PELORIN_REGISTRY", registry.c_str(), 1);
  AppProfile profile("DunmereIncProducts\\Setup", "PelorinPro");
  profile.WriteProfileString("", "Layout", loopback >= 0 ? "30" : "14");
  profile.WriteProfileInt("", "AdapterCurr", loopback);
  profile.WriteProfileString("", "AdapterCurrName", "lo");

  Run run;
  const std::string log = folder + "PelorinProLogConnect.rec";
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::chdir(folder.c_str());
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(PELORIN_PROGRAM, PELORIN_PROGRAM, "--start-scanning", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  // The connection log starts empty; the first connect record in it is the first row's.
  while (Clock::now() - start < std::chrono::seconds(30)) {
    if (FileSize(log) > 0) {
      run.firstRowMs = Ms(Clock::now() - start);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));  // every pane well into its scanning
  const auto close = Clock::now();
  ::kill(child, SIGTERM);
  int status = 0;
  // A program that does not end in 20 s is killed and reported with signal 9.
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() - close > std::chrono::seconds(20)) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  run.shutdownMs = Ms(Clock::now() - close);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::filesystem::remove_all(folder);
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int loopback = ::geteuid() == 0 ? LoopbackIndex() : -1;
  std::printf("panes: %s\n", loopback >= 0 ? "all four (packets on lo)" : "connections and statistics (not root)");
  std::vector<double> firstRows, shutdowns;
  for (int i = 0; i < runs; ++i) {
    const Run run = RunOnce(loopback);
    std::printf("run %d: first connections row %.1f ms, shutdown %.1f ms, exit %d\n", i + 1, run.firstRowMs,
                run.shutdownMs, run.exitStatus);
    firstRows.push_back(run.firstRowMs);
    shutdowns.push_back(run.shutdownMs);
  }
  std::printf("median: first connections row %.1f ms, shutdown %.1f ms (goal < 2000 ms)\n", Median(firstRows),
              Median(shutdowns));
  return 0;
}

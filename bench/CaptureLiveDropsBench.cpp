// Live capture on the loopback interface at a steady rate: a sender in this program sends UDP
// datagrams to 127.0.0.1 at 20,000 a second for 10 seconds while the packet pane captures lo
// (decode, log, rows) and, in the same run, `tcpdump -i lo -w FILE` captures it too. Reported:
// what the kernel delivered to each and what it dropped for each (the capture library's counts,
// as tcpdump prints them at exit). Needs root.
//
//   build-rel/bin/CaptureLiveDropsBench [--rate=N] [--seconds=S] [benchmark flags]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "LoopbackCapture.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long g_rate = 20000;  // datagrams/s
long g_seconds = 10;
std::string g_folder;

template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The number before a phrase in tcpdump's closing lines ("123 packets dropped by kernel").
long CountBefore(const std::string& text, const std::string& phrase) {
  const std::size_t at = text.find(phrase);
  if (at == std::string::npos) return -1;
  std::size_t start = text.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return std::atol(text.c_str() + start);
}

// tcpdump writing every frame of lo to a file, its messages to another.
class Tcpdump {
 public:
  bool Start(const std::string& output, const std::string& messages) {
    m_messages = messages;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // -Z root: it keeps the rights to write into our private folder.
    std::string program = "tcpdump", i = "-i", lo = "lo", z = "-Z", root = "root", w = "-w", out = output;
    char* argv[] = {program.data(), i.data(), lo.data(), z.data(), root.data(), w.data(), out.data(), nullptr};
    const int rc = posix_spawnp(&m_pid, "tcpdump", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    // Ready once it says it listens.
    return WaitUntil([this] { return ReadText(m_messages).find("listening on") != std::string::npos; }, 5000);
  }
  // Stops it the way a user does (interrupt) and returns its closing lines.
  std::string Stop() {
    if (m_pid <= 0) return "";
    kill(m_pid, SIGINT);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return ReadText(m_messages);
  }
  ~Tcpdump() { Stop(); }

 private:
  pid_t m_pid = -1;
  std::string m_messages;
};

void BM_LiveLoopbackDrops(benchmark::State& state) {
  if (geteuid() != 0) {
    state.SkipWithError("live capture needs root");
    return;
  }
  AppProfile app;
  UseLoopbackCapture(app, g_folder);

  const UdpSink sink;

  for (auto _ : state) {
    MonListIpMon pane(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
    if (pane.MonListCreate(nullptr, 1024, Rect{0, 0, 800, 400}) != 0) {
      state.SkipWithError("pane not created");
      break;
    }
    MonListIpMonCWinThread* thread = pane.GetCaptureThread();
    WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000);
    Tcpdump tcpdump;
    if (!tcpdump.Start(g_folder + "/tcpdump.pcap", g_folder + "/tcpdump.txt")) {
      state.SkipWithError("tcpdump did not start");
      break;
    }
    pane.ListStart();
    if (!thread->GetIdleMessage()) {
      state.SkipWithError("capture on lo did not start");
      break;
    }

    std::atomic<bool> stop{false};
    long sent = 0;
    const auto start = Clock::now();
    std::thread sender([&] { sent = SendUdpSteadily(sink.Port(), g_rate, stop); });
    std::this_thread::sleep_for(std::chrono::seconds(g_seconds));
    stop.store(true);
    sender.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Let both readers empty their buffers before they are stopped.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pane.ListStop();
    const std::string closing = tcpdump.Stop();
    std::uint32_t received = 0, dropped = 0;
    thread->GetCaptureStats(&received, &dropped);
    state.SetIterationTime(seconds);

    state.counters["sent"] = static_cast<double>(sent);
    state.counters["sent_per_s"] = static_cast<double>(sent) / seconds;
    state.counters["ours_received"] = received;
    state.counters["ours_dropped"] = dropped;
    state.counters["ours_rows"] = static_cast<double>(thread->GetRowsAdded());
    state.counters["tcpdump_received"] = static_cast<double>(CountBefore(closing, " packets received by filter"));
    state.counters["tcpdump_dropped"] = static_cast<double>(CountBefore(closing, " packets dropped by kernel"));
    std::printf("\nsent %ld datagrams in %.2f s (%.0f/s)\n", sent, seconds, static_cast<double>(sent) / seconds);
    std::printf("pane capture: kernel delivered %u, dropped %u; rows added %llu\n", received, dropped,
                static_cast<unsigned long long>(thread->GetRowsAdded()));
    std::printf("tcpdump -w:   %s\n", closing.c_str());
    pane.ProcessClose();
    UiPump::Instance().PumpPending();
  }
}

}  // namespace

BENCHMARK(BM_LiveLoopbackDrops)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rate=", 7) == 0) g_rate = std::atol(argv[i] + 7);
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) g_seconds = std::atol(argv[i] + 10);
  }
  benchmark::Initialize(&argc, argv);
  std::string pattern = "/tmp/pelorin-live-XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  g_folder = pattern;
  setenv("PELORIN_REGISTRY", (g_folder + "/registry.reg").c_str(), 1);
  UiPump::Instance().AttachToCurrentThread();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(g_folder);
  return 0;
}

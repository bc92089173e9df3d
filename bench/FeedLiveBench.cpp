// The packet feed open during live capture on the loopback interface: a sender in this program
// sends UDP datagrams to 127.0.0.1 at 20,000 a second for 10 seconds while the packet pane
// captures lo, once without a feed window and once with one (hex mode, whole data texts), drawn
// by Qt offscreen. Reported: the kernel's deliveries and drops for the pane's capture, the rows
// added, the packets the feed showed, skipped and still had waiting, and the longest stall of the
// user-interface thread (the largest gap between the ticks of a 5 ms timer, less 5 ms). Needs root.
//
//   build-rel/bin/FeedLiveBench [--rate=N] [--seconds=S] [benchmark flags]
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "LoopbackCapture.h"
#include "controls/inspect/DlgPelorinView.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/AppProfile.h"
#include "ui/UiPump.h"
#include "ui/qt/QtUiSession.h"

namespace {

constexpr int kTickMs = 5;
long g_rate = 20000;  // datagrams/s
long g_seconds = 10;
std::string g_folder;

// Runs the event loop for ms milliseconds; returns the longest gap between ticks beyond a tick.
qint64 RunMeasured(int ms) {
  QEventLoop loop;
  QTimer tick;
  QElapsedTimer since;
  qint64 longest = 0;
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    longest = std::max(longest, since.restart() - kTickMs);
  });
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  tick.start(kTickMs);
  since.start();
  loop.exec();
  return longest;
}

void BM_FeedDuringLiveCapture(benchmark::State& state) {
  if (geteuid() != 0) {
    state.SkipWithError("live capture needs root");
    return;
  }
  const bool withFeed = state.range(0) != 0;
  AppProfile app;
  UseLoopbackCapture(app, g_folder);
  app.WriteProfileString("ViewData", "FormatFeed", "1");
  app.WriteProfileString("Filters", "DisplayBytes", "0");
  const UdpSink sink;

  for (auto _ : state) {
    MonListIpMon pane(&app, "\\Software\\DunmereIncProducts\\Setup\\PelorinPro", "Packets");
    if (pane.MonListCreate(nullptr, 1024, Rect{0, 0, 800, 400}) != 0) {
      state.SkipWithError("pane not created");
      break;
    }
    MonListIpMonCWinThread* thread = pane.GetCaptureThread();
    while (!thread->IsLogOpen()) RunMeasured(10);
    DlgPelorinView* feed = nullptr;
    if (withFeed) {
      pane.MonListView();
      feed = dynamic_cast<DlgPelorinView*>(pane.GetFeedWindow());
      while (feed != nullptr && !thread->IsFeedActive()) RunMeasured(10);
    }
    pane.ListStart();
    if (!thread->GetIdleMessage()) {
      state.SkipWithError("capture on lo did not start");
      break;
    }
    std::atomic<bool> stop{false};
    long sent = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread sender([&] { sent = SendUdpSteadily(sink.Port(), g_rate, stop); });
    qint64 stall = RunMeasured(static_cast<int>(g_seconds * 1000));
    stop.store(true);
    sender.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The capture empties its buffer, the feed works off what is queued.
    stall = std::max(stall, RunMeasured(500));
    pane.ListStop();
    stall = std::max(stall, RunMeasured(200));
    std::uint32_t received = 0, dropped = 0;
    thread->GetCaptureStats(&received, &dropped);
    state.SetIterationTime(seconds);

    state.counters["sent"] = static_cast<double>(sent);
    state.counters["kernel_received"] = received;
    state.counters["kernel_dropped"] = dropped;
    state.counters["rows"] = static_cast<double>(thread->GetRowsAdded());
    state.counters["longest_stall_ms"] = static_cast<double>(stall);
    std::printf("\n%s: sent %ld datagrams in %.2f s (%.0f/s)\n", withFeed ? "feed open" : "no feed", sent, seconds,
                static_cast<double>(sent) / seconds);
    std::printf("capture: kernel delivered %u, dropped %u; rows added %llu\n", received, dropped,
                static_cast<unsigned long long>(thread->GetRowsAdded()));
    if (feed != nullptr) {
      state.counters["feed_shown"] = static_cast<double>(feed->GetPacketCounter());
      state.counters["feed_skipped"] = static_cast<double>(feed->GetSkipped());
      std::printf("feed: shown %ld, skipped %zu, still waiting %zu\n", static_cast<long>(feed->GetPacketCounter()),
                  feed->GetSkipped(), feed->GetPending());
    }
    std::printf("longest stall of the user-interface thread: %lld ms\n", static_cast<long long>(stall));
    pane.ListDlgCloseAll();
    pane.ProcessClose();
    RunMeasured(50);
  }
}

}  // namespace

BENCHMARK(BM_FeedDuringLiveCapture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rate=", 7) == 0) g_rate = std::atol(argv[i] + 7);
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) g_seconds = std::atol(argv[i] + 10);
  }
  benchmark::Initialize(&argc, argv);
  std::string pattern = "/tmp/pelorin-feed-XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  g_folder = pattern;
  setenv("PELORIN_REGISTRY", (g_folder + "/registry.reg").c_str(), 1);
  if (getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  char name[] = "FeedLiveBench";
  char* qtArgv[] = {name, nullptr};
  QApplication application(qtArgc, qtArgv);
  {
    QtUiSession session;
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  std::filesystem::remove_all(g_folder);
  return 0;
}

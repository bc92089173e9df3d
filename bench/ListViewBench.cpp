// Rows per second that a worker thread inserts into a report list control (two texts and item
// data per row) while the list is drawn by Qt (offscreen), and the longest stall of the
// user-interface thread meanwhile, measured as the longest gap between two ticks of a 10 ms
// window timer. The same insertion without a view is measured for comparison.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "ui/ListControl.h"
#include "ui/UiPump.h"
#include "ui/qt/QtListView.h"
#include "ui/qt/QtUiSession.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRows = 1000000;

int g_argc = 1;
char g_name[] = "ListViewBench";
char* g_argv[] = {g_name, nullptr};

// Notes the longest gap between two ticks of its timer.
class Ticker : public Window {
 public:
  double longestGapMs = 0;
  int ticks = 0;

 protected:
  void OnTimer(UINT) override {
    const auto now = Clock::now();
    if (ticks++ > 0) longestGapMs = std::max(longestGapMs, std::chrono::duration<double, std::milli>(now - m_last).count());
    m_last = now;
  }

 private:
  Clock::time_point m_last;
};

void Insert(ListControl& list, int rows) {
  for (int i = 0; i < rows; ++i) {
    const int at = list.InsertItem(i, "TCP");
    list.SetItemText(at, 1, std::to_string(40 + i % 1460));
    list.SetItemData(at, static_cast<DWORD_PTR>(i));
  }
}

void BM_WorkerInsertsWhileQtDraws(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(g_argc, g_argv);
  QtUiSession session;
  for (auto _ : state) {
    Window host;
    host.Create("host", WS_VISIBLE, Rect{0, 0, 800, 600}, nullptr, 0);
    ListControl list;
    list.Create(0x406100C9 | WS_VISIBLE, Rect{0, 0, 800, 600}, &host, 1027);
    list.InsertColumn(0, "Type", LVCFMT_LEFT, 60);
    list.InsertColumn(1, "Size", LVCFMT_LEFT, 60);
    Ticker ticker;
    ticker.Create("ticker", 0, Rect{}, nullptr, 0);
    ticker.SetTimer(1, 10);
    {
      QEventLoop settle;
      QTimer::singleShot(200, &settle, &QEventLoop::quit);
      settle.exec();
    }
    ticker.longestGapMs = 0;
    ticker.ticks = 0;
    std::atomic<bool> done{false};
    double insertSeconds = 0;
    std::thread worker([&] {
      const auto start = Clock::now();
      Insert(list, kRows);
      insertSeconds = std::chrono::duration<double>(Clock::now() - start).count();
      done = true;
    });
    QEventLoop loop;
    while (!done.load()) loop.processEvents(QEventLoop::WaitForMoreEvents, 20);
    worker.join();
    auto* view = dynamic_cast<QtListView*>(list.GetView());
    while (view->Table()->model()->rowCount() != kRows) loop.processEvents(QEventLoop::WaitForMoreEvents, 20);
    state.counters["rows_per_s"] = kRows / insertSeconds;
    state.counters["longest_stall_ms"] = ticker.longestGapMs;
    state.counters["timer_ticks"] = ticker.ticks;
    state.counters["refreshes"] = view->RefreshCount();
    host.DestroyWindow();
    ticker.DestroyWindow();
  }
}
BENCHMARK(BM_WorkerInsertsWhileQtDraws)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WorkerInsertsWithoutView(benchmark::State& state) {
  for (auto _ : state) {
    Window host;
    host.Create("host", 0, Rect{0, 0, 800, 600}, nullptr, 0);
    ListControl list;
    list.Create(0x406100C9, Rect{0, 0, 800, 600}, &host, 1027);
    list.InsertColumn(0, "Type", LVCFMT_LEFT, 60);
    list.InsertColumn(1, "Size", LVCFMT_LEFT, 60);
    const auto start = Clock::now();
    std::thread worker([&] { Insert(list, kRows); });
    worker.join();
    state.counters["rows_per_s"] = kRows / std::chrono::duration<double>(Clock::now() - start).count();
  }
}
BENCHMARK(BM_WorkerInsertsWithoutView)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

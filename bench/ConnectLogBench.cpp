// The connection log: appending 1,000,000 connect records (one by one as the shell's callers
// write them, and gathered as a scan pass writes them), and reloading a 100,000-record log
// into the connections pane.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "common/FieldText.h"
#include "common/MonListMonLogData.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "platform/AppProfile.h"

namespace {

constexpr int kAppendRecords = 1000000;
constexpr int kLoadRecords = 100000;

// A private registry and working folder and a created pane whose scanner is idle.
class Setup {
 public:
  Setup() {
    char pattern[] = "/tmp/pelorin-logbench-XXXXXX";
    if (!::mkdtemp(pattern)) std::exit(1);
    m_dir = pattern;
    std::filesystem::current_path(m_dir);
    ::setenv("PELORIN_REGISTRY", (m_dir + "/registry.reg").c_str(), 1);
    m_list = std::make_unique<MonListMon>(&m_profile, "Connections", "PelorinPro");
    if (m_list->MonListCreate(nullptr, 1024, Rect{0, 0, 800, 600}) != 0 || !m_list->Scanner()) {
      std::fprintf(stderr, "pane creation failed\n");
      std::exit(1);
    }
  }
  ~Setup() {
    m_list->ProcessClose();
    m_list.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }
  MonListMon& List() { return *m_list; }
  PelorinCThreadMonListMon& Scanner() { return *m_list->Scanner(); }
  std::string LogPath() const { return m_dir + "/PelorinProLogConnect.rec"; }

 private:
  std::string m_dir;
  AppProfile m_profile;
  std::unique_ptr<MonListMon> m_list;
};

_MonListMonLogData Record(int i) {
  _MonListMonLogData d{};
  d.state = i % 7 == 0 ? 0xFFFFFFFFu : 5;
  d.localAddr = htonl(INADDR_LOOPBACK);
  d.localPort = 1024 + static_cast<std::uint32_t>(i % 60000);
  d.remoteAddr = htonl(0x0A000001u + static_cast<std::uint32_t>(i % 251));
  d.remotePort = 443;
  d.time = 1700000000u + static_cast<std::uint32_t>(i / 100);
  d.elapsed = d.state == 5 ? 0 : 42;
  SetFieldTextFull(d.processName, i % 3 == 0 ? "Firefox-esr" : "Sshd");
  return d;
}

void Append(PelorinCThreadMonListMon& scanner, int count) {
  for (int i = 0; i < count; ++i) {
    const _MonListMonLogData d = Record(i);
    scanner.LogWrite(&d, sizeof d, "127.0.0.1", "10.0.0.1", "11/14/23 22:13:20", i % 5 == 0 ? "UDP" : "TCP",
                     nullptr);
  }
}

void AppendRecords(benchmark::State& state, bool gathered) {
  Setup setup;
  for (auto _ : state) {
    state.PauseTiming();
    setup.Scanner().ListDeleteAll();  // an empty log each time
    state.ResumeTiming();
    if (gathered) setup.Scanner().LogGather(true);
    Append(setup.Scanner(), kAppendRecords);
    // Timed to the last record in the file.
    if (gathered) setup.Scanner().LogGather(false);
    else setup.Scanner().LogFlush();
  }
  if (std::filesystem::file_size(setup.LogPath()) != static_cast<std::uintmax_t>(kAppendRecords) * 192)
    state.SkipWithError("the log does not hold every record");
  state.SetItemsProcessed(state.iterations() * kAppendRecords);  // items/s = records/s
}

void BM_Append1MConnectRecords_OneByOne(benchmark::State& state) { AppendRecords(state, false); }
BENCHMARK(BM_Append1MConnectRecords_OneByOne)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Append1MConnectRecords_GatheredAsInAPass(benchmark::State& state) { AppendRecords(state, true); }
BENCHMARK(BM_Append1MConnectRecords_GatheredAsInAPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// LoadLastLog of 100,000 records: read, one row per record with its texts and record.
void BM_LoadLastLog100kRecords(benchmark::State& state) {
  Setup setup;
  setup.Scanner().LogGather(true);
  Append(setup.Scanner(), kLoadRecords);
  setup.Scanner().LogGather(false);
  for (auto _ : state) setup.Scanner().LoadLastLog();
  if (setup.List().GetItemCount() != kLoadRecords) state.SkipWithError("not every record became a row");
  state.counters["rows"] = setup.List().GetItemCount();
}
BENCHMARK(BM_LoadLastLog100kRecords)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

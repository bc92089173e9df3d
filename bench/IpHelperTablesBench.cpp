// Cost of one full connection-table fetch (TCP and UDP extended tables with owning process ids)
// with 10,000 TCP sockets open on loopback, against `ss -tanp` over the same sockets, the cost
// of one statistics read (TCP, UDP, ICMP and IP counters) and of the process snapshots.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/LoopbackSockets.h"
#include "bench/RatioReporter.h"
#include "platform/IpHelper.h"
#include "platform/ProcessHeap.h"
#include "platform/Toolhelp.h"

namespace {

constexpr int kPairs = 5000;  // connected pairs: 10,000 TCP sockets, plus their listener

// The benchmark's own sockets, opened once on first use and kept until the program ends.
class LoopbackLoad {
 public:
  static LoopbackLoad& Get() {
    static LoopbackLoad load;
    return load;
  }
  std::size_t Sockets() const { return m_sockets.Count(); }

 private:
  LoopbackLoad() : m_sockets(kPairs) {}
  LoopbackSockets m_sockets;
};

void FetchBoth(benchmark::State& state, std::size_t& rows) {
  void* tcp = nullptr;
  void* udp = nullptr;
  if (AllocateAndGetTcpExTableFromStack(&tcp, 1, GetProcessHeap(), 0, 2) != NO_ERROR ||
      AllocateAndGetUdpExTableFromStack(&udp, 1, GetProcessHeap(), 0, 2) != NO_ERROR) {
    state.SkipWithError("table fetch failed");
    return;
  }
  rows = static_cast<MIB_TCPTABLE_EX*>(tcp)->dwNumEntries + static_cast<MIB_UDPTABLE_EX*>(udp)->dwNumEntries;
  HeapFree(GetProcessHeap(), 0, tcp);
  HeapFree(GetProcessHeap(), 0, udp);
}

void StatisticsRead(benchmark::State& state) {
  for (auto _ : state) {
    MIB_TCPSTATS tcp{};
    MIB_UDPSTATS udp{};
    MIB_ICMP icmp{};
    MIB_IPSTATS ip{};
    if (GetTcpStatistics(&tcp) != NO_ERROR || GetUdpStatistics(&udp) != NO_ERROR ||
        GetIcmpStatistics(&icmp) != NO_ERROR || GetIpStatistics(&ip) != NO_ERROR) {
      state.SkipWithError("statistics read failed");
      return;
    }
    benchmark::DoNotOptimize(ip);
    state.counters["tcpRows"] = tcp.dwNumConns;
  }
}

void BM_StatisticsRead_Idle(benchmark::State& state) { StatisticsRead(state); }
BENCHMARK(BM_StatisticsRead_Idle)->Unit(benchmark::kMicrosecond);

void BM_FullTableFetch_10kSockets(benchmark::State& state) {
  const std::size_t sockets = LoopbackLoad::Get().Sockets();
  std::size_t rows = 0;
  for (auto _ : state) FetchBoth(state, rows);
  state.counters["ourSockets"] = static_cast<double>(sockets);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_FullTableFetch_10kSockets)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainTcpTable_10kSockets(benchmark::State& state) {
  LoopbackLoad::Get();
  std::vector<char> buffer;
  for (auto _ : state) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD result = GetTcpTable(reinterpret_cast<MIB_TCPTABLE*>(buffer.data()), &size, 1);
    if (result == ERROR_INSUFFICIENT_BUFFER) {
      buffer.resize(size);
      result = GetTcpTable(reinterpret_cast<MIB_TCPTABLE*>(buffer.data()), &size, 1);
    }
    if (result != NO_ERROR) state.SkipWithError("table fetch failed");
  }
}
BENCHMARK(BM_PlainTcpTable_10kSockets)->Unit(benchmark::kMillisecond)->UseRealTime();

// `ss -tanp` over the same sockets.
void BM_SsTanp_10kSockets(benchmark::State& state) {
  LoopbackLoad::Get();
  TimeSsTanp(state);
}
BENCHMARK(BM_SsTanp_10kSockets)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_StatisticsRead_10kSockets(benchmark::State& state) {
  LoopbackLoad::Get();
  StatisticsRead(state);
}
BENCHMARK(BM_StatisticsRead_10kSockets)->Unit(benchmark::kMicrosecond);

// What a process name costs the list views: one snapshot of all processes (walked to the end),
// and one module snapshot of a process (here this one, with its shared objects).
void BM_ProcessSnapshot(benchmark::State& state) {
  std::size_t processes = 0;
  for (auto _ : state) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    processes = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) ++processes;
    CloseHandle(snapshot);
  }
  state.counters["processes"] = static_cast<double>(processes);
}
BENCHMARK(BM_ProcessSnapshot)->Unit(benchmark::kMicrosecond);

void BM_ModuleSnapshot(benchmark::State& state) {
  for (auto _ : state) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    benchmark::DoNotOptimize(Module32First(snapshot, &module));
    CloseHandle(snapshot);
  }
}
BENCHMARK(BM_ModuleSnapshot)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("BM_SsTanp_10kSockets", {"BM_FullTableFetch_10kSockets"});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

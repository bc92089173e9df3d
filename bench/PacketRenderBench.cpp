// Rendering a logged packet into its header and data texts, per display mode, and finding the
// differences of two packet texts in hex mode as the compare window does.
//
//   build-rel/bin/PacketRenderBench
//
// Throughput counts packet bytes rendered (bytes_per_second). The frames are 1,514-byte TCP
// frames (1,460 payload bytes) and 106-byte UDP frames (64 payload bytes), the sizes of a bulk
// transfer and of small datagrams.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "controls/inspect/PacketDiff.h"
#include "controls/inspect/PacketFormat.h"

namespace {

constexpr LONG kCapacity = 0xFFFFF;  // bytes, as the packet windows allocate

std::vector<std::uint8_t> Frame(int protocol, std::size_t payload, unsigned seed) {
  const std::size_t headers = protocol == 6 ? 40 : 28;
  std::vector<std::uint8_t> frame(14 + headers + payload);
  std::mt19937 random(seed);
  for (auto& byte : frame) byte = static_cast<std::uint8_t>(random());
  const std::size_t total = headers + payload;
  frame[16] = static_cast<std::uint8_t>(total >> 8);
  frame[17] = static_cast<std::uint8_t>(total);
  frame[23] = static_cast<std::uint8_t>(protocol);
  return frame;
}

void Render(benchmark::State& state, int mode, int protocol, std::size_t payload) {
  const auto frame = Frame(protocol, payload, 1);
  auto data = std::make_unique<char[]>(kCapacity);
  auto header = std::make_unique<char[]>(kCapacity);
  const char* name = PacketFormat::ProtocolName(protocol);
  for (auto _ : state) {
    char* text = PacketFormat::displayFormat(mode, name, frame.data(), static_cast<LONG>(frame.size()), data.get(),
                                             kCapacity, header.get(), kCapacity, 0);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(frame.size()));
}

void BM_RenderHex1514(benchmark::State& state) { Render(state, PacketFormat::kHex, 6, 1460); }
void BM_RenderDecimal1514(benchmark::State& state) { Render(state, PacketFormat::kDecimal, 6, 1460); }
void BM_RenderText1514(benchmark::State& state) { Render(state, PacketFormat::kText, 6, 1460); }
void BM_RenderHex106(benchmark::State& state) { Render(state, PacketFormat::kHex, 17, 64); }
void BM_RenderDecimal106(benchmark::State& state) { Render(state, PacketFormat::kDecimal, 17, 64); }
void BM_RenderText106(benchmark::State& state) { Render(state, PacketFormat::kText, 17, 64); }

// The hex data text of a 1,460-byte payload.
std::string HexText(const std::vector<std::uint8_t>& frame) {
  auto data = std::make_unique<char[]>(kCapacity);
  auto header = std::make_unique<char[]>(kCapacity);
  PacketFormat::Written written;
  PacketFormat::displayFormat(PacketFormat::kHex, "TCP", frame.data(), static_cast<LONG>(frame.size()), data.get(),
                              kCapacity, header.get(), kCapacity, 0, &written);
  return std::string(data.get(), static_cast<std::size_t>(written.data));
}

// Two 1,460-byte packets of one stream: the same but for changed bytes every changedEvery bytes
// (0: unrelated payloads).
void Diff(benchmark::State& state, std::size_t changedEvery) {
  auto base = Frame(6, 1460, 1);
  auto other = changedEvery == 0 ? Frame(6, 1460, 2) : base;
  if (changedEvery != 0)
    for (std::size_t i = 54; i < other.size(); i += changedEvery) other[i] ^= 0x5A;
  const std::string baseText = HexText(base);
  const std::string text = HexText(other);
  std::vector<DiffRun> runs;
  runs.reserve(PacketDiff::kInitialRuns);
  for (auto _ : state) {
    PacketDiff::Get(baseText.data(), static_cast<long>(baseText.size()), text.data(), static_cast<long>(text.size()), 0,
                    true, runs);
    benchmark::DoNotOptimize(runs.data());
  }
  state.counters["runs"] = static_cast<double>(runs.size());
}

void BM_ShowDiffGetHex1460FewChanges(benchmark::State& state) { Diff(state, 100); }
void BM_ShowDiffGetHex1460Unrelated(benchmark::State& state) { Diff(state, 0); }

}  // namespace

BENCHMARK(BM_RenderHex1514);
BENCHMARK(BM_RenderDecimal1514);
BENCHMARK(BM_RenderText1514);
BENCHMARK(BM_RenderHex106);
BENCHMARK(BM_RenderDecimal106);
BENCHMARK(BM_RenderText106);
BENCHMARK(BM_ShowDiffGetHex1460FewChanges)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShowDiffGetHex1460Unrelated)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();

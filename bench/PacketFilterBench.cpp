// Packet filter evaluation on one core: every list at 50 entries, both texts set and a 1,460-byte
// payload (a full Ethernet segment), with the packet passing every test so that none ends early.
//
//   build-rel/bin/PacketFilterBench [benchmark flags]
//
// Payloads: ordinary text (an HTTP response), random bytes, one repeated byte, and one built
// against the search so that the text nearly matches at every position.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "common/AddressText.h"
#include "controls/packets/PacketFilter.h"

namespace {

constexpr std::size_t kPayload = 1460;

PacketFilterSet FullSet(const std::string& mustContain, const std::string& mustNotContain) {
  PacketFilterSet set;
  for (int l = 0; l < PacketFilterSet::kListCount; ++l)
    for (std::uint32_t i = 0; i < 50; ++i) set.lists[l].push_back(0x0B000000u + l * 1000 + i);
  // The packet's own values last in the must-be lists.
  set.List(FilterList::SourceIpMustBe).back() = InetAddr("10.0.0.1");
  set.List(FilterList::SourcePortMustBe).back() = 1000;
  set.List(FilterList::DestIpMustBe).back() = InetAddr("10.0.0.2");
  set.List(FilterList::DestPortMustBe).back() = 80;
  set.eitherAddress = InetAddr("10.0.0.2");
  set.eitherPort = 80;
  set.minSize = 60;
  set.maxSize = 1500;
  set.mustContain = mustContain;
  set.mustNotContain = mustNotContain;
  return set;
}

DecodedPacket Packet(const std::string& payload) {
  DecodedPacket packet;
  packet.typeCode = 3;
  packet.size = static_cast<std::int32_t>(40 + payload.size());
  packet.source = InetAddr("10.0.0.1");
  packet.destination = InetAddr("10.0.0.2");
  packet.sourcePort = 1000;
  packet.destinationPort = 80;
  packet.payload = reinterpret_cast<const std::uint8_t*>(payload.data());
  packet.payloadLength = static_cast<std::int32_t>(payload.size());
  return packet;
}

// The must-contain text is the payload's last bytes, so the whole payload is searched twice.
void Run(benchmark::State& state, const std::string& payload, const std::string& mustNotContain) {
  const std::string mustContain = payload.substr(payload.size() - 12);
  PacketFilter filter;
  if (!filter.Load(FullSet(mustContain, mustNotContain))) {
    state.SkipWithError("filter set refused");
    return;
  }
  const DecodedPacket packet = Packet(payload);
  if (!filter.Passes(packet)) {
    state.SkipWithError("the packet should pass");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(filter.Passes(packet));
  state.counters["packets/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FilterTextPayload(benchmark::State& state) {
  std::string payload =
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 1380\r\n\r\n";
  const std::string body = "<p>the quick brown fox jumps over the lazy dog 0123456789</p>\n";
  while (payload.size() < kPayload) payload += body;
  payload.resize(kPayload - 12);
  payload += "</html>done.";
  Run(state, payload, "Set-Cookie:");
}

void BM_FilterRandomPayload(benchmark::State& state) {
  std::mt19937 random(7);
  std::string payload(kPayload, '\0');
  for (char& c : payload) c = static_cast<char>(random() & 0xFF);
  Run(state, payload, "password=");
}

void BM_FilterRepeatedBytePayload(benchmark::State& state) {
  std::string payload(kPayload - 1, 'a');
  payload += 'b';  // "aaaaaaaaaaab": 12 bytes of which 11 match at every position
  Run(state, payload, std::string(29, 'a') + "x");
}

// Built against the search: the text's least common byte fills the payload and its first 29
// bytes match everywhere.
void BM_FilterHostilePayload(benchmark::State& state) {
  std::string payload(kPayload - 12, 'Q');
  payload += "QQQQQQQQQQQe";
  Run(state, payload, std::string(29, 'Q') + "f");
}

}  // namespace

BENCHMARK(BM_FilterTextPayload);
BENCHMARK(BM_FilterRandomPayload);
BENCHMARK(BM_FilterRepeatedBytePayload);
BENCHMARK(BM_FilterHostilePayload);
BENCHMARK_MAIN();

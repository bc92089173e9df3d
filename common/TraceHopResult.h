#pragma once
#include <cstddef>
#include <cstdint>

// One hop of a route trace: the platform's 20-byte record, then the address of an IPv6 hop.
struct _TraceHopResult {
  std::uint32_t status;   // 0 when every echo was answered, else the error of the first unanswered one
  std::uint32_t address;  // last answering IPv4 address, network byte order; 0 for an IPv6 hop
  std::uint32_t minRtt;   // ms; 0 when status is not 0
  std::uint32_t avgRtt;   // ms
  std::uint32_t maxRtt;   // ms
  std::uint8_t address6[16];  // last answering IPv6 address, network order; zero for an IPv4 hop
};

static_assert(offsetof(_TraceHopResult, address) == 4);
static_assert(offsetof(_TraceHopResult, maxRtt) == 16);
static_assert(offsetof(_TraceHopResult, address6) == 20);
static_assert(sizeof(_TraceHopResult) == 36);

#pragma once
#include <cstddef>
#include <cstdint>

// One hop of a route trace.
struct _TraceHopResult {
  std::uint32_t status;   // 0 when every echo was answered, else the error of the first unanswered one
  std::uint32_t address;  // last answering address, network byte order
  std::uint32_t minRtt;   // ms; 0 when status is not 0
  std::uint32_t avgRtt;   // ms
  std::uint32_t maxRtt;   // ms
};

static_assert(sizeof(_TraceHopResult) == 20);
static_assert(offsetof(_TraceHopResult, address) == 4);
static_assert(offsetof(_TraceHopResult, maxRtt) == 16);

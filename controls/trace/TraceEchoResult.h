#pragma once
#include "common/WinTypes.h"
#include "controls/trace/TraceAddress.h"

// The outcome of one echo of a trace: status 0 with the answering address and the round-trip
// time, or the IP status code of an echo that went unanswered.
struct TraceEchoResult {
  DWORD status = 0;
  TraceAddress address;
  DWORD rtt = 0;  // ms
};

#pragma once
#include <cstddef>
#include <cstdint>

// One route point (hop) of a trace, hung on its route list line as item data: zero-filled from
// the task allocator, freed with the line. The detail text is a task-allocator block of its own,
// owned by the record. 520 bytes where pointers are 32 bits wide; wider on 64-bit.
struct _TraceRoutePoint {
  std::int32_t hop;
  char address[256];  // dotted decimal, or the shortest IPv6 text
  char hostName[256];  // from the reverse lookup; empty when none
  char* detail;        // whois text, or the hint to fetch it
};

static_assert(offsetof(_TraceRoutePoint, address) == 4);
static_assert(offsetof(_TraceRoutePoint, hostName) == 260);
static_assert(offsetof(_TraceRoutePoint, detail) == (sizeof(void*) == 4 ? 516 : 520));

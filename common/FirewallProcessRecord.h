#pragma once
#include <cstddef>
#include <cstdint>

// A record of the firewall process file (at most 64 of them, no file header).
struct _FirewallProcessRecord {
  std::uint8_t rowHead[20];   // row data of the processes window that the engine interprets
  std::uint32_t blocked;      // 1 blocked, 0 allowed
  std::uint8_t rowTail[264];
  char processName[260];      // as shown in the "Process Name" column
};

static_assert(sizeof(_FirewallProcessRecord) == 548);
static_assert(offsetof(_FirewallProcessRecord, blocked) == 20);
static_assert(offsetof(_FirewallProcessRecord, processName) == 288);

#pragma once
#include <cstddef>
#include <cstdint>

#include "common/ShowPacketReceivePackIp.h"

// Item data of a packet pane row: the 12-byte row record first, so a reader that knows only it
// reads it unchanged, then the number of the packet log's file (of its numbered set) that the
// record position is in.
struct PacketRowItem {
  _ShowPacketReceivePackIp record;
  std::uint32_t logFile;
};

static_assert(offsetof(PacketRowItem, record) == 0);
static_assert(offsetof(PacketRowItem, logFile) == 12);

#pragma once
#include <cstddef>
#include <cstdint>

#include "common/ShowPacketReceivePackIp.h"

// What a packet row's cells are made from when they are drawn or read: the pane keeps the
// packet's numbers, not eight texts, so a row costs the capture thread one small copy.
struct PacketRowCells {
  enum Status : std::uint8_t { kLogged, kNoLog, kFromLog };
  enum Has : std::uint8_t { kSize = 1, kSource = 2, kDestination = 4, kSourcePort = 8, kDestinationPort = 16 };
  std::uint8_t source[16];       // IPv4: the first 4 bytes, network order
  std::uint8_t destination[16];
  std::int32_t size;
  std::uint16_t sourcePort;      // host order
  std::uint16_t destinationPort;
  bool ipv6;
  std::uint8_t has;              // Has bits: the numbers that were captured (the others show empty)
  std::uint8_t status;           // Status; changes under the list's rows lock, which drawing holds
  std::uint8_t timeLength;
  char time[24];                 // the time text, as long as the log's time field at most
};

// Item data of a packet pane row: the 12-byte row record first, so a reader that knows only it
// reads it unchanged, then the number of the packet log's file (of its numbered set) that the
// record position is in, then the cells.
struct PacketRowItem {
  _ShowPacketReceivePackIp record;
  std::uint32_t logFile;
  PacketRowCells cells;
};

static_assert(offsetof(PacketRowItem, record) == 0);
static_assert(offsetof(PacketRowItem, logFile) == 12);

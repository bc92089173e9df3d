#pragma once
#include <cstddef>
#include <cstdint>

// Item data of a packet row.
struct _ShowPacketReceivePackIp {
  std::int32_t rowNumber;       // the list's row counter when the row was added
  std::int32_t recordPosition;  // position in the packet log; the row number when not logged
  std::int32_t typeCode;        // 1 ICMP, 2 other IP, 3 TCP, 4 UDP
};

static_assert(sizeof(_ShowPacketReceivePackIp) == 12);
static_assert(offsetof(_ShowPacketReceivePackIp, recordPosition) == 4);
static_assert(offsetof(_ShowPacketReceivePackIp, typeCode) == 8);

constexpr std::int32_t kPacketTypeIcmp = 1;
constexpr std::int32_t kPacketTypeIp = 2;
constexpr std::int32_t kPacketTypeTcp = 3;
constexpr std::int32_t kPacketTypeUdp = 4;

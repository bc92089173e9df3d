#pragma once
#include <cstddef>
#include <cstdint>

// Header of a connection log record: the packet log's 100 bytes plus the type text.
struct _LogRecMarkerConnect {
  char marker[16];          // "**Log Record**", zero-padded
  std::uint32_t position;   // byte offset of this header in the file
  char localAddr[20];       // at most 19 characters
  char remoteAddr[20];      // at most 19 characters; empty for UDP
  char time[25];            // at most 24 characters
  std::uint8_t zero1[3];
  std::int32_t dataLength;  // 84 for records the scanner writes
  std::int32_t recordLength;  // dataLength + 108
  std::uint8_t cr;
  std::uint8_t lf;
  std::uint8_t zero2[2];
  char typeText[8];         // "TCP" or "UDP"
};

static_assert(sizeof(_LogRecMarkerConnect) == 108);
static_assert(offsetof(_LogRecMarkerConnect, position) == 16);
static_assert(offsetof(_LogRecMarkerConnect, localAddr) == 20);
static_assert(offsetof(_LogRecMarkerConnect, remoteAddr) == 40);
static_assert(offsetof(_LogRecMarkerConnect, time) == 60);
static_assert(offsetof(_LogRecMarkerConnect, dataLength) == 88);
static_assert(offsetof(_LogRecMarkerConnect, recordLength) == 92);
static_assert(offsetof(_LogRecMarkerConnect, cr) == 96);
static_assert(offsetof(_LogRecMarkerConnect, typeText) == 100);

#pragma once
#include <cstddef>
#include <cstdint>

// Data block of a connection log record. Its first 28 bytes are the row record image
// (_MonListMonItemDataImage) with the link zeroed.
struct _MonListMonLogData {
  std::uint32_t state;        // connect: TCP state at first sight (UDP 1); disconnect: 0xFFFFFFFF
  std::uint32_t localAddr;    // network byte order
  std::uint32_t localPort;    // host byte order
  std::uint32_t remoteAddr;   // network byte order, 0 for UDP
  std::uint32_t remotePort;   // host byte order, 0 for UDP
  std::uint32_t time;         // seconds since 1970-01-01 UTC
  std::uint32_t zero;         // place of the row record's link pointer
  std::uint32_t elapsed;      // seconds; 0 in connect records
  char processName[50];       // not terminated when 50 characters long
  std::uint8_t zero2[2];
};

static_assert(sizeof(_MonListMonLogData) == 84);
static_assert(offsetof(_MonListMonLogData, time) == 20);
static_assert(offsetof(_MonListMonLogData, zero) == 24);
static_assert(offsetof(_MonListMonLogData, elapsed) == 28);
static_assert(offsetof(_MonListMonLogData, processName) == 32);
static_assert(offsetof(_MonListMonLogData, zero2) == 82);

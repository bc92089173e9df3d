#pragma once
#include <cstddef>
#include <cstdint>

// Header of every packet log record; the packet bytes follow it at once.
struct _LogRecMarker {
  char marker[16];          // "**Log Record**", zero-padded
  std::uint32_t position;   // byte offset of this header in the file
  char source[20];          // dotted source address, at most 19 characters
  char destination[20];     // dotted destination address, at most 19 characters
  char time[25];            // packet time text, at most 24 characters
  std::uint8_t zero1[3];
  std::int32_t dataLength;  // packet bytes after the header
  std::int32_t recordLength;  // dataLength + 100
  std::uint8_t cr;
  std::uint8_t lf;
  std::uint8_t zero2[2];
};

static_assert(sizeof(_LogRecMarker) == 100);
static_assert(offsetof(_LogRecMarker, position) == 16);
static_assert(offsetof(_LogRecMarker, source) == 20);
static_assert(offsetof(_LogRecMarker, destination) == 40);
static_assert(offsetof(_LogRecMarker, time) == 60);
static_assert(offsetof(_LogRecMarker, dataLength) == 88);
static_assert(offsetof(_LogRecMarker, recordLength) == 92);
static_assert(offsetof(_LogRecMarker, cr) == 96);
static_assert(offsetof(_LogRecMarker, lf) == 97);

// The text every log record header begins with, in both log files.
constexpr char kLogRecordMarker[] = "**Log Record**";

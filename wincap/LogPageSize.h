#pragma once
#include "common/WinTypes.h"

// Records per page of the packet log: a page is that many consecutive records counted from the
// first record, and the packet list never holds more than one page.
constexpr LONG kLogPageSizeDefault = 256;
constexpr LONG kLogPageSizeMin = 25;
constexpr LONG kLogPageSizeMax = 10000;

// The page size as every reader of "LogPageSize" uses it: 10 becomes 25, 20000 becomes 10000.
constexpr LONG ClampLogPageSize(LONG size) {
  return size < kLogPageSizeMin ? kLogPageSizeMin : (size > kLogPageSizeMax ? kLogPageSizeMax : size);
}

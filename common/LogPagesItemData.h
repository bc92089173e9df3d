#pragma once
#include <cstddef>
#include <cstdint>

// A page of the packet log: its number and the position of its first record.
struct _LogPagesItemData {
  std::int32_t page;
  std::int32_t position;
};

static_assert(sizeof(_LogPagesItemData) == 8);
static_assert(offsetof(_LogPagesItemData, position) == 4);

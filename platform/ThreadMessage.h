#pragma once
#include <cstdint>

// A message posted to a worker thread's queue.
struct ThreadMessage {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

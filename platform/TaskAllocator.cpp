#include "platform/TaskAllocator.h"

#include <cstdlib>

void* CoTaskMemAlloc(std::size_t size) {
  // A request for zero bytes still yields a distinct block, as the platform's allocator does.
  return std::calloc(1, size == 0 ? 1 : size);
}

void CoTaskMemFree(void* block) { std::free(block); }

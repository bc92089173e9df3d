#pragma once
#include <cstddef>

// The task allocator pair: blocks handed between threads and libraries (row item data, tables)
// are taken here and freed by whoever owns them. Blocks come back zero-filled; freeing null is
// harmless.
void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* block);

// Typed helper: one zero-filled T.
template <typename T>
T* CoTaskMemNew() {
  return static_cast<T*>(CoTaskMemAlloc(sizeof(T)));
}

#pragma once
#include <cstddef>

#include "common/WinTypes.h"
#include "platform/Handle.h"

// The process heap: the allocator the IP Helper's "allocate and get" calls take their tables
// from. Blocks know their size (HeapSize). Only the process heap itself is a valid heap handle.
constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

HANDLE GetProcessHeap();

// A block of at least `bytes` bytes (zero-filled with HEAP_ZERO_MEMORY), or null when the heap
// handle is not the process heap or memory is short. A request for 0 bytes yields a block too.
void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes);

// The size requested for the block, or (size_t)-1 for a null block or a foreign heap.
std::size_t HeapSize(HANDLE heap, DWORD flags, const void* block);

// Frees a block of this heap; freeing null succeeds. FALSE for a foreign heap handle.
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);

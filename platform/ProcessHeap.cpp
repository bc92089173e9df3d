#include "platform/ProcessHeap.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/LastError.h"

namespace {
// Every block carries its requested size in a header in front of it; the header is as wide
// as the strictest alignment so the block itself stays suitably aligned for any record.
constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= sizeof(std::size_t));

// A distinct address that stands for the process heap.
char g_processHeap;

bool IsProcessHeap(HANDLE heap) { return heap == static_cast<HANDLE>(&g_processHeap); }

char* HeaderOf(const void* block) {
  return static_cast<char*>(const_cast<void*>(block)) - kHeader;
}
}  // namespace

HANDLE GetProcessHeap() { return &g_processHeap; }

void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) {
  if (!IsProcessHeap(heap) || bytes > static_cast<std::size_t>(-1) - kHeader) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* raw = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, kHeader + bytes) : std::malloc(kHeader + bytes);
  if (raw == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::memcpy(raw, &bytes, sizeof bytes);
  return static_cast<char*>(raw) + kHeader;
}

std::size_t HeapSize(HANDLE heap, DWORD, const void* block) {
  if (!IsProcessHeap(heap) || block == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return static_cast<std::size_t>(-1);
  }
  std::size_t bytes = 0;
  std::memcpy(&bytes, HeaderOf(block), sizeof bytes);
  return bytes;
}

BOOL HeapFree(HANDLE heap, DWORD, void* block) {
  if (!IsProcessHeap(heap)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (block != nullptr) std::free(HeaderOf(block));
  return 1;
}

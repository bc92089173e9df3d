#pragma once
#include <cstddef>
#include <mutex>
#include <vector>

#include "common/PacketRowItem.h"
#include "ui/UiTypes.h"

// The packet rows' items, kept for reuse. A busy pane adds and clears thousands of rows a
// second; an item taken from here saves the allocator's locked paths on each of them. The items
// are task-allocator blocks, so code that frees one directly (the list's own teardown) may.
class PacketRowItems {
 public:
  static constexpr std::size_t kMaxKept = 16384;  // beyond a full page of rows: freed

  PacketRowItems() = default;
  ~PacketRowItems();
  PacketRowItems(const PacketRowItems&) = delete;
  PacketRowItems& operator=(const PacketRowItems&) = delete;

  // An item with its record and file number zero, or nullptr when memory is out; a reused
  // item's cells still hold its last row's (FillCells writes them). Only the capture thread
  // takes.
  PacketRowItem* Take();
  // Keeps the items of deleted rows (any thread; null ones are skipped).
  void Give(const std::vector<DWORD_PTR>& items);
  void Give(void* item);

 private:
  void KeepLocked(void* item);

  std::vector<PacketRowItem*> m_supply;  // the capture thread's own
  std::mutex m_lock;
  std::vector<PacketRowItem*> m_given;
};

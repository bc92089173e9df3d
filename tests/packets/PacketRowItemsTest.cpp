#include <gtest/gtest.h>

#include <set>

#include "controls/packets/PacketRowItems.h"
#include "platform/TaskAllocator.h"

// Items of deleted rows come back zeroed, an item freed past the pool (as the list's own
// teardown does) is an ordinary task-allocator block, and what is kept is bounded.
TEST(PacketRowItems, ReusesGivenItemsZeroedAndKeepsABoundedNumber) {
  PacketRowItems items;
  std::vector<DWORD_PTR> rows;
  for (int i = 0; i < 3; ++i) {
    PacketRowItem* item = items.Take();
    ASSERT_NE(item, nullptr);
    *item = {{i + 1, 100 * i, 3}, 7, {}};
    rows.push_back(reinterpret_cast<DWORD_PTR>(item));
  }
  rows.push_back(0);  // a row without an item
  items.Give(rows);
  std::set<DWORD_PTR> reused;
  for (int i = 0; i < 3; ++i) {
    PacketRowItem* item = items.Take();
    EXPECT_EQ(item->record.rowNumber | item->record.recordPosition | item->record.typeCode, 0);
    EXPECT_EQ(item->logFile, 0u);
    reused.insert(reinterpret_cast<DWORD_PTR>(item));
  }
  EXPECT_EQ(reused, std::set<DWORD_PTR>(rows.begin(), rows.end() - 1));
  for (DWORD_PTR item : reused) CoTaskMemFree(reinterpret_cast<void*>(item));

  // More than the bound: the rest is freed at once, the kept ones with the pool (the leak
  // check of the sanitized run holds both to it).
  std::vector<DWORD_PTR> many;
  for (std::size_t i = 0; i < PacketRowItems::kMaxKept + 50; ++i) many.push_back(reinterpret_cast<DWORD_PTR>(items.Take()));
  items.Give(many);
}

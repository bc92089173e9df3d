#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/LogPagesItemData.h"
#include "common/WinTypes.h"
#include "wincap/PacketLogBlockReader.h"

// One page of the packet log as the page browser lists it: its number, the position of its first
// record and that record's date-time text.
struct LogPageRow {
  _LogPagesItemData page{};
  std::string time;
  std::uint32_t file = 0;  // the number of the first record's file in the log's set
};

struct LogPagesTotals {
  long pages = 0;
  long records = 0;
};

// Divides the log into pages of pageSize records counted from its first record and hands each
// page's row to onPage in file order, up to the end of the walk (the end of the file or a record
// that is not valid). Stops early when stop turns true; keeps where the walk has got to in
// progress when that is not null. Returns the pages and records walked.
LogPagesTotals ListLogPages(PacketLogBlockReader& reader, LONG pageSize,
                            const std::function<void(LogPageRow&&)>& onPage,
                            const std::atomic<bool>* stop = nullptr,
                            std::atomic<std::int64_t>* progress = nullptr);

// ListLogPages over every file of the numbered set whose first file is first (PacketLogSet),
// oldest first: pages count on across the files, so a page may begin in one file and end in the
// next, and progress counts the bytes of the whole set.
LogPagesTotals ListLogSetPages(const std::string& first, LONG pageSize,
                               const std::function<void(LogPageRow&&)>& onPage,
                               const std::atomic<bool>* stop = nullptr,
                               std::atomic<std::int64_t>* progress = nullptr);

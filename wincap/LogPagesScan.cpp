#include "wincap/LogPagesScan.h"

#include "common/FieldText.h"
#include "wincap/LogPageSize.h"

LogPagesTotals ListLogPages(PacketLogBlockReader& reader, LONG pageSize,
                            const std::function<void(LogPageRow&&)>& onPage, const std::atomic<bool>* stop,
                            std::atomic<std::int64_t>* progress) {
  pageSize = ClampLogPageSize(pageSize);
  LogPagesTotals totals;
  PacketLogBlockReader::Record record;
  while ((stop == nullptr || !stop->load(std::memory_order_relaxed)) && reader.Next(record)) {
    if (totals.records % pageSize == 0) {
      LogPageRow row;
      row.page.page = static_cast<std::int32_t>(totals.pages);
      row.page.position = static_cast<std::int32_t>(record.position);
      row.time = GetFieldText(record.header.time);
      onPage(std::move(row));
      ++totals.pages;
    }
    ++totals.records;
    if (progress) progress->store(reader.Position(), std::memory_order_relaxed);
  }
  if (progress) progress->store(reader.Position(), std::memory_order_relaxed);
  return totals;
}

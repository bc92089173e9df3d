#include "wincap/LogPagesScan.h"

#include "common/FieldText.h"
#include "wincap/LogPageSize.h"
#include "wincap/PacketLogSet.h"

namespace {

// Walks one file on from totals; progress counts from bytesBefore.
void WalkPages(PacketLogBlockReader& reader, LONG pageSize, std::uint32_t file, LogPagesTotals& totals,
               const std::function<void(LogPageRow&&)>& onPage, const std::atomic<bool>* stop,
               std::atomic<std::int64_t>* progress, std::int64_t bytesBefore) {
  PacketLogBlockReader::Record record;
  while ((stop == nullptr || !stop->load(std::memory_order_relaxed)) && reader.Next(record)) {
    if (totals.records % pageSize == 0) {
      LogPageRow row;
      row.page.page = static_cast<std::int32_t>(totals.pages);
      row.page.position = static_cast<std::int32_t>(record.position);
      row.time = GetFieldText(record.header.time);
      row.file = file;
      onPage(std::move(row));
      ++totals.pages;
    }
    ++totals.records;
    if (progress) progress->store(bytesBefore + reader.Position(), std::memory_order_relaxed);
  }
  if (progress) progress->store(bytesBefore + reader.Position(), std::memory_order_relaxed);
}

}  // namespace

LogPagesTotals ListLogPages(PacketLogBlockReader& reader, LONG pageSize,
                            const std::function<void(LogPageRow&&)>& onPage, const std::atomic<bool>* stop,
                            std::atomic<std::int64_t>* progress) {
  LogPagesTotals totals;
  WalkPages(reader, ClampLogPageSize(pageSize), 0, totals, onPage, stop, progress, 0);
  return totals;
}

LogPagesTotals ListLogSetPages(const std::string& first, LONG pageSize,
                               const std::function<void(LogPageRow&&)>& onPage, const std::atomic<bool>* stop,
                               std::atomic<std::int64_t>* progress) {
  pageSize = ClampLogPageSize(pageSize);
  LogPagesTotals totals;
  std::int64_t bytesBefore = 0;
  for (const PacketLogSet::Member& member : PacketLogSet::Files(first)) {
    PacketLogBlockReader reader;
    // A file the ring removed since the list was taken is passed over.
    if (reader.Open(member.path)) WalkPages(reader, pageSize, member.number, totals, onPage, stop, progress, bytesBefore);
    bytesBefore += member.bytes;
  }
  return totals;
}

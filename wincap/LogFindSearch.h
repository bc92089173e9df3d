#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

#include "common/LogFind.h"
#include "common/WinTypes.h"
#include "wincap/LogFindCriteria.h"
#include "wincap/PacketLogBlockReader.h"

// One result row of the log search: where the record lies and what matched.
struct LogFindHit {
  _LogFind find{};
  std::string matched;
};

// The search of a whole packet log: every record is put to the criteria in the order IP, text,
// hex, size, and the first that matches gives the record's one result row. Records are numbered
// by page (page-size records each, from the first record of the file) and by place in the page,
// both from 0.
//
// With "distinct", an IP match counts only when no earlier row has the same matched text and
// the same size; the rows are kept in a hash set, so the test costs the same however many rows
// there are. The flag may change while a search runs and counts from the next record on.
class LogFindSearch {
 public:
  LogFindSearch(LogFindCriteria criteria, LONG pageSize);

  void SetDistinct(bool on) { m_distinct.store(on, std::memory_order_relaxed); }
  LONG PageSize() const { return m_pageSize; }

  // Walks the log from its first record to the end of the walk (the end of the file or a record
  // that is not valid), handing every result row to onHit in file order. Stops early when stop
  // turns true. Where the walk has got to (the offset of the next record) is kept in progress
  // when that is not null. Returns the number of rows.
  long Run(PacketLogBlockReader& reader, const std::function<void(LogFindHit&&)>& onHit,
           const std::atomic<bool>* stop = nullptr, std::atomic<std::int64_t>* progress = nullptr);

  // The protocol number of a record's IPv4 header byte 9 as the "Type" column names it, and back.
  static const char* TypeText(std::int32_t protocol);
  static std::int32_t ProtocolOf(const std::string& typeText);

 private:
  // The row of one record (page and place filled in by the caller); false when nothing matches.
  bool Match(const PacketLogBlockReader::Record& record, LogFindHit& hit);
  bool IsDistinctIp(const std::string& matched, std::int32_t size) const;
  void NoteRow(const LogFindHit& hit);

  LogFindCriteria m_criteria;
  LONG m_pageSize;
  std::atomic<bool> m_distinct{false};
  std::unordered_set<std::string> m_rows;  // matched text, a zero, the size in decimal
};

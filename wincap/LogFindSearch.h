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
  std::uint32_t file = 0;  // the number of the record's file in the log's set
  bool ipv6 = false;       // an IPv6 packet: its type text ends in "6"
};

// The search of a whole packet log: every record is put to the criteria in the order IP, text,
// hex, size, and the first that matches gives the record's one result row. Records are numbered
// by page (page-size records each, from the first record of the file) and by place in the page,
// both from 0.
//
// With "distinct", an IP match counts only when no earlier row has the same matched text and
// the same size; the rows are kept in a hash set, so the test costs the same however many rows
// there are. The flag may change while a search runs and counts from the next record on.
//
// A large log is searched by one worker per core, each over a part of the file that starts at
// a record header found near its share of the file. The rows come out in file order: the first
// part's as they are found, each later part's once the walk before it has arrived exactly at
// its first record. A part whose start turns out to lie inside a packet (its bytes held a
// header that named its own position) is dropped and walked again from where the walk stands.
class LogFindSearch {
 public:
  static constexpr std::int64_t kMinPartBytes = std::int64_t{8} << 20;  // smaller logs: one worker

  LogFindSearch(LogFindCriteria criteria, LONG pageSize);

  void SetDistinct(bool on) { m_distinct.store(on, std::memory_order_relaxed); }
  LONG PageSize() const { return m_pageSize; }
  // Workers for a large log; the processors of the machine unless told.
  void SetWorkers(int workers) { m_workers = workers < 1 ? 1 : workers; }

  // Walks the log from its first record to the end of the walk (the end of the file or a record
  // that is not valid), handing every result row to onHit in file order. Stops early when stop
  // turns true. Where the walk has got to (the offset of the next record) is kept in progress
  // when that is not null. Returns the number of rows.
  long Run(PacketLogBlockReader& reader, const std::function<void(LogFindHit&&)>& onHit,
           const std::atomic<bool>* stop = nullptr, std::atomic<std::int64_t>* progress = nullptr);

  // Run over every file of the numbered set whose first file is first (PacketLogSet), oldest
  // first: pages count on across the files, "distinct" holds across them, each row names its
  // file, and progress counts the bytes of the whole set.
  long RunSet(const std::string& first, const std::function<void(LogFindHit&&)>& onHit,
              const std::atomic<bool>* stop = nullptr, std::atomic<std::int64_t>* progress = nullptr);

  // The protocol number of a record's IPv4 header byte 9 (of an IPv6 one, its upper header) as
  // the "Type" column names it ("TCP", "TCP6", ...), and back.
  static std::string TypeText(std::int32_t protocol, bool ipv6);
  static std::int32_t ProtocolOf(const std::string& typeText);

 private:
  // What the criteria found in one record, before "distinct" has had its say.
  struct Candidate {
    _LogFind find{};      // page and place not yet known
    std::int64_t index;   // record number in the part walked
    bool ip = false;      // the IP criterion matched, with ipMatched
    bool other = false;   // text, hex or size matched (the first of them), with otherMatched
    bool ipv6 = false;
    std::string ipMatched, otherMatched;
  };
  // Where a walk of a part ended.
  struct Walked {
    std::int64_t end = 0;      // the offset of the record after the last one walked
    std::int64_t records = 0;  // records walked
    bool arrived = false;      // stopped at `until` with the next record valid, not at the walk's end
  };
  class Part;
  using Sink = std::function<void(Candidate&&)>;
  // A walk ends early when the caller's stop or the search's own abort is set.
  struct Halt {
    const std::atomic<bool>* stop;
    const std::atomic<bool>* abort;
    bool IsSet() const {
      return (stop != nullptr && stop->load(std::memory_order_relaxed)) ||
             (abort != nullptr && abort->load(std::memory_order_relaxed));
    }
  };

  // Walks records from the reader's place until one lies at or past until, handing each record
  // that matched to sink. walked counts the bytes done, for the progress.
  Walked Walk(PacketLogBlockReader& reader, std::int64_t until, const Sink& sink, const Halt& halt,
              std::atomic<std::int64_t>* walked) const;
  bool Evaluate(const PacketLogBlockReader::Record& record, Candidate& candidate) const;
  // Gives the candidate its row, when "distinct" leaves it one; true when it did.
  bool Emit(Candidate&& candidate, std::int64_t base, const std::function<void(LogFindHit&&)>& onHit);
  bool IsDistinctIp(const std::string& matched, std::int32_t size) const;
  int PartsFor(std::int64_t length) const;
  // Run over one file: progress counts from bytesBefore, records gets the records walked.
  long RunFile(PacketLogBlockReader& reader, const std::function<void(LogFindHit&&)>& onHit,
               const std::atomic<bool>* stop, std::atomic<std::int64_t>* progress, std::int64_t bytesBefore,
               std::int64_t& records);

  LogFindCriteria m_criteria;
  LONG m_pageSize;
  std::atomic<bool> m_distinct{false};
  int m_workers;
  std::int64_t m_recordBase = 0;  // records of the set's files before the one walked
  std::uint32_t m_file = 0;       // the number of the file walked
  std::unordered_set<std::string> m_rows;  // matched text, a zero, the size in decimal
};

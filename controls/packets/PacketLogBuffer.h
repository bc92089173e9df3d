#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/WinTypes.h"
#include "wincap/PacketLogSet.h"

// The capture thread's appender for the packet log: records (the 100-byte header built exactly as
// PacketLogFile builds it, then the packet bytes) are gathered in 256 KiB batches, and a writer
// thread of the buffer's own writes each batch to the end of the file in one write, so the
// capture thread never waits for the disk while there is a free batch to gather into.
//
// A record's position is known as soon as it is gathered: the file length when the log was
// opened plus every byte gathered since. Only the capture thread appends to its log, so nothing
// else moves the end of the file.
//
// A long log rolls over into the next file of its numbered set (PacketLogSet) when the next
// record would pass the file bound: the batch of the old file goes to the writer, and records go
// on at position 0 of the new one, so every record lies whole in one file. The writer thread,
// once it has begun the new file, removes the oldest files beyond the ring's limits.
//
// The owner decides when a batch goes to the writer (Submit: before the batch is old, see
// MonListIpMonCWinThread) and when it needs everything in the file (Flush: before any read of
// the log, before truncating, reopening or closing it). It takes no lock of the owner's: the
// owner holds its log lock around every call; the writer thread shares only the batches.
class PacketLogBuffer {
 public:
  static constexpr std::size_t kCapacity = 256 * 1024;  // bytes of one batch
  static constexpr int kBatches = 4;                     // gathered, queued or being written
  static constexpr std::int64_t kMaxAgeMs = 20;          // oldest gathered record, ms

  PacketLogBuffer();
  ~PacketLogBuffer();
  PacketLogBuffer(const PacketLogBuffer&) = delete;
  PacketLogBuffer& operator=(const PacketLogBuffer&) = delete;

  // Where records were lost from: the file of the set and the offset in it.
  struct Place {
    std::uint32_t file = 0;
    std::int64_t offset = -1;
  };

  // Opens the newest file of the set whose first file is path for appending (created when
  // missing, never truncated: only a record cut short at its end, as a killed run leaves one, is
  // cut off) and starts the writer. Closing writes every batch first and ends the writer.
  bool Open(const std::string& path, const PacketLogSet::Limits& limits = {});
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // Gathers one record. Returns the data length (1..65535) and hands back the record's position
  // and the number of its file in the set, or 0 when nothing was gathered: not open, no data, a
  // length outside 1..65535, or the next file of the set could not be made (a loss, as below).
  LONG Write(const void* data, LONG length, std::string_view source, std::string_view destination,
             std::string_view time, DWORD* position, std::uint32_t* file = nullptr);
  // The number and path of the file records are gathered for.
  std::uint32_t FileNumber() const { return m_file ? m_file->number : 0; }
  std::string FilePath() const { return m_file ? PacketLogSet::FileName(m_first, m_file->number) : std::string(); }
  // New ring limits (0: none), applied from the next rollover on.
  void SetRing(std::uint32_t maxFiles, std::int64_t maxBytes);
  // Any thread: the bytes of the set's files before the current one, and how many files it has.
  std::int64_t OlderBytes() const { return m_olderBytes.load(std::memory_order_relaxed); }
  std::uint32_t Files() const { return m_files.load(std::memory_order_relaxed); }

  // Hands the gathered batch to the writer without waiting for the disk.
  void Submit();
  // Submits and waits until every batch is in the file. A write that fails cuts the file back to
  // where its batch began, so readers never meet half a record; that batch, those queued after
  // it and the records gathered since are lost, and the result is false (for the first Flush
  // after the loss).
  bool Flush();
  // After a lost batch nothing more is gathered (Write returns 0) until the owner has taken the
  // loss: the positions handed out from the cut on name no record, and a record written there
  // later would make them name the wrong one. LossPending reads without any lock.
  bool LossPending() const { return m_lossSeen.load(std::memory_order_acquire); }
  // Drops what is gathered and returns the place from which records were lost (every record
  // handed out at or beyond it, in that file or a later one, names nothing); offset -1 when
  // nothing was lost. Gathering stays stopped until Resume or Open.
  Place TakeLoss();
  // Gathering again after a taken loss: the next record goes to the end the file has then.
  void Resume();
  bool IsStopped() const { return m_stopped; }
  bool HasPending() const { return m_current->used > 0; }
  // True when the oldest gathered record was gathered kMaxAgeMs or more before nowMs (a
  // monotonic clock in ms, see NowMs).
  bool IsDue(std::int64_t nowMs) const { return HasPending() && nowMs - m_firstAtMs >= kMaxAgeMs; }
  // Batches written so far and batches lost to a failed write.
  std::uint64_t Batches();
  std::uint64_t LostBatches();

  // A cheap monotonic clock in ms for IsDue.
  static std::int64_t NowMs();

 private:
  // One open file of the set; closed when the last batch bound for it has been written.
  struct File {
    int fd = -1;
    std::uint32_t number = 0;
    ~File();
  };

  struct Batch {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t used = 0;
    std::int64_t base = 0;  // file offset of bytes[0]
    std::shared_ptr<File> file;
  };

  void WriterLoop();
  bool WriteBatch(const Batch& batch);
  // The next file of the set for the records from now on; false (a loss) when it cannot be made.
  bool Roll();
  // Takes the set's size and count from its files (the current one's size from end).
  void CountSet(std::uint32_t current);
  void StopWriter();
  // Waits until the writer has nothing queued or in hand (the caller holds m_lock).
  void WaitIdle(std::unique_lock<std::mutex>& lock);

  int m_fd = -1;  // the current file's, -1 while closed
  std::shared_ptr<File> m_file;
  std::string m_first;
  PacketLogSet::Limits m_limits;
  std::array<Batch, kBatches> m_batches;

  // Capture side (the owner's thread, under its log lock).
  Batch* m_current;
  std::int64_t m_end = -1;  // where the next record goes; -1: ask the file
  std::int64_t m_firstAtMs = 0;
  bool m_stopped = false;  // a loss was taken: nothing is gathered until Resume or Open

  // Shared with the writer thread.
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::deque<Batch*> m_queued;
  std::vector<Batch*> m_free;
  bool m_writing = false;
  bool m_stop = false;
  bool m_failed = false;  // a batch was lost since the last Flush
  bool m_loss = false;  // a batch was lost and the capture side has not taken the loss
  Place m_lostFrom;  // where the first lost batch began
  std::atomic<std::int64_t> m_olderBytes{0};
  std::atomic<std::uint32_t> m_files{1};
  std::uint32_t m_prunedFor = 0;  // writer thread: the newest file the ring was pruned for
  std::atomic<bool> m_lossSeen{false};  // m_loss, read by the capture side without the lock
  std::uint64_t m_written = 0;
  std::uint64_t m_lost = 0;
  std::thread m_writer;
};

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

// The capture thread's appender for the packet log: records (the 100-byte header built exactly as
// PacketLogFile builds it, then the packet bytes) are gathered in 256 KiB batches, and a writer
// thread of the buffer's own writes each batch to the end of the file in one write, so the
// capture thread never waits for the disk while there is a free batch to gather into.
//
// A record's position is known as soon as it is gathered: the file length when the log was
// opened plus every byte gathered since. Only the capture thread appends to its log, so nothing
// else moves the end of the file.
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

  // Opens the file for appending (created when missing, never truncated: only a record cut short
  // at its end, as a killed run leaves one, is cut off) and starts the writer.
  // Closing writes every batch first and ends the writer.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // Gathers one record. Returns the data length (1..65535) and hands back the record's position,
  // or 0 when nothing was gathered: not open, no data, a length outside 1..65535, or a position
  // beyond what a signed 32-bit record position can name.
  LONG Write(const void* data, LONG length, std::string_view source, std::string_view destination,
             std::string_view time, DWORD* position);

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
  // Drops what is gathered and returns the file offset from which records were lost (every
  // position handed out at or beyond it names nothing), or -1 when nothing was lost. Gathering
  // stays stopped until Resume or Open.
  std::int64_t TakeLoss();
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
  struct Batch {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t used = 0;
    std::int64_t base = 0;  // file offset of bytes[0]
  };

  void WriterLoop();
  bool WriteBatch(const Batch& batch);
  void StopWriter();
  // Waits until the writer has nothing queued or in hand (the caller holds m_lock).
  void WaitIdle(std::unique_lock<std::mutex>& lock);

  int m_fd = -1;
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
  std::int64_t m_lostFrom = -1;  // where the first lost batch began
  std::atomic<bool> m_lossSeen{false};  // m_loss, read by the capture side without the lock
  std::uint64_t m_written = 0;
  std::uint64_t m_lost = 0;
  std::thread m_writer;
};

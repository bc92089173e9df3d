#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/WinTypes.h"

// The capture thread's appender for the packet log: records (the 100-byte header built exactly as
// PacketLogFile builds it, then the packet bytes) are gathered in a 256 KiB buffer and written to
// the end of the file in one write per batch instead of one seek and one write per record.
//
// A record's position is known as soon as it is gathered: the file length when the batch began
// plus the bytes gathered before it. Only the capture thread appends to its log, so nothing else
// moves the end of the file while a batch is pending.
//
// The owner decides when a batch goes to the file (see MonListIpMonCWinThread): before any read
// of the log, before truncating or reopening it, on every idle turn without a packet and at least
// every kMaxAgeMs while packets flow. It takes no lock: the owner holds its log lock around every
// call.
class PacketLogBuffer {
 public:
  static constexpr std::size_t kCapacity = 256 * 1024;  // bytes
  static constexpr std::int64_t kMaxAgeMs = 20;          // oldest gathered record, ms

  PacketLogBuffer();
  ~PacketLogBuffer();
  PacketLogBuffer(const PacketLogBuffer&) = delete;
  PacketLogBuffer& operator=(const PacketLogBuffer&) = delete;

  // Opens the file for appending (created when missing, never truncated). Closing writes the
  // pending batch first.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // Gathers one record. Returns the data length (1..65535) and hands back the record's position,
  // or 0 when nothing was gathered: not open, no data, a length outside 1..65535, or a position
  // beyond what a signed 32-bit record position can name.
  LONG Write(const void* data, LONG length, const char* source, const char* destination,
             const char* time, DWORD* position);

  // Writes the pending batch at the end of the file. A write that fails cuts the file back to
  // where the batch began, so readers never meet half a record; the batch is then lost and the
  // result is false.
  bool Flush();
  bool HasPending() const { return m_used > 0; }
  // True when the oldest pending record was gathered kMaxAgeMs or more before nowMs (a
  // monotonic clock in ms, see NowMs).
  bool IsDue(std::int64_t nowMs) const { return m_used > 0 && nowMs - m_firstAtMs >= kMaxAgeMs; }
  // Batches written so far and batches lost to a failed write.
  std::uint64_t Batches() const { return m_batches; }
  std::uint64_t LostBatches() const { return m_lostBatches; }

  // A cheap monotonic clock in ms for IsDue.
  static std::int64_t NowMs();

 private:
  int m_fd = -1;
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::size_t m_used = 0;
  std::int64_t m_base = 0;  // file offset of m_buffer[0] while a batch is pending
  std::int64_t m_firstAtMs = 0;
  std::uint64_t m_batches = 0;
  std::uint64_t m_lostBatches = 0;
};

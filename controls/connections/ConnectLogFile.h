#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The file under the connection log: one file position shared by reads and writes, records
// gathered in memory and written in large blocks, and reads served from a read-ahead block.
//
// Every read, seek or position query writes the gathered records first, so a reader of this
// object always sees every record appended before it. Not locked: the owner's log lock guards it.
//
// Two writers of one file (two objects, in one process or two) never overwrite each other: a
// block is written under an exclusive lock on the open file (an open-file-description lock on a
// byte past any record, so readers are not held up) at the end the file has then, and only then
// does each record in it get its position, stored in its header's position field.
class ConnectLogFile {
 public:
  enum class Mode {
    Append,    // read/write, created when missing, never truncated (but for a torn last record)
    ReadOnly,  // read only
    Truncate,  // read/write, created, emptied
  };

  ConnectLogFile() = default;
  ~ConnectLogFile();
  ConnectLogFile(const ConnectLogFile&) = delete;
  ConnectLogFile& operator=(const ConnectLogFile&) = delete;

  bool Open(const std::string& path, Mode mode);
  // Writes what is gathered, then closes.
  void Close();
  bool IsOpen() const { return m_fd >= 0; }

  // Gathers one record, its header then its data; the header's bytes 16-19 (its position) are
  // filled in when the block is written. False when the file is not open for writing.
  bool AppendRecord(const void* header, std::size_t headerBytes, const void* data, std::size_t dataBytes);
  // Bytes gathered and not yet written; a record gathered now starts this far into the block.
  std::size_t PendingBytes() const { return m_pending.size(); }
  std::size_t PendingRecords() const { return m_pendingRecords.size(); }
  bool IsBlockFull() const { return m_pending.size() >= kWriteBlock; }
  // When the oldest gathered record was gathered (meaningful while PendingBytes() > 0).
  std::chrono::steady_clock::time_point PendingSince() const { return m_pendingSince; }
  // True when the oldest gathered record was gathered at least maxAge ago.
  bool IsDue(std::chrono::steady_clock::time_point now, std::chrono::milliseconds maxAge) const {
    return !m_pending.empty() && now - m_pendingSince >= maxAge;
  }
  // Writes the gathered records at the present end of the file; the file position moves to the
  // new end. A failed write cuts the file back to its size before them, so no half record is
  // left behind.
  bool Flush();
  // Where the block written last began: a record gathered at offset k into it is at
  // LastBlockPosition() + k.
  std::uint64_t LastBlockPosition() const { return m_lastBlock; }
  // Forgets the gathered records (the file is about to be emptied).
  void DiscardPending();

  // Reads up to bytes at the file position; the count read (short at the end of the file).
  std::size_t Read(void* buffer, std::size_t bytes);
  // Moves the position on by up to bytes, never past the end; the count moved.
  std::uint64_t Skip(std::uint64_t bytes);
  void Seek(std::uint64_t position);
  std::uint64_t Tell();

 private:
  static constexpr std::size_t kWriteBlock = 64 * 1024;  // bytes gathered before a write
  static constexpr std::size_t kReadBlock = 64 * 1024;   // bytes read ahead

  std::uint64_t FileSize();
  void DropReadAhead() { m_readLength = 0; }
  bool LockWriter(bool lock);
  // A writer that was killed mid-block may have left part of a record at the end of the file:
  // it is cut off, so that the records appended next follow the last whole one and readers
  // reach them.
  void CutTornTail();

  int m_fd = -1;
  bool m_writable = false;
  std::uint64_t m_position = 0;
  // Records not yet written, where each begins in the block, and when the first was gathered.
  std::vector<unsigned char> m_pending;
  std::vector<std::size_t> m_pendingRecords;
  std::chrono::steady_clock::time_point m_pendingSince;
  std::uint64_t m_lastBlock = 0;
  // Read-ahead block: m_readLength bytes of the file from m_readBase.
  std::vector<unsigned char> m_read;
  std::uint64_t m_readBase = 0;
  std::size_t m_readLength = 0;
};

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The file under the connection log: one file position shared by reads and writes, appends
// gathered in memory and written in large blocks, and reads served from a read-ahead block.
//
// Every read, seek or position query writes the gathered appends first, so a reader of this
// object always sees every record appended before it. Not locked: the owner's log lock guards it.
class ConnectLogFile {
 public:
  enum class Mode {
    Append,    // read/write, created when missing, never truncated
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

  // Where the next append lands: the end of the file including what is gathered.
  std::uint64_t AppendPosition();
  // Appends the two parts as one piece at the end; the file position moves to the new end.
  bool Append(const void* first, std::size_t firstBytes, const void* second, std::size_t secondBytes);
  // Writes the gathered appends. A failed write cuts the file back to its size before them,
  // so no half record is left behind.
  bool Flush();
  // Forgets the gathered appends (the file is about to be emptied).
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

  int m_fd = -1;
  bool m_writable = false;
  std::uint64_t m_position = 0;
  // Appends not yet written, and where they go.
  std::vector<unsigned char> m_pending;
  std::uint64_t m_pendingBase = 0;
  // Read-ahead block: m_readLength bytes of the file from m_readBase.
  std::vector<unsigned char> m_read;
  std::uint64_t m_readBase = 0;
  std::size_t m_readLength = 0;
};

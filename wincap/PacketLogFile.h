#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/LogRecMarker.h"
#include "common/WinTypes.h"

// The packet log: a flat file of records with no file header. Each record is the 100-byte
// _LogRecMarker followed at once by the packet bytes (1 to 65535 of them). A record's position is
// the file offset of its header; it is stored in the header and is the key every reader looks a
// packet up by.
//
// One object is one open file with its own file position. It takes no lock: the capture thread
// holds its log lock around every call on its own object (and the packet windows take the same
// lock from their seek to their restore); other readers open the file by name with objects of
// their own. Files are always shared: other objects and processes may read and append while this
// one is open.
//
// A record is valid when its whole header is present, the header begins with the marker text
// "**Log Record**" (zero-terminated), its data length is 1..65535 and all its data bytes are in
// the file. Reads stop at the first record that is not valid (a damaged record or the incomplete
// last record of a writer still appending), leave the file position at that record's header and
// report no output for it; nothing is repaired.
class PacketLogFile {
 public:
  static constexpr LONG kMaxDataLength = 0xFFFF;
  static constexpr LONG kHeaderLength = sizeof(_LogRecMarker);
  // Record positions travel as signed 32-bit values (-1 = not logged), so no record is written
  // beyond this offset.
  static constexpr std::int64_t kMaxRecordPosition = 0x7FFFFFFF;

  PacketLogFile() = default;
  ~PacketLogFile();
  PacketLogFile(const PacketLogFile&) = delete;
  PacketLogFile& operator=(const PacketLogFile&) = delete;

  // Opening closes whatever was open first; true on success. The position starts at 0.
  bool OpenShared(const std::string& path);    // read-write, created when missing, never truncated
  bool OpenReadOnly(const std::string& path);  // read-only, the file must exist
  bool OpenTruncate(const std::string& path);  // read-write, created when missing, emptied
  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  bool IsWritable() const { return m_fd >= 0 && m_writable; }
  const std::string& Path() const { return m_path; }  // the name last opened
  // The first file of the numbered set (PacketLogSet) this file belongs to, for readers handed
  // this object that must find a record in another file of the set; Path() until it is set.
  void SetFirstOfSet(std::string first) { m_firstOfSet = std::move(first); }
  const std::string& FirstOfSet() const { return m_firstOfSet.empty() ? m_path : m_firstOfSet; }

  // Empties the open read-write file; the next record goes to position 0.
  bool Truncate();

  std::int64_t Tell() const { return m_position; }
  bool Seek(std::int64_t position);  // false (position unchanged) when closed or negative
  std::int64_t Length() const;       // -1 when closed

  // Appends one record at the end of the file and leaves the position after it: the texts are
  // cut to 19 (source, destination) and 24 (time) characters, null texts are empty, and the
  // header's position is the offset the record was written at, handed back through position when
  // that is not null.
  // Returns the data length written (1..65535), or 0 when nothing was written: the file is not
  // open for writing, data is null, length is below 1 or above 65535, the file has reached
  // kMaxRecordPosition, or the write failed (the partial record is cut off again).
  LONG Write(const void* data, LONG length, const char* source, const char* destination,
             const char* time, DWORD* position);

  // Reads the record at the current position. Any pointer may be null; the address texts are those
  // of RecordAddressTexts (with a buffer; from the header alone without one).
  // With a buffer: zero-fills buffer[0, size), copies min(data length, size) data bytes, moves the
  //   position to the next record and returns the number copied (>= 1); the rest of a record
  //   longer than size is skipped.
  // Without a buffer: walks record by record to the end of the file; position, texts and header
  //   describe the last valid record walked over (left unchanged when there was none) and the
  //   result is -1.
  // Returns 0 when the file is not open or size is below 1 with a buffer (nothing read), -1 when
  // there is no valid record at the position (end of file included).
  LONG ReadNext(LONG* position, void* buffer, LONG size, std::string* source,
                std::string* destination, std::string* time, _LogRecMarker* header = nullptr);

  // Reads the record whose stored position equals position: starts at that offset and passes over
  // valid records whose stored position differs. Copies at most size data bytes (no zero-fill) and
  // returns the number copied; -1 when no such record is reached before an invalid record or the
  // end of the file, or position is negative; 0 when the file is not open, buffer is null or size
  // is below 1. The file position is the same after the call as before it.
  LONG Read(LONG position, void* buffer, LONG size, std::string* source, std::string* destination,
            std::string* time, _LogRecMarker* header = nullptr);

  // Reads the header of the record at the current position and moves past its data, for readers
  // that walk records (search, pages). Returns 1, -1 (no valid record, position unchanged) or 0
  // (not open).
  LONG ReadNextHeader(_LogRecMarker* header);

  // The position of the last valid record, 0 when there is none. The open file's position is
  // restored; a closed object reads the file it last opened, opened read-only for the call.
  LONG GetMaxRecNum();
  static LONG GetMaxRecNum(const std::string& path);

  // The header of a record written at position: zero-filled, marker, cut texts, data length,
  // record length (data length + 100), CR LF.
  static void BuildHeader(_LogRecMarker& header, DWORD position, LONG dataLength, std::string_view source,
                          std::string_view destination, std::string_view time);
  // Marker text and data length 1..65535 (the checks that need no file).
  static bool IsRecordHeader(const _LogRecMarker& header);

  // The address texts of a record. An address text is written into its header field only when it
  // fits (every IPv4 text does, most IPv6 texts do not; see HeaderAddressText), and records of
  // IPv6 frames written before IPv6 was decoded hold the IPv4 reading of their bytes: so the
  // texts of an IPv6 frame are taken from its packet bytes, and those of any other record from
  // its header. Read and ReadNext with a buffer hand out these texts. data and length are the
  // record's bytes as read (the Ethernet header first); data may be null.
  static void RecordAddressTexts(const _LogRecMarker& header, const void* data, std::size_t length,
                                 std::string* source, std::string* destination);
  // The text a writer puts into an address field: the text itself when it fits the field's 19
  // characters, else empty, so that no reader meets a cut address.
  static std::string_view HeaderAddressText(std::string_view text);

 private:
  bool OpenWith(const std::string& path, int flags, bool writable);
  bool ReadAt(std::int64_t offset, void* buffer, std::size_t length) const;
  bool DataInFile(std::int64_t end);
  bool ReadValidHeader(std::int64_t at, _LogRecMarker& header);
  void RefreshLength();

  int m_fd = -1;
  bool m_writable = false;
  std::string m_path;
  std::string m_firstOfSet;
  std::int64_t m_position = 0;     // byte offset of the next read
  std::int64_t m_knownLength = 0;  // file length as last seen; refreshed when a read needs more
};

#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "wincap/PcapngFormat.h"

// Writes a pcapng file as a stream: one section header, one Ethernet interface, then one enhanced
// packet block per frame (times in microseconds). The blocks go through a small buffer to a new
// file PATH.<random>.part (CreateTempFileBeside); Commit renames that file to PATH once
// everything is on disk, so a failed or abandoned export never leaves a partial file under the
// chosen name (nor harms a file already there).
class PcapngWriter {
 public:
  static constexpr std::uint16_t kLinkTypeEthernet = pcapng::kLinkTypeEthernet;
  static constexpr char kPartSuffix[] = ".part";

  PcapngWriter() = default;
  ~PcapngWriter();  // abandons an uncommitted file
  PcapngWriter(const PcapngWriter&) = delete;
  PcapngWriter& operator=(const PcapngWriter&) = delete;

  // Creates the part file and writes the section header and the interface block.
  bool Open(const std::string& path, std::uint16_t linkType, std::uint32_t snapLength);
  // One frame with its time in microseconds since 1970 (UTC).
  bool WritePacket(std::int64_t micros, const std::uint8_t* data, std::uint32_t length);
  // Writes out, syncs and renames to the chosen name; false (and nothing under that name) when
  // any step failed.
  bool Commit();
  // Removes the part file.
  void Abandon();
  const std::string& ErrorText() const { return m_error; }

 private:
  bool Put(const void* data, std::size_t length);
  bool PutU32(std::uint32_t value) { return Put(&value, 4); }
  bool Drain();
  bool Fail(const std::string& what);

  int m_fd = -1;
  std::string m_path;
  std::string m_partPath;
  std::vector<std::uint8_t> m_buffer;
  bool m_failed = false;
  std::string m_error;
};

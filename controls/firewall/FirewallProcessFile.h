#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "common/FirewallProcessRecord.h"
#include "controls/firewall/FirewallLockedFile.h"

// The firewall process file: at most 64 records of 548 bytes, no header. Whole records are read
// until the end of the file or the limit; a partial record at the end is ignored.
class FirewallProcessFile {
 public:
  using Sharing = FirewallLockedFile::Sharing;
  static constexpr std::size_t kMaxRecords = 64;

  struct Contents {
    bool opened = false;   // the file could be opened and read
    bool missing = false;  // there is no such file: no entries yet
    std::vector<_FirewallProcessRecord> records;
  };

  // No records when the file is missing or stays held by another; the flags tell which.
  static Contents Read(const std::string& path, Sharing sharing);
  // Writes the first 64 records; false when the file is held by another or cannot be written.
  static bool Write(const std::string& path, const std::vector<_FirewallProcessRecord>& records);
};

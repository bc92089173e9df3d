#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "common/FirewallProcessRecord.h"

// Reader of the firewall process file: 548-byte records, no header, at most 64 of them.
// Whole records are read until the end of the file or the limit; a partial record ends the read.
class RamparoProcessFile {
 public:
  static constexpr std::size_t kMaxRecords = 64;

  // Nothing when the file is missing or stays locked by a writer.
  static std::vector<_FirewallProcessRecord> Read(const std::string& path, bool* opened = nullptr);
};

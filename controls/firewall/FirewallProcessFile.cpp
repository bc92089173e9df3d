#include "controls/firewall/FirewallProcessFile.h"

#include <algorithm>

std::vector<_FirewallProcessRecord> FirewallProcessFile::Read(const std::string& path, Sharing sharing, bool* opened) {
  std::vector<_FirewallProcessRecord> records;
  FirewallLockedFile file;
  const bool open = file.OpenRead(path, sharing);
  if (opened) *opened = open;
  _FirewallProcessRecord record;
  while (open && records.size() < kMaxRecords && file.Read(&record, sizeof record) == sizeof record)
    records.push_back(record);
  return records;
}

bool FirewallProcessFile::Write(const std::string& path, const std::vector<_FirewallProcessRecord>& records) {
  const std::size_t count = std::min(records.size(), kMaxRecords);
  const auto* bytes = reinterpret_cast<const char*>(records.data());
  return FirewallLockedFile::Replace(path, std::string_view(bytes, count * sizeof(_FirewallProcessRecord)));
}

#include "controls/firewall/FirewallProcessFile.h"

#include <algorithm>

FirewallProcessFile::Contents FirewallProcessFile::Read(const std::string& path, Sharing sharing) {
  Contents contents;
  FirewallLockedFile file;
  contents.opened = file.OpenRead(path, sharing);
  contents.missing = !contents.opened && file.WasMissing();
  _FirewallProcessRecord record;
  while (contents.opened && contents.records.size() < kMaxRecords && file.Read(&record, sizeof record) == sizeof record)
    contents.records.push_back(record);
  return contents;
}

bool FirewallProcessFile::Write(const std::string& path, const std::vector<_FirewallProcessRecord>& records) {
  const std::size_t count = std::min(records.size(), kMaxRecords);
  const auto* bytes = reinterpret_cast<const char*>(records.data());
  return FirewallLockedFile::Replace(path, std::string_view(bytes, count * sizeof(_FirewallProcessRecord)));
}

#include "controls/firewall/FirewallRuleFile.h"

#include <cstring>

FirewallRuleFile::Contents FirewallRuleFile::Read(const std::string& path, std::size_t maxRecords, Sharing sharing) {
  Contents contents;
  FirewallLockedFile file;
  if (!file.OpenRead(path, sharing)) {
    contents.missing = file.WasMissing();
    return contents;
  }
  contents.opened = true;

  std::uint8_t count[4];
  if (file.Read(count, sizeof count) == sizeof count) {
    contents.declaredCount = static_cast<std::uint32_t>(count[0]) | static_cast<std::uint32_t>(count[1]) << 8 |
                             static_cast<std::uint32_t>(count[2]) << 16 | static_cast<std::uint32_t>(count[3]) << 24;
  }
  if (contents.declaredCount != 0) {
    _FirewallRule rule;
    while (contents.rules.size() < maxRecords && file.Read(&rule, sizeof rule) == sizeof rule) {
      contents.rules.push_back(rule);
    }
  }
  return contents;
}

bool FirewallRuleFile::Write(const std::string& path, const std::vector<_FirewallRule>& rules) {
  const auto count = static_cast<std::uint32_t>(rules.size());
  std::string bytes(sizeof count + rules.size() * sizeof(_FirewallRule), '\0');
  const std::uint8_t le[4] = {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
                              static_cast<std::uint8_t>(count >> 16), static_cast<std::uint8_t>(count >> 24)};
  std::memcpy(bytes.data(), le, sizeof le);
  if (!rules.empty()) std::memcpy(bytes.data() + sizeof count, rules.data(), rules.size() * sizeof(_FirewallRule));
  return FirewallLockedFile::Replace(path, bytes);
}

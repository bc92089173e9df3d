#include "controls/trace/WhoIsServerList.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/FileContents.h"

std::vector<std::string> WhoIsServerList::Defaults() {
  // The referral service first, then the regional registries that hold most addresses.
  return {"whois.iana.org", "whois.arin.net", "whois.ripe.net", "whois.apnic.net"};
}

std::optional<std::vector<std::string>> WhoIsServerList::Read(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !error) {
    if (!Write(path, Defaults())) return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<std::string> names;
  char record[kRecordSize];
  while (file.read(record, sizeof record)) {
    const std::size_t length = strnlen(record, sizeof record);
    if (length != 0) names.emplace_back(record, length);
  }
  return names;
}

bool WhoIsServerList::Write(const std::string& path, const std::vector<std::string>& names) {
  std::string bytes;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    char record[kRecordSize] = {};
    std::memcpy(record, name.data(), std::min(name.size(), kRecordSize - 1));
    bytes.append(record, sizeof record);
  }
  // Server names are nothing private: a new list is made as any new file (0666 less the umask).
  return ReplaceFileContents(path, bytes, 0666);
}

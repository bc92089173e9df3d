#include "controls/trace/WhoIsServerList.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

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
  const std::string temporary = path + ".tmp" + std::to_string(getpid());
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    for (const std::string& name : names) {
      if (name.empty()) continue;
      char record[kRecordSize] = {};
      std::memcpy(record, name.data(), std::min(name.size(), kRecordSize - 1));
      file.write(record, sizeof record);
    }
    file.flush();
    if (!file) {
      file.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

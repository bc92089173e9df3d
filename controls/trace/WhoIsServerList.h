#pragma once
#include <optional>
#include <string>
#include <vector>

// The whois server list file "PelorinWhoIsServers.txt": fixed 256-byte records, each one server
// host name, zero-padded.
class WhoIsServerList {
 public:
  static constexpr char kFileName[] = "PelorinWhoIsServers.txt";
  static constexpr std::size_t kRecordSize = 256;

  // Written to a list file that does not exist yet.
  static std::vector<std::string> Defaults();

  // The names in file order (empty records skipped, a cut-off last record ignored). A missing
  // file is first created with the defaults; nothing when it can be neither read nor created.
  static std::optional<std::vector<std::string>> Read(const std::string& path);
  // Recreates the file with the non-empty names (each cut to 255 characters). On failure the
  // old file stays as it was and false is returned.
  static bool Write(const std::string& path, const std::vector<std::string>& names);
};

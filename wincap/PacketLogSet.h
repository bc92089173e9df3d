#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The numbered set a long packet log rolls over into. The first file keeps the log's own name
// ("X.rec", number 0); each later one is named from it with its number ("X.0001.rec", ...).
// Every file of the set is an ordinary packet log, whose positions start at 0 again, so a
// record is named by its file's number and its position in that file.
//
// The ring: once a new file has begun, the oldest files are removed until the set holds at most
// maxFiles files and maxBytes bytes (0: no such limit); the file being written is never removed.
class PacketLogSet {
 public:
  // A file is rolled over before it would pass this many bytes: record positions are signed
  // 32-bit offsets.
  static constexpr std::int64_t kDefaultFileBytes = std::int64_t{1} << 31;

  struct Limits {
    std::int64_t fileBytes = kDefaultFileBytes;  // bound of one file
    std::uint32_t maxFiles = 0;                  // 0: no limit
    std::int64_t maxBytes = 0;                   // 0: no limit
  };

  struct Member {
    std::uint32_t number = 0;
    std::string path;
    std::int64_t bytes = 0;
  };

  // The path of file number of the set whose first file is first.
  static std::string FileName(const std::string& first, std::uint32_t number);
  // The files of the set that exist, oldest (lowest number) first.
  static std::vector<Member> Files(const std::string& first);
  // The number of the newest file that exists, 0 when there is none.
  static std::uint32_t Newest(const std::string& first);
  // Removes the oldest files beyond the limits, never the file numbered keep or newer ones.
  // Returns how many were removed.
  static int Prune(const std::string& first, const Limits& limits, std::uint32_t keep);
  // Removes every numbered file (the first file is left to its owner, who empties it).
  static void RemoveNumbered(const std::string& first);
  // The bytes of every file of the set.
  static std::int64_t TotalBytes(const std::string& first);
};

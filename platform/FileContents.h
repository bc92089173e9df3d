#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// Whole-file reads and crash-safe replacement.

// The file's bytes, or nothing when it cannot be read. A missing file reads as nothing.
std::optional<std::string> ReadFileContents(const std::string& path);

// Writes the bytes to a new temporary file beside the target (CreateTempFileBeside), flushes it
// to disk and renames it over the target, so the target holds either the old or the new bytes,
// never a mixture. The new file keeps the permission bits of the old one and, where permitted,
// its owner; a file made new gets newFileMode less the umask (by default readable by its owner
// alone). On failure the old file is left as it was and the temporary file is removed.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, mode_t newFileMode = 0600);

// Creates the folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);

// Identity of a file's current content: changes whenever the file is replaced or written.
struct FileStamp {
  unsigned long long device = 0, inode = 0, size = 0;
  long long modifiedNs = 0;
  bool exists = false;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

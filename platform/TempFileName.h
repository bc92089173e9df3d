#pragma once
#include <string>

// The platform's temporary-file-name service: creates an empty file named from the first three
// characters of prefix, a unique upper-case hex number and ".tmp" in folder (which ends with a
// separator or is empty for the current folder), and returns its path. A name already taken,
// for example by a file a crashed run left behind, is passed over. Empty when no file could be
// created (the folder is missing or not writable, every number is taken).
std::string GetTempFileName(const std::string& folder, const std::string& prefix);

#pragma once
#include <sys/types.h>

#include <string>

// Creates a new file in the folder of target, for bytes that are then renamed over target: named
// target + "." + a random part + suffix, opened for writing with O_CREAT|O_EXCL|O_NOFOLLOW, so a
// file or symlink already at a name (planted there, or left by a crashed run) is neither opened
// nor followed, and another name is tried. mode is reduced by the umask as for any new file.
// Returns the descriptor and sets path; -1 (errno set) when no file could be created.
int CreateTempFileBeside(const std::string& target, const char* suffix, mode_t mode, std::string& path);

#pragma once
#include <cstdint>
#include <unordered_map>

// Owning process ids of sockets, found by their inode numbers among the open files of every
// process (/proc/PID/fd/N links read "socket:[INODE]").
//
// The map comes in with the inodes wanted (value 0) and leaves with the process id of each one
// found. Processes are walked in ascending id order, so a socket shared by several processes
// goes to the lowest id; the walk ends as soon as every wanted inode has an owner. Processes
// that vanish or may not be read during the walk are skipped.
void FindSocketOwners(std::unordered_map<std::uint32_t, std::uint32_t>& owners);

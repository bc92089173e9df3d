#pragma once
#include <cstdint>
#include <optional>

// A numeric kernel setting such as /proc/sys/net/ipv4/ipfrag_time; nothing when the file cannot
// be read or does not begin with a number.
std::optional<std::uint32_t> ReadKernelSetting(const char* path);

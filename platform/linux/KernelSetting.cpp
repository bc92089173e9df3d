#include "platform/linux/KernelSetting.h"

#include <cstdio>

std::optional<std::uint32_t> ReadKernelSetting(const char* path) {
  FILE* file = std::fopen(path, "re");
  if (file == nullptr) return std::nullopt;
  unsigned long value = 0;
  const bool read = std::fscanf(file, "%lu", &value) == 1;
  std::fclose(file);
  if (!read) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

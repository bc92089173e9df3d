#pragma once
// What the targets share: the input written to a file of this process's own (the readers under
// test take file names), and a check that stops the run like a crash when a property fails.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzz {

// A folder of this process, removed at exit (the name is never freed: the exit handler runs
// after static objects are gone).
inline const std::string& Folder() {
  static const std::string* folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) abort();
    auto* made = new std::string(pattern);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    return made;
  }();
  return *folder;
}

inline std::string PathOf(const std::string& name) { return Folder() + "/" + name; }

// Replaces the file's content with the input; its path.
inline std::string WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = PathOf(name);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) abort();
  if (size > 0 && std::fwrite(data, 1, size, out) != size) abort();
  std::fclose(out);
  return path;
}

// A property of the reader that must hold for every input.
inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  abort();
}

}  // namespace fuzz

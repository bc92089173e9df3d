#pragma once
#include <cstdint>
#include <string>
#include <vector>

// An icon as the framework hands it to the toolkit: a name in the desktop's icon theme, an image
// file, or pixels (ARGB, row by row). The toolkit falls back from theme name to file to pixels.
struct IconImage {
  std::string themeName;
  std::string filePath;
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> argb;

  bool IsNull() const { return themeName.empty() && filePath.empty() && argb.empty(); }
  static IconImage Theme(std::string name) {
    IconImage icon;
    icon.themeName = std::move(name);
    return icon;
  }
  static IconImage File(std::string path) {
    IconImage icon;
    icon.filePath = std::move(path);
    return icon;
  }
  bool operator==(const IconImage&) const = default;
};

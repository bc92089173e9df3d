#include "setup/SetupLayout.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

std::string SetupLayout::PayloadRoot() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::filesystem::path(std::string(buffer, static_cast<std::size_t>(n))).parent_path().parent_path();
}

std::string SetupLayout::CheckPrefix(const std::string& prefix, std::string& error) {
  std::string path = prefix;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (path.empty() || path.front() != '/' || path == "/") {
    error = "the prefix \"" + prefix + "\" must be an absolute folder other than /";
    return std::string();
  }
  for (const char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '.' || c == '_' || c == '-' || c == '+';
    if (!plain) {
      error = "the prefix \"" + prefix + "\" may hold only letters, digits and / . _ - +";
      return std::string();
    }
  }
  if (path.find("/../") != std::string::npos || path.ends_with("/..")) {
    error = "the prefix \"" + prefix + "\" must not climb with \"..\"";
    return std::string();
  }
  return path;
}

std::string SetupLayout::DesktopEntry(std::string_view desktopTemplate, const std::string& program,
                                      const std::string& workFolder) {
  std::string text(desktopTemplate);
  const std::string placeholder = "@PELORIN_PROGRAM@";
  for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at))
    text.replace(at, placeholder.size(), program);
  if (!text.empty() && text.back() != '\n') text += '\n';
  // A backslash is the one character of a path that a desktop entry's text value escapes.
  std::string folder;
  for (const char c : workFolder) folder += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return text + "Path=" + folder + "\n";
}

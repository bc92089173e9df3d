#include "setup/SetupLayout.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

// Empty when the folder is root's alone, "missing" when it is not there, else what is wrong.
std::string RootOnlyFolder(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0)
    return errno == ENOENT ? "missing" : std::string("cannot be examined: ") + std::strerror(errno);
  if (S_ISLNK(info.st_mode)) return "is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return "is not a folder";
  if (info.st_uid != 0) return "is owned by uid " + std::to_string(info.st_uid);
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("is writable by ") + ((info.st_mode & S_IWOTH) != 0 ? "others" : "its group") + " (mode " +
           mode + ")";
  }
  return std::string();
}

}  // namespace

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
  for (std::size_t end = 0;; end = path.find('/', end + 1)) {
    const std::string part = end == 0 ? "/" : path.substr(0, end);  // the whole path last
    const std::string reason = RootOnlyFolder(part);
    if (reason == "missing") break;  // nor is anything below it there
    if (!reason.empty()) {
      error = "the prefix " + path + " cannot be used: " + part + " " + reason +
              "; every folder of the prefix must be owned by root, not a symbolic link, and writable by root alone";
      return std::string();
    }
    if (end == std::string::npos) break;
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

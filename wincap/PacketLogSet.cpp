#include "wincap/PacketLogSet.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kMaxNumber = 99999999;  // more digits than any ring reaches

// "dir/X.rec" → ("dir/X", ".rec"); a name without an extension has an empty one.
void Split(const std::string& first, std::string& stem, std::string& extension) {
  const fs::path path(first);
  extension = path.has_extension() && path.stem() != "" ? path.extension().string() : std::string();
  stem = first.substr(0, first.size() - extension.size());
}

}  // namespace

std::string PacketLogSet::FileName(const std::string& first, std::uint32_t number) {
  if (number == 0) return first;
  std::string stem, extension;
  Split(first, stem, extension);
  char digits[16];
  std::snprintf(digits, sizeof digits, ".%04u", static_cast<unsigned>(number));
  return stem + digits + extension;
}

std::vector<PacketLogSet::Member> PacketLogSet::Files(const std::string& first) {
  std::vector<Member> files;
  if (first.empty()) return files;
  std::error_code error;
  if (fs::is_regular_file(first, error)) files.push_back({0, first, static_cast<std::int64_t>(fs::file_size(first, error))});
  std::string stem, extension;
  Split(first, stem, extension);
  const fs::path parent = fs::path(first).parent_path();
  const std::string stemName = fs::path(stem).filename().string() + ".";
  for (fs::directory_iterator it(parent.empty() ? fs::path(".") : parent, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    // stemName, four or more digits, the extension: nothing else is a member.
    if (name.size() < stemName.size() + 4 + extension.size() || name.compare(0, stemName.size(), stemName) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
      continue;
    const std::string digits = name.substr(stemName.size(), name.size() - stemName.size() - extension.size());
    if (digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const auto number = static_cast<std::uint32_t>(std::stoul(digits));
    std::error_code sizeError;
    if (number == 0 || number > kMaxNumber || !it->is_regular_file(sizeError)) continue;
    // The name must be the one this number is given, so "X.01.rec" is not taken for file 1.
    const std::string path = FileName(first, number);
    if (fs::path(path).filename() != it->path().filename()) continue;
    files.push_back({number, path, static_cast<std::int64_t>(it->file_size(sizeError))});
  }
  std::sort(files.begin(), files.end(), [](const Member& a, const Member& b) { return a.number < b.number; });
  return files;
}

std::uint32_t PacketLogSet::Newest(const std::string& first) {
  const std::vector<Member> files = Files(first);
  return files.empty() ? 0 : files.back().number;
}

int PacketLogSet::Prune(const std::string& first, const Limits& limits, std::uint32_t keep) {
  if (limits.maxFiles == 0 && limits.maxBytes <= 0) return 0;
  std::vector<Member> files = Files(first);
  std::int64_t bytes = 0;
  for (const Member& file : files) bytes += file.bytes;
  int removed = 0;
  std::size_t count = files.size();
  for (const Member& file : files) {
    const bool tooMany = limits.maxFiles != 0 && count > limits.maxFiles;
    const bool tooBig = limits.maxBytes > 0 && bytes > limits.maxBytes;
    if (file.number >= keep || (!tooMany && !tooBig)) break;
    std::error_code error;
    if (!fs::remove(file.path, error)) break;  // kept in order: a file that stays keeps the newer ones
    --count;
    bytes -= file.bytes;
    ++removed;
  }
  return removed;
}

void PacketLogSet::RemoveNumbered(const std::string& first) {
  for (const Member& file : Files(first)) {
    std::error_code error;
    if (file.number != 0) fs::remove(file.path, error);
  }
}

std::int64_t PacketLogSet::TotalBytes(const std::string& first) {
  std::int64_t bytes = 0;
  for (const Member& file : Files(first)) bytes += file.bytes;
  return bytes;
}

#include "controls/link/LinkTempLog.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "platform/FileLock.h"
#include "platform/TempFileName.h"

namespace fs = std::filesystem;

LinkTempLog::LinkTempLog() = default;

LinkTempLog::~LinkTempLog() = default;

std::string LinkTempLog::Create(std::string folder) {
  Remove();
  if (folder.empty()) return std::string();
  if (folder.back() != '/') folder += '/';
  std::error_code error;
  if (!fs::is_directory(folder, error)) fs::create_directory(folder, error);
  RemoveStale(folder);
  std::string path = GetTempFileName(folder, kPrefix);
  if (path.empty()) return path;
  m_lock = std::make_unique<FileLock>(path, FileLock::Mode::Shared);
  m_path = std::move(path);
  return m_path;
}

void LinkTempLog::Remove() {
  if (m_path.empty()) return;
  std::error_code ignored;
  fs::remove(m_path, ignored);
  m_lock.reset();
  m_path.clear();
}

int LinkTempLog::RemoveStale(const std::string& folder) {
  const std::string stem(kPrefix, 3);
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) return 0;
  int removed = 0;
  const auto now = fs::file_time_type::clock::now();
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(stem) || !name.ends_with(".tmp") || !entry.is_regular_file(error)) continue;
    const auto written = entry.last_write_time(error);
    // A young file may be one another monitor has just made and not yet locked.
    if (error || now - written < std::chrono::seconds(kStaleAgeSeconds)) continue;
    FileLock probe(entry.path().string(), FileLock::Mode::TryExclusive);
    if (!probe.IsHeld()) continue;  // a live monitor holds it
    if (fs::remove(entry.path(), error)) ++removed;
  }
  return removed;
}

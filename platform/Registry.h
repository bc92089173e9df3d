#pragma once
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileContents.h"
#include "platform/RegistryTree.h"
#include "platform/RegistryValue.h"

// The per-user registry store shared by every program of the system. It is one text file;
// every change is a transaction under an exclusive file lock that reads the file afresh,
// applies the change and replaces the file atomically, so concurrent writers in several
// processes never lose each other's values and a writer killed mid-way leaves the old file.
class Registry {
 public:
  explicit Registry(std::string path);

  // The store of the current user: the file named by PELORIN_REGISTRY when set, else
  // $XDG_CONFIG_HOME/PelorinPro/registry.reg (default ~/.config/PelorinPro/registry.reg).
  static Registry& Current();
  static std::string DefaultPath();

  const std::string& Path() const { return m_path; }

  std::optional<RegistryValue> GetValue(std::string_view key, std::string_view name);
  bool KeyExists(std::string_view key);
  std::vector<std::string> ValueNames(std::string_view key);
  std::vector<std::string> SubKeyNames(std::string_view key);

  bool SetValue(std::string_view key, std::string_view name, RegistryValue value);
  bool CreateKey(std::string_view key);
  bool DeleteKey(std::string_view key);
  bool DeleteValue(std::string_view key, std::string_view name);

  // Several changes in one transaction; the change returns false to write nothing.
  bool Update(const std::function<bool(RegistryTree&)>& change);

 private:
  // Runs the reader on the current content, re-reading the file only when it changed.
  template <typename Reader>
  auto Read(Reader&& reader) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Refresh();
    return reader(static_cast<const RegistryTree&>(m_cache));
  }
  void Refresh();  // under m_mutex

  std::string m_path;
  std::mutex m_mutex;  // guards the cache
  RegistryTree m_cache;
  FileStamp m_cacheStamp;
  bool m_cacheValid = false;
};

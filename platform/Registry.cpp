#include "platform/Registry.h"

#include <cstdlib>
#include <map>
#include <memory>

#include "platform/FileLock.h"

Registry::Registry(std::string path) : m_path(std::move(path)) {}

std::string Registry::DefaultPath() {
  if (const char* file = std::getenv("PELORIN_REGISTRY"); file && *file) return file;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/PelorinPro/registry.reg";
}

Registry& Registry::Current() {
  // One store object per file, kept for the life of the process; tests switch files through
  // the environment.
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<Registry>> stores;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string path = DefaultPath();
  auto& store = stores[path];
  if (!store) store = std::make_unique<Registry>(path);
  return *store;
}

void Registry::Refresh() {
  const FileStamp stamp = StampOf(m_path);
  if (m_cacheValid && stamp == m_cacheStamp) return;
  const auto text = ReadFileContents(m_path);
  m_cache = text ? RegistryTree::Parse(*text) : RegistryTree();
  m_cacheStamp = stamp;
  m_cacheValid = true;
}

std::optional<RegistryValue> Registry::GetValue(std::string_view key, std::string_view name) {
  return Read([&](const RegistryTree& tree) -> std::optional<RegistryValue> {
    const RegistryValue* v = tree.GetValue(key, name);
    if (!v) return std::nullopt;
    return *v;
  });
}

bool Registry::KeyExists(std::string_view key) {
  return Read([&](const RegistryTree& tree) { return tree.HasKey(key); });
}

std::vector<std::string> Registry::ValueNames(std::string_view key) {
  return Read([&](const RegistryTree& tree) { return tree.ValueNames(key); });
}

std::vector<std::string> Registry::SubKeyNames(std::string_view key) {
  return Read([&](const RegistryTree& tree) { return tree.SubKeyNames(key); });
}

bool Registry::Update(const std::function<bool(RegistryTree&)>& change) {
  const std::size_t slash = m_path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeFolders(m_path.substr(0, slash));
  FileLock lock(m_path + ".lock", FileLock::Mode::Exclusive);
  if (!lock.IsHeld()) return false;
  // Read afresh under the lock: another process may have written since our cache was filled.
  const auto text = ReadFileContents(m_path);
  RegistryTree tree = text ? RegistryTree::Parse(*text) : RegistryTree();
  if (!change(tree)) return false;
  if (!ReplaceFileContents(m_path, tree.Serialize())) return false;
  std::lock_guard<std::mutex> cacheLock(m_mutex);
  m_cache = std::move(tree);
  m_cacheStamp = StampOf(m_path);
  m_cacheValid = true;
  return true;
}

bool Registry::SetValue(std::string_view key, std::string_view name, RegistryValue value) {
  if (RegistryTree::NormalizeKey(key).empty()) return false;
  return Update([&](RegistryTree& tree) {
    tree.SetValue(key, name, std::move(value));
    return true;
  });
}

bool Registry::CreateKey(std::string_view key) {
  if (RegistryTree::NormalizeKey(key).empty()) return false;
  return Update([&](RegistryTree& tree) {
    tree.CreateKey(key);
    return true;
  });
}

bool Registry::DeleteKey(std::string_view key) {
  return Update([&](RegistryTree& tree) { return tree.DeleteKey(key); });
}

bool Registry::DeleteValue(std::string_view key, std::string_view name) {
  return Update([&](RegistryTree& tree) { return tree.DeleteValue(key, name); });
}

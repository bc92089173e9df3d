#include "platform/DynamicLibrary.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/IcmpApi.h"
#include "platform/IpHelper.h"
#include "platform/LastError.h"

// One per known library name; never freed, so a handle stays a valid address for the life of
// the process even after its last FreeLibrary.
struct LibraryModule {
  std::string name;
  LibraryExportTable builtIn;
  std::optional<LibraryExportTable> replaced;  // set by the test hooks
  bool removed = false;
  long loads = 0;

  const LibraryExportTable& Current() const { return replaced ? *replaced : builtIn; }
};

namespace {

std::mutex g_mutex;

std::string CanonicalName(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of("\\/");
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  std::string name(fileName);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  // As the platform's loader: no extension means ".dll"; a trailing dot means none at all.
  if (name.find('.') == std::string::npos)
    name += ".dll";
  else if (!name.empty() && name.back() == '.')
    name.pop_back();
  return name;
}

std::map<std::string, std::unique_ptr<LibraryModule>>& Libraries() {
  static std::map<std::string, std::unique_ptr<LibraryModule>> libraries = [] {
    std::map<std::string, std::unique_ptr<LibraryModule>> known;
    auto add = [&known](std::string_view name, LibraryExportTable exports) {
      auto module = std::make_unique<LibraryModule>();
      module->name = CanonicalName(name);
      module->builtIn = std::move(exports);
      known.emplace(module->name, std::move(module));
    };
    add("iphlpapi.dll", IpHelperExports());
    add("icmp.dll", IcmpExports());
    return known;
  }();
  return libraries;
}

LibraryModule* Find(std::string_view fileName) {
  auto& libraries = Libraries();
  auto it = libraries.find(CanonicalName(fileName));
  return it == libraries.end() ? nullptr : it->second.get();
}

LibraryModule& FindOrAdd(std::string_view fileName) {
  if (LibraryModule* module = Find(fileName)) return *module;
  auto module = std::make_unique<LibraryModule>();
  module->name = CanonicalName(fileName);
  module->removed = true;  // known by name only until given a table
  LibraryModule& added = *module;
  Libraries().emplace(added.name, std::move(module));
  return added;
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName) {
  if (fileName == nullptr || *fileName == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  LibraryModule* module = Find(fileName);
  if (module == nullptr || module->removed) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++module->loads;
  return module;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (module == nullptr || module->loads <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (procName != nullptr && !module->removed) {
    for (const LibraryExport& entry : module->Current())
      if (entry.name == procName && entry.proc != nullptr) return entry.proc;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (module == nullptr || module->loads <= 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  --module->loads;
  return 1;
}

void RegisterLibrary(std::string_view fileName, LibraryExportTable exports) {
  std::lock_guard<std::mutex> lock(g_mutex);
  LibraryModule& module = FindOrAdd(fileName);
  module.builtIn = std::move(exports);
  module.removed = false;
  module.replaced.reset();
}

LibraryExportTable LibraryExports(std::string_view fileName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const LibraryModule* module = Find(fileName);
  if (module == nullptr || module->removed) return {};
  return module->Current();
}

void ReplaceLibraryExports(std::string_view fileName, LibraryExportTable exports) {
  std::lock_guard<std::mutex> lock(g_mutex);
  LibraryModule& module = FindOrAdd(fileName);
  module.replaced = std::move(exports);
  module.removed = false;
}

void RemoveLibrary(std::string_view fileName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  FindOrAdd(fileName).removed = true;
}

void RestoreLibraryExports(std::string_view fileName) {
  std::lock_guard<std::mutex> lock(g_mutex);
  LibraryModule* module = Find(fileName);
  if (module == nullptr) return;
  module->replaced.reset();
  // A name that only a test hook introduced has no built-in table and stays unloadable.
  module->removed = module->builtIn.empty();
}

LibraryExportTable WithoutExports(LibraryExportTable table, std::initializer_list<std::string_view> names) {
  std::erase_if(table, [&names](const LibraryExport& entry) {
    return std::find(names.begin(), names.end(), entry.name) != names.end();
  });
  return table;
}

ScopedLibraryExports::ScopedLibraryExports(std::string fileName, LibraryExportTable exports)
    : m_fileName(std::move(fileName)) {
  ReplaceLibraryExports(m_fileName, std::move(exports));
}

ScopedLibraryExports::ScopedLibraryExports(std::string fileName) : m_fileName(std::move(fileName)) {
  RemoveLibrary(m_fileName);
}

ScopedLibraryExports::~ScopedLibraryExports() { RestoreLibraryExports(m_fileName); }

#pragma once
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/WinTypes.h"

// Run-time loading of the platform libraries by name ("iphlpapi.dll", ...) and lookup of
// their entry points by name. The libraries are tables of known entry points built into this
// library; tests may replace a table (to drop entry points, or the whole library) and restore it.
//
//   HMODULE lib = LoadLibraryA("iphlpapi.dll");
//   auto getTcpTable = reinterpret_cast<PGetTcpTable>(GetProcAddress(lib, "GetTcpTable"));
//   ...
//   FreeLibrary(lib);
//
// Library names match case-insensitively, without any folder, and ".dll" is implied when the
// name has no extension. Entry point names match exactly.

struct LibraryModule;
using HMODULE = LibraryModule*;
using FARPROC = void (*)();

// The library's handle (each load counts once), or null with last error ERROR_MOD_NOT_FOUND
// for an unknown or removed library.
HMODULE LoadLibraryA(const char* fileName);

// The entry point, or null with last error ERROR_PROC_NOT_FOUND when the library's current
// table lacks it (ERROR_INVALID_HANDLE for a null or fully freed handle).
FARPROC GetProcAddress(HMODULE module, const char* procName);

// Undoes one LoadLibraryA; FALSE when the handle has no loads left.
BOOL FreeLibrary(HMODULE module);

struct LibraryExport {
  std::string name;
  FARPROC proc = nullptr;
};
using LibraryExportTable = std::vector<LibraryExport>;

template <typename Function>
LibraryExport MakeExport(std::string name, Function* function) {
  return LibraryExport{std::move(name), reinterpret_cast<FARPROC>(function)};
}

// Adds a library to the known ones (or replaces its built-in table).
void RegisterLibrary(std::string_view fileName, LibraryExportTable exports);

// The library's current table; empty when it is unknown or removed.
LibraryExportTable LibraryExports(std::string_view fileName);

// Test hooks: the library answers with this table until restored.
void ReplaceLibraryExports(std::string_view fileName, LibraryExportTable exports);
// Test hook: the library cannot be loaded (and answers no entry points) until restored.
void RemoveLibrary(std::string_view fileName);
// Back to the built-in table.
void RestoreLibraryExports(std::string_view fileName);

// The table without the named entry points.
LibraryExportTable WithoutExports(LibraryExportTable table, std::initializer_list<std::string_view> names);

// Replaces a library's table for the lifetime of the object, e.g.
//   ScopedLibraryExports noEx("iphlpapi.dll",
//       WithoutExports(LibraryExports("iphlpapi.dll"),
//                      {"AllocateAndGetTcpExTableFromStack", "AllocateAndGetUdpExTableFromStack"}));
class ScopedLibraryExports {
 public:
  ScopedLibraryExports(std::string fileName, LibraryExportTable exports);
  // Removes the library for the lifetime of the object.
  explicit ScopedLibraryExports(std::string fileName);
  ~ScopedLibraryExports();
  ScopedLibraryExports(const ScopedLibraryExports&) = delete;
  ScopedLibraryExports& operator=(const ScopedLibraryExports&) = delete;

 private:
  std::string m_fileName;
};

#pragma once
#include <cstddef>
#include <cstdint>

#include "common/WinTypes.h"
#include "platform/DynamicLibrary.h"
#include "platform/Handle.h"

// Process snapshots: the processes of the machine, and the modules (executable and shared
// objects) of one process, each taken whole when the snapshot is created, so a process that
// exits while a caller walks the snapshot changes nothing, and one that exits while the
// snapshot is being taken is left out.
//
// Processes: szExeFile is the file name of the process's executable (the last part of
// /proc/PID/exe, without a " (deleted)" mark); processes whose executable cannot be read
// (kernel threads, zombies) are named by their command name (/proc/PID/comm) with any '/'
// written as '-', so the name never holds a path separator. th32ParentProcessID, cntThreads
// and pcPriClassBase (from the nice value: 4 below normal, 8 normal, 13 above normal) come
// from /proc/PID/stat; the other counts and ids are 0.
//
// Modules: the first module is the process's executable, szExePath its full path (/proc/PID/exe)
// and szModule its file name; then every other file the process has mapped executable (its
// shared objects) in address order. modBaseAddr/modBaseSize span the file's mappings; hModule
// is null. Taking the module snapshot of a process that does not exist fails with
// ERROR_INVALID_PARAMETER, of one whose executable may not be read (or a kernel thread) with
// ERROR_ACCESS_DENIED. Process id 0 means the calling process.

constexpr DWORD TH32CS_SNAPHEAPLIST = 0x00000001;
constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;
constexpr DWORD TH32CS_SNAPTHREAD = 0x00000004;
constexpr DWORD TH32CS_SNAPMODULE = 0x00000008;
constexpr DWORD TH32CS_SNAPALL = 0x0000000F;

constexpr std::size_t MAX_PATH = 260;
constexpr std::size_t MAX_MODULE_NAME32 = 255;

using BYTE = std::uint8_t;

struct PROCESSENTRY32 {
  DWORD dwSize;  // the caller sets sizeof(PROCESSENTRY32)
  DWORD cntUsage;
  DWORD th32ProcessID;
  std::uintptr_t th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[MAX_PATH];
};

struct MODULEENTRY32 {
  DWORD dwSize;  // the caller sets sizeof(MODULEENTRY32)
  DWORD th32ModuleID;
  DWORD th32ProcessID;
  DWORD GlblcntUsage;
  DWORD ProccntUsage;
  BYTE* modBaseAddr;
  DWORD modBaseSize;
  HMODULE hModule;
  char szModule[MAX_MODULE_NAME32 + 1];
  char szExePath[MAX_PATH];
};

using LPPROCESSENTRY32 = PROCESSENTRY32*;
using LPMODULEENTRY32 = MODULEENTRY32*;

// INVALID_HANDLE_VALUE on failure (GetLastError tells why). Close with CloseHandle.
HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID);

// First/Next copy one entry and move on; FALSE with ERROR_NO_MORE_FILES after the last entry,
// ERROR_BAD_LENGTH when dwSize is smaller than the record, ERROR_INVALID_HANDLE for a handle
// that is not an open snapshot. Texts longer than their field are cut and always end with a
// zero byte.
BOOL Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe);
BOOL Module32First(HANDLE hSnapshot, LPMODULEENTRY32 lpme);
BOOL Module32Next(HANDLE hSnapshot, LPMODULEENTRY32 lpme);

#include "platform/Toolhelp.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/FieldText.h"
#include "platform/LastError.h"

namespace {

constexpr DWORD kSnapshotKind = 0x54483332;  // "TH32"

class ToolhelpSnapshot : public HandleObject {
 public:
  ToolhelpSnapshot() : HandleObject(kSnapshotKind) {}
  std::vector<PROCESSENTRY32> processes;
  std::size_t nextProcess = 0;
  std::vector<MODULEENTRY32> modules;
  std::size_t nextModule = 0;
};

// Small /proc files in one read; nothing when the process has gone.
std::optional<std::string> ReadSmallFile(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// The kernel marks the executable of a replaced or removed file; the name is the file's own.
std::string WithoutDeletedMark(std::string path) {
  constexpr std::string_view kMark = " (deleted)";
  if (path.size() > kMark.size() && path.ends_with(kMark)) path.resize(path.size() - kMark.size());
  return path;
}

// The executable's full path; nothing with errno set when it cannot be read.
std::optional<std::string> ExecutablePath(DWORD pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
  char target[4096];
  const ssize_t n = ::readlink(path, target, sizeof target);
  if (n <= 0) return std::nullopt;
  if (static_cast<std::size_t>(n) >= sizeof target) {
    errno = ENAMETOOLONG;
    return std::nullopt;
  }
  return WithoutDeletedMark(std::string(target, static_cast<std::size_t>(n)));
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

struct StatFields {
  std::string comm;
  DWORD parent = 0;
  long nice = 0;
  DWORD threads = 0;
};

// "pid (comm) state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
// cutime cstime priority nice num_threads ...": the name may hold spaces and parentheses, so
// the fields are counted from its last closing parenthesis.
std::optional<StatFields> ReadStat(DWORD pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  const std::optional<std::string> text = ReadSmallFile(path);
  if (!text) return std::nullopt;
  const std::size_t open = text->find('(');
  const std::size_t close = text->rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
  StatFields fields;
  fields.comm = text->substr(open + 1, close - open - 1);
  std::vector<std::string_view> words;
  std::string_view rest = std::string_view(*text).substr(close + 1);
  while (!rest.empty() && words.size() < 18) {
    const std::size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
    words.push_back(rest.substr(0, end));
    rest.remove_prefix(end);
  }
  if (words.size() < 18) return std::nullopt;  // state is word 0, ppid 1, nice 16, threads 17
  auto number = [](std::string_view word) { return std::strtol(std::string(word).c_str(), nullptr, 10); };
  fields.parent = static_cast<DWORD>(number(words[1]));
  fields.nice = number(words[16]);
  fields.threads = static_cast<DWORD>(number(words[17]));
  return fields;
}

bool ParseDecimal(const char* text, DWORD& value) {
  if (*text < '0' || *text > '9') return false;
  unsigned long long v = 0;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
    v = v * 10 + static_cast<unsigned>(*text - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  value = static_cast<DWORD>(v);
  return true;
}

void TakeProcesses(ToolhelpSnapshot& snapshot) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return;
  while (const dirent* entry = ::readdir(proc)) {
    DWORD pid = 0;
    if (!ParseDecimal(entry->d_name, pid) || pid == 0) continue;
    const std::optional<StatFields> stat = ReadStat(pid);
    if (!stat) continue;  // exited since the folder was listed
    PROCESSENTRY32 process{};
    process.dwSize = sizeof process;
    process.th32ProcessID = pid;
    process.th32ParentProcessID = stat->parent;
    process.cntThreads = stat->threads;
    process.pcPriClassBase = stat->nice < 0 ? 13 : stat->nice > 0 ? 4 : 8;
    if (const std::optional<std::string> exe = ExecutablePath(pid)) {
      SetFieldText(process.szExeFile, FileNameOf(*exe));
    } else {
      std::string name = stat->comm;
      std::replace(name.begin(), name.end(), '/', '-');
      SetFieldText(process.szExeFile, name);
    }
    snapshot.processes.push_back(process);
  }
  ::closedir(proc);
}

struct MappedFile {
  std::string path;
  std::uintptr_t start = 0;
  std::uintptr_t end = 0;
  bool executable = false;
};

// The files of /proc/PID/maps ("start-end perms offset dev inode path"), in address order of
// their first mapping.
std::vector<MappedFile> MappedFiles(DWORD pid) {
  std::vector<MappedFile> files;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/maps", pid);
  const std::optional<std::string> text = ReadSmallFile(path);
  if (!text) return files;
  std::string_view rest = *text;
  while (!rest.empty()) {
    const std::size_t newline = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(std::min(newline + 1, rest.size()));
    const std::size_t pathStart = line.find('/');
    const std::size_t dash = line.find('-');
    const std::size_t space = line.find(' ');
    if (pathStart == std::string_view::npos || dash == std::string_view::npos || space == std::string_view::npos ||
        dash > space || space + 4 > line.size() || pathStart < space)
      continue;
    const std::string range(line.substr(0, space));
    const std::uintptr_t start = std::strtoull(range.c_str(), nullptr, 16);
    const std::uintptr_t end = std::strtoull(range.c_str() + dash + 1, nullptr, 16);
    const bool executable = line[space + 3] == 'x';
    const std::string file = WithoutDeletedMark(std::string(line.substr(pathStart)));
    auto it = std::find_if(files.begin(), files.end(), [&file](const MappedFile& f) { return f.path == file; });
    if (it == files.end()) {
      files.push_back(MappedFile{file, start, end, executable});
    } else {
      it->start = std::min(it->start, start);
      it->end = std::max(it->end, end);
      it->executable = it->executable || executable;
    }
  }
  return files;
}

MODULEENTRY32 ModuleEntry(DWORD pid, const std::string& path, std::uintptr_t start, std::uintptr_t end) {
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  module.th32ModuleID = 1;
  module.th32ProcessID = pid;
  module.GlblcntUsage = 0xFFFF;
  module.ProccntUsage = 0xFFFF;
  module.modBaseAddr = reinterpret_cast<BYTE*>(start);
  module.modBaseSize = static_cast<DWORD>(std::min<std::uintptr_t>(end - start, 0xFFFFFFFFu));
  SetFieldText(module.szModule, FileNameOf(path));
  SetFieldText(module.szExePath, path);
  return module;
}

bool TakeModules(ToolhelpSnapshot& snapshot, DWORD pid) {
  const std::optional<std::string> exe = ExecutablePath(pid);
  if (!exe) {
    const int error = errno;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u", pid);
    const bool exists = ::access(path, F_OK) == 0;
    SetLastError(!exists || error == ESRCH ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return false;
  }
  std::vector<MappedFile> files = MappedFiles(pid);
  auto main = std::find_if(files.begin(), files.end(), [&exe](const MappedFile& f) { return f.path == *exe; });
  snapshot.modules.push_back(main == files.end() ? ModuleEntry(pid, *exe, 0, 0)
                                                 : ModuleEntry(pid, *exe, main->start, main->end));
  for (const MappedFile& file : files)
    if (file.executable && file.path != *exe) snapshot.modules.push_back(ModuleEntry(pid, file.path, file.start, file.end));
  return true;
}

template <typename Entry>
BOOL CopyEntry(HANDLE handle, Entry* out, bool first, std::vector<Entry> ToolhelpSnapshot::*list,
               std::size_t ToolhelpSnapshot::*next) {
  auto* snapshot = static_cast<ToolhelpSnapshot*>(HandleTarget(handle, kSnapshotKind));
  if (snapshot == nullptr) return 0;
  if (out == nullptr || out->dwSize < sizeof(Entry)) {
    SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  std::size_t& index = snapshot->*next;
  if (first) index = 0;
  const std::vector<Entry>& entries = snapshot->*list;
  if (index >= entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return 0;
  }
  const DWORD size = out->dwSize;
  *out = entries[index++];
  out->dwSize = size;
  return 1;
}

}  // namespace

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
  auto* snapshot = new ToolhelpSnapshot;
  if (dwFlags & TH32CS_SNAPPROCESS) TakeProcesses(*snapshot);
  if (dwFlags & TH32CS_SNAPMODULE) {
    const DWORD pid = th32ProcessID == 0 ? static_cast<DWORD>(::getpid()) : th32ProcessID;
    if (!TakeModules(*snapshot, pid)) {
      delete snapshot;
      return INVALID_HANDLE_VALUE;
    }
  }
  return MakeHandle(snapshot);
}

BOOL Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  return CopyEntry(hSnapshot, lppe, true, &ToolhelpSnapshot::processes, &ToolhelpSnapshot::nextProcess);
}
BOOL Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
  return CopyEntry(hSnapshot, lppe, false, &ToolhelpSnapshot::processes, &ToolhelpSnapshot::nextProcess);
}
BOOL Module32First(HANDLE hSnapshot, LPMODULEENTRY32 lpme) {
  return CopyEntry(hSnapshot, lpme, true, &ToolhelpSnapshot::modules, &ToolhelpSnapshot::nextModule);
}
BOOL Module32Next(HANDLE hSnapshot, LPMODULEENTRY32 lpme) {
  return CopyEntry(hSnapshot, lpme, false, &ToolhelpSnapshot::modules, &ToolhelpSnapshot::nextModule);
}

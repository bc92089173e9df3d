#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/FieldText.h"
#include "platform/LastError.h"
#include "platform/Toolhelp.h"

namespace {

std::vector<PROCESSENTRY32> Processes() {
  std::vector<PROCESSENTRY32> all;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  EXPECT_NE(snapshot, INVALID_HANDLE_VALUE);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) all.push_back(entry);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(CloseHandle(snapshot));
  return all;
}

std::optional<PROCESSENTRY32> FindProcess(const std::vector<PROCESSENTRY32>& all, DWORD pid) {
  for (const auto& p : all)
    if (p.th32ProcessID == pid) return p;
  return std::nullopt;
}

std::string OwnExecutable() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

// A child that waits until it is killed, started from a given executable.
pid_t StartSleeper(const std::string& program) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

void Stop(pid_t child) {
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

// Waits until the child has replaced its image (its executable link names the program).
bool WaitForExec(pid_t child, const std::string& fileName) {
  for (int i = 0; i < 500; ++i) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/exe", error);
    if (!error && target.filename().string().starts_with(fileName)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

TEST(Toolhelp, ProcessSnapshotFindsThisProcessWithNameAndParent) {
  const auto all = Processes();
  const auto self = FindProcess(all, static_cast<DWORD>(::getpid()));
  ASSERT_TRUE(self.has_value());
  EXPECT_EQ(GetFieldText(self->szExeFile), std::filesystem::path(OwnExecutable()).filename().string());
  EXPECT_EQ(self->th32ParentProcessID, static_cast<DWORD>(::getppid()));
  EXPECT_GE(self->cntThreads, 1u);
  EXPECT_EQ(self->dwSize, sizeof(PROCESSENTRY32));

  // No entry's name holds a path separator, kernel threads ("kworker/0:1") included, so the
  // part after the last separator is always the whole name.
  for (const auto& p : all) EXPECT_EQ(GetFieldText(p.szExeFile).find('/'), std::string::npos) << p.th32ProcessID;
}

TEST(Toolhelp, ModuleSnapshotGivesTheExecutableFirstThenSharedObjects) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);  // 0: the calling process
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  ASSERT_TRUE(Module32First(snapshot, &module));
  EXPECT_EQ(GetFieldText(module.szExePath), OwnExecutable());
  EXPECT_EQ(GetFieldText(module.szModule), std::filesystem::path(OwnExecutable()).filename().string());
  EXPECT_EQ(module.th32ProcessID, static_cast<DWORD>(::getpid()));
  // Our own code lies within the executable's span.
  const auto* here = reinterpret_cast<const BYTE*>(&OwnExecutable);
  EXPECT_LE(module.modBaseAddr, here);
  EXPECT_LT(here, module.modBaseAddr + module.modBaseSize);

  bool libc = false;
  while (Module32Next(snapshot, &module)) libc = libc || GetFieldText(module.szModule).starts_with("libc.so");
  EXPECT_TRUE(libc);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(CloseHandle(snapshot));
}

TEST(Toolhelp, ProcessesWithoutExecutableAreNamedByCommandAndHaveNoModules) {
  // A zombie has no executable any more but keeps its command name; once reaped it is gone.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto zombie = FindProcess(Processes(), static_cast<DWORD>(child));
  ::waitpid(child, nullptr, 0);
  ASSERT_TRUE(zombie.has_value());
  EXPECT_EQ(GetFieldText(zombie->szExeFile), std::filesystem::path(OwnExecutable()).filename().string().substr(0, 15));
  EXPECT_EQ(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, static_cast<DWORD>(child)), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // The kernel's thread starter has no executable to show.
  EXPECT_EQ(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 2), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Toolhelp, SnapshotIsFixedWhenTakenSoExitedProcessesCannotHurtTheWalk) {
  const pid_t child = StartSleeper("/bin/sleep");
  ASSERT_GT(child, 0);
  ASSERT_TRUE(WaitForExec(child, "sleep"));

  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  Stop(child);

  // The walk still lists the child exactly as it was.
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  bool listed = false;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == static_cast<DWORD>(child)) {
      listed = true;
      EXPECT_EQ(GetFieldText(entry.szExeFile), "sleep");
      EXPECT_EQ(entry.th32ParentProcessID, static_cast<DWORD>(::getpid()));
    }
  }
  EXPECT_TRUE(listed);
  CloseHandle(snapshot);
  EXPECT_FALSE(FindProcess(Processes(), static_cast<DWORD>(child)).has_value()) << "a new snapshot omits it";
}

TEST(Toolhelp, DeletedExecutableKeepsItsPlainName) {
  const std::string copy = std::filesystem::temp_directory_path() / ("toolhelp-sleep-" + std::to_string(::getpid()));
  std::filesystem::copy_file("/bin/sleep", copy, std::filesystem::copy_options::overwrite_existing);
  const pid_t child = StartSleeper(copy);
  ASSERT_GT(child, 0);
  const bool started = WaitForExec(child, "toolhelp-sleep-");
  std::filesystem::remove(copy);
  ASSERT_TRUE(started);

  const auto entry = FindProcess(Processes(), static_cast<DWORD>(child));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, static_cast<DWORD>(child));
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  const BOOL first = snapshot != INVALID_HANDLE_VALUE && Module32First(snapshot, &module);
  if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
  Stop(child);

  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(GetFieldText(entry->szExeFile), std::filesystem::path(copy).filename().string());
  ASSERT_TRUE(first);
  EXPECT_EQ(GetFieldText(module.szExePath), copy);
}

TEST(Toolhelp, EntriesNeedTheirSizeAndHandlesMustBeOpenSnapshots) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry - 1;
  EXPECT_FALSE(Process32First(snapshot, &entry));
  EXPECT_EQ(GetLastError(), ERROR_BAD_LENGTH);
  EXPECT_FALSE(Process32First(snapshot, nullptr));

  EXPECT_TRUE(CloseHandle(snapshot));
  EXPECT_FALSE(CloseHandle(snapshot)) << "closing twice";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  entry.dwSize = sizeof entry;
  EXPECT_FALSE(Process32First(snapshot, &entry));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(Process32First(INVALID_HANDLE_VALUE, &entry));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

}  // namespace

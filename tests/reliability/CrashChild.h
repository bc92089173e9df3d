#pragma once
// A second process of this test program that does one job until it is killed: the test starts
// it with the job's name in PELORIN_CRASH_ROLE, and this program's own disabled test of that
// name runs in it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace reliability_test {

class CrashChild {
 public:
  // role: the name of the CrashChildJobs test to run ("DISABLED_" + role).
  explicit CrashChild(const std::string& role) {
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string filter = "--gtest_filter=CrashChildJobs.DISABLED_" + role;
    char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>(filter.c_str()),
                    const_cast<char*>("--gtest_also_run_disabled_tests"), nullptr};
    setenv("PELORIN_CRASH_ROLE", role.c_str(), 1);
    if (posix_spawn(&m_pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) m_pid = -1;
    unsetenv("PELORIN_CRASH_ROLE");
  }
  ~CrashChild() { Kill(); }
  CrashChild(const CrashChild&) = delete;
  CrashChild& operator=(const CrashChild&) = delete;

  bool Started() const { return m_pid > 0; }
  // SIGKILL and reap; true when the child was still running (it died by the signal).
  bool Kill() {
    if (m_pid <= 0) return false;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

 private:
  pid_t m_pid = -1;
};

// In the child: whether this process runs the given job.
inline bool IsCrashChild(const char* role) {
  const char* value = std::getenv("PELORIN_CRASH_ROLE");
  return value != nullptr && std::string(value) == role;
}

}  // namespace reliability_test

#include "controls/firewall/RampaEngineProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

RampaEngineProcess::~RampaEngineProcess() {
  if (m_running) Reap(false);  // collect an engine that has already ended; a running one stays
}

std::string RampaEngineProcess::ProgramPath(const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  return path + kProgramName;
}

bool RampaEngineProcess::Start(const std::string& folder, const std::string& workingDir,
                               const std::vector<std::string>& arguments) {
  if (m_running && IsRunning()) {
    errno = EBUSY;
    return false;
  }
  const std::string program = ProgramPath(folder);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& text : argv) pointers.push_back(text.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (!workingDir.empty() && posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str()) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  // The engine starts with default signal handling and nothing blocked, whatever the console does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, pointers.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return false;
  }
  m_pid = pid;
  m_running = true;
  m_status = -1;
  return true;
}

bool RampaEngineProcess::Reap(bool block) {
  if (!m_running) return true;
  int status = 0;
  pid_t rc;
  do {
    rc = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
  } while (rc < 0 && errno == EINTR);
  if (rc == m_pid) {
    m_status = status;
    m_running = false;
    return true;
  }
  if (rc < 0) m_running = false;  // not our child any more
  return !m_running;
}

bool RampaEngineProcess::IsRunning() {
  Reap(false);
  return m_running;
}

bool RampaEngineProcess::WaitForExit(std::uint32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!Reap(false)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool RampaEngineProcess::Signal(int signal) {
  if (!IsRunning()) return false;
  return ::kill(m_pid, signal) == 0;
}

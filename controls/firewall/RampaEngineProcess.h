#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The firewall engine program started by the console: FOLDER/RamparoThreadApp, run with our
// environment. The engine outlives this object unless it is told to end; an engine that has
// ended is reaped whenever its state is asked for.
class RampaEngineProcess {
 public:
  static constexpr const char* kProgramName = "RamparoThreadApp";

  RampaEngineProcess() = default;
  ~RampaEngineProcess();
  RampaEngineProcess(const RampaEngineProcess&) = delete;
  RampaEngineProcess& operator=(const RampaEngineProcess&) = delete;

  // folder + "/" (added when missing) + the program name.
  static std::string ProgramPath(const std::string& folder);

  // Starts the program in workingDir (empty: our own working directory) with the given
  // arguments. False when it could not be started; errno tells why.
  bool Start(const std::string& folder, const std::string& workingDir = {},
             const std::vector<std::string>& arguments = {});

  pid_t Pid() const { return m_pid; }
  bool IsRunning();
  // Waits up to the given time for the program to end; true when it has ended.
  bool WaitForExit(std::uint32_t milliseconds);
  bool Signal(int signal);
  // The wait status of the ended program (see waitpid), -1 while unknown.
  int ExitStatus() const { return m_status; }

 private:
  bool Reap(bool block);

  pid_t m_pid = -1;
  bool m_running = false;
  int m_status = -1;
};

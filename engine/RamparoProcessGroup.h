#pragma once
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "RamparoRuleSet.h"
#include "common/FirewallRuleLogRecord.h"

// Blocked processes are moved into a cgroup v2 group of the engine's own, whose sockets the
// rule set drops ("socket cgroupv2"). Only processes of the engine's network namespace are
// moved, since its table filters only that namespace, and only those of the user who asked for
// the block: the user who runs the engine (its real uid; the window of that user starts it, and
// it may hold its privilege through a file capability), matched against each process's real
// uid, so no user blocks the programs of another. Each goes back to the group it came from
// when its name is allowed again or the engine ends.
//
// A socket belongs to the group its process was in when the socket was made, so the TCP
// connections a process has when it is moved are torn down. What it cannot do: UDP sockets
// and listening sockets opened before the move are not blocked; processes are matched by the
// file name of their executable, so every program of that name is blocked; a process moved
// here leaves its own group's resource limits while it is blocked; and a process is only taken
// up when the engine next looks (at once on a change, else within a second of its start).
class RamparoProcessGroup {
 public:
  RamparoProcessGroup() = default;
  ~RamparoProcessGroup() { Close(); }
  RamparoProcessGroup(const RamparoProcessGroup&) = delete;
  RamparoProcessGroup& operator=(const RamparoProcessGroup&) = delete;

  // Makes the group; false with a reason when no cgroup v2 hierarchy can be used.
  bool Open(std::string* error);
  // Moves every process back and removes the group.
  void Close();
  bool IsOpen() const { return !m_folder.empty(); }
  const RamparoRuleSet::ProcessGroup& Nft() const { return m_nft; }

  // Moves the processes named in blocked into the group and those of other names out of it.
  // Returns the number of processes in the group.
  std::size_t Update(const std::vector<std::string>& blocked);

  // The executable name of the process that holds the socket of a blocked TCP or UDP packet
  // (the machine's side of it, in this network namespace); empty when none is found.
  static std::string OwnerName(const _FirewallRuleLogRecord& block);

 private:
  bool MoveTo(pid_t pid, const std::string& folder);

  std::string m_mount;   // the cgroup v2 mount point
  std::string m_folder;  // the group's folder
  RamparoRuleSet::ProcessGroup m_nft;
  uid_t m_user = ::getuid();              // whose processes are moved
  std::map<pid_t, std::string> m_origin;  // group folder each moved process came from
};

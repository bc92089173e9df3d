#include "RamparoProcessGroup.h"

#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/IpHelper.h"
#include "platform/LastError.h"
#include "platform/ProcessHeap.h"

namespace {

constexpr const char* kNftCgroupRoot = "/sys/fs/cgroup";  // where nft resolves cgroup paths

std::string CgroupV2Mount() {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    // id parent major:minor root mount-point options ... - type source options
    std::istringstream fields(line);
    std::string id, parent, device, root, point, word;
    fields >> id >> parent >> device >> root >> point;
    while (fields >> word && word != "-") {
    }
    std::string type;
    fields >> type;
    if (type == "cgroup2") return point;
  }
  return {};
}

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// The cgroup v2 group of a process, as a path below the mount ("/user.slice/..."); empty when unknown.
std::string GroupOf(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/cgroup");
  std::string line;
  while (std::getline(file, line))
    if (line.rfind("0::", 0) == 0) return line.substr(3);
  return {};
}

// The real uid of a process, from the "Uid:" line of its status (real, effective, saved, file
// system); false when the process is gone.
bool RealUid(const std::string& pid, uid_t* uid) {
  std::ifstream file("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("Uid:", 0) != 0) continue;
    std::istringstream fields(line.substr(4));
    unsigned long value = 0;
    if (!(fields >> value)) return false;
    *uid = static_cast<uid_t>(value);
    return true;
  }
  return false;
}

// The executable's file name, as the processes window names a process.
std::string ExecutableName(const std::string& pid) {
  char target[4096];
  const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  std::string path(target, static_cast<std::size_t>(n));
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
    path.resize(path.size() - deleted.size());
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One IPv6 table of the platform into the block, grown until it fits; false when it cannot be read.
template <class Fetch>
bool Table6(Fetch fetch, std::vector<std::uint8_t>* block) {
  DWORD size = 0;
  if (fetch(nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) return false;
  for (int attempt = 0; attempt < 4; ++attempt) {
    block->resize(size);
    const DWORD result = fetch(block->data(), &size);
    if (result == NO_ERROR) return block->size() >= sizeof(DWORD);
    if (result != ERROR_INSUFFICIENT_BUFFER) return false;
  }
  return false;
}

// The IPv6 TCP connections and listeners of the machine with their processes; none when the
// table cannot be read.
std::vector<MIB_TCP6ROW_OWNER_PID> Tcp6Rows() {
  std::vector<std::uint8_t> bytes;
  auto fetch = [](void* table, DWORD* size) {
    return GetExtendedTcpTable(table, size, 0, AF_INET6, TCP_TABLE_OWNER_PID_ALL, 0);
  };
  if (!Table6(fetch, &bytes)) return {};
  const auto* rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(bytes.data());
  const std::size_t room = (bytes.size() - offsetof(MIB_TCP6TABLE_OWNER_PID, table)) / sizeof(MIB_TCP6ROW_OWNER_PID);
  return {rows->table, rows->table + std::min<std::size_t>(rows->dwNumEntries, room)};
}

// The owner of the machine's side of an IPv6 block: as for IPv4, the connection itself, else the
// socket listening on (or, for UDP, bound to) its port at its address or at any.
DWORD Owner6(const _FirewallRuleLogRecord& block, bool tcp) {
  static constexpr std::uint8_t kAny[16] = {};
  auto local = [&block](const UCHAR* address, DWORD port) {
    return static_cast<std::uint16_t>(port) == block.localPort &&
           (std::memcmp(address, block.localAddress6, 16) == 0 || std::memcmp(address, kAny, 16) == 0);
  };
  DWORD pid = 0;
  if (tcp) {
    for (const MIB_TCP6ROW_OWNER_PID& row : Tcp6Rows()) {
      if (!local(row.ucLocalAddr, row.dwLocalPort)) continue;
      if (std::memcmp(row.ucRemoteAddr, block.blockedAddress6, 16) == 0 &&
          static_cast<std::uint16_t>(row.dwRemotePort) == block.blockedPort)
        return row.dwOwningPid;
      if (row.dwState == MIB_TCP_STATE_LISTEN) pid = row.dwOwningPid;
    }
    return pid;
  }
  std::vector<std::uint8_t> bytes;
  auto fetch = [](void* table, DWORD* size) {
    return GetExtendedUdpTable(table, size, 0, AF_INET6, UDP_TABLE_OWNER_PID, 0);
  };
  if (!Table6(fetch, &bytes)) return 0;
  const auto* rows = reinterpret_cast<const MIB_UDP6TABLE_OWNER_PID*>(bytes.data());
  const std::size_t room = (bytes.size() - offsetof(MIB_UDP6TABLE_OWNER_PID, table)) / sizeof(MIB_UDP6ROW_OWNER_PID);
  for (DWORD i = 0; i < rows->dwNumEntries && i < room; ++i)
    if (local(rows->table[i].ucLocalAddr, rows->table[i].dwLocalPort)) return rows->table[i].dwOwningPid;
  return 0;
}

// A socket keeps the group its process had when it was made, so the connections a process
// already has are torn down: its next ones are made in the blocked group.
void CutConnections(const std::set<pid_t>& pids) {
  if (pids.empty()) return;
  void* block = nullptr;
  if (AllocateAndGetTcpExTableFromStack(&block, 0, GetProcessHeap(), 0, 2) != NO_ERROR) return;
  const auto* table = static_cast<const MIB_TCPTABLE_EX*>(block);
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_EX& row = table->table[i];
    if (row.dwState == MIB_TCP_STATE_LISTEN || !pids.count(static_cast<pid_t>(row.dwProcessId))) continue;
    MIB_TCPROW cut{MIB_TCP_STATE_DELETE_TCB, row.dwLocalAddr, row.dwLocalPort, row.dwRemoteAddr, row.dwRemotePort};
    SetTcpEntry(&cut);
  }
  HeapFree(GetProcessHeap(), 0, block);
  for (const MIB_TCP6ROW_OWNER_PID& row : Tcp6Rows()) {
    if (row.dwState == MIB_TCP_STATE_LISTEN || !pids.count(static_cast<pid_t>(row.dwOwningPid))) continue;
    MIB_TCP6ROW cut{MIB_TCP_STATE_DELETE_TCB, {}, 0, row.dwLocalPort, {}, 0, row.dwRemotePort};
    std::memcpy(cut.LocalAddr, row.ucLocalAddr, 16);
    std::memcpy(cut.RemoteAddr, row.ucRemoteAddr, 16);
    SetTcpEntry6(&cut);
  }
}

std::vector<pid_t> Members(const std::string& folder) {
  std::vector<pid_t> pids;
  std::ifstream file(folder + "/cgroup.procs");
  pid_t pid = 0;
  while (file >> pid) pids.push_back(pid);
  return pids;
}

}  // namespace

bool RamparoProcessGroup::Open(std::string* error) {
  if (IsOpen()) return true;
  const std::string mount = CgroupV2Mount();
  const std::string root = kNftCgroupRoot;
  if (mount.empty() || (mount != root && mount.rfind(root + "/", 0) != 0)) {
    *error = "no cgroup v2 hierarchy under " + root;
    return false;
  }
  // One group per network namespace, as there is one table per namespace: a restarted engine
  // finds the group of the one before it.
  const std::string name = "ramparo-net" + std::to_string(InodeOf("/proc/self/ns/net"));
  const std::string folder = mount + "/" + name;
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = "cannot make " + folder + ": " + std::strerror(errno);
    return false;
  }
  m_mount = mount;
  m_folder = folder;
  m_nft.nftPath = (mount == root ? std::string() : mount.substr(root.size() + 1) + "/") + name;
  m_nft.level = 1;
  return true;
}

void RamparoProcessGroup::Close() {
  if (!IsOpen()) return;
  Update({});
  ::rmdir(m_folder.c_str());
  m_folder.clear();
  m_nft = {};
}

bool RamparoProcessGroup::MoveTo(pid_t pid, const std::string& folder) {
  std::ofstream procs(folder + "/cgroup.procs");
  procs << pid << std::flush;
  return static_cast<bool>(procs);
}

std::size_t RamparoProcessGroup::Update(const std::vector<std::string>& blocked) {
  if (!IsOpen()) return 0;
  const ino_t ownNet = InodeOf("/proc/self/ns/net");
  const std::string ownGroup = m_mount + GroupOf("self");

  // Out first: members whose name is allowed now (their children too, which were never moved).
  for (pid_t pid : Members(m_folder)) {
    const std::string name = ExecutableName(std::to_string(pid));
    if (std::find(blocked.begin(), blocked.end(), name) != blocked.end()) continue;
    const auto origin = m_origin.find(pid);
    if (origin == m_origin.end() || !MoveTo(pid, origin->second)) MoveTo(pid, ownGroup);
  }
  for (auto it = m_origin.begin(); it != m_origin.end();)
    it = ::kill(it->first, 0) != 0 && errno == ESRCH ? m_origin.erase(it) : std::next(it);
  if (blocked.empty()) return Members(m_folder).size();

  DIR* proc = ::opendir("/proc");
  if (!proc) return Members(m_folder).size();
  const std::string inside = m_folder.substr(m_mount.size());
  std::set<pid_t> moved;
  while (dirent* entry = ::readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    if (InodeOf("/proc/" + pid + "/ns/net") != ownNet) continue;
    const std::string name = ExecutableName(pid);
    if (name.empty() || std::find(blocked.begin(), blocked.end(), name) == blocked.end()) continue;
    uid_t uid = 0;
    if (!RealUid(pid, &uid) || uid != m_user) continue;
    const std::string group = GroupOf(pid);
    if (group.empty() || group == inside) continue;
    const pid_t id = static_cast<pid_t>(std::stol(pid));
    if (MoveTo(id, m_folder)) {
      m_origin[id] = m_mount + group;
      moved.insert(id);
    }
  }
  ::closedir(proc);
  CutConnections(moved);
  return Members(m_folder).size();
}

std::string RamparoProcessGroup::OwnerName(const _FirewallRuleLogRecord& block) {
  constexpr std::uint8_t kTcp = 6;
  constexpr std::uint8_t kUdp = 17;
  if (block.localPort == 0 || (block.protocol != kTcp && block.protocol != kUdp)) return {};
  if (block.family == kLogFamilyIpv6) {
    const DWORD pid = Owner6(block, block.protocol == kTcp);
    return pid == 0 ? std::string() : ExecutableName(std::to_string(pid));
  }
  auto local = [&block](DWORD address, DWORD port) {
    return static_cast<std::uint16_t>(port) == block.localPort && (address == block.localAddress || address == 0);
  };
  DWORD pid = 0;
  void* table = nullptr;
  if (block.protocol == kTcp && AllocateAndGetTcpExTableFromStack(&table, 0, GetProcessHeap(), 0, 2) == NO_ERROR) {
    const auto* rows = static_cast<const MIB_TCPTABLE_EX*>(table);
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
      const MIB_TCPROW_EX& row = rows->table[i];
      if (!local(row.dwLocalAddr, row.dwLocalPort)) continue;
      // The connection itself, else the listening socket a blocked peer tried to reach.
      if (row.dwRemoteAddr == block.blockedAddress &&
          static_cast<std::uint16_t>(row.dwRemotePort) == block.blockedPort) {
        pid = row.dwProcessId;
        break;
      }
      if (row.dwState == MIB_TCP_STATE_LISTEN) pid = row.dwProcessId;
    }
  } else if (block.protocol == kUdp &&
             AllocateAndGetUdpExTableFromStack(&table, 0, GetProcessHeap(), 0, 2) == NO_ERROR) {
    const auto* rows = static_cast<const MIB_UDPTABLE_EX*>(table);
    for (DWORD i = 0; i < rows->dwNumEntries && pid == 0; ++i)
      if (local(rows->table[i].dwLocalAddr, rows->table[i].dwLocalPort)) pid = rows->table[i].dwProcessId;
  }
  if (table) HeapFree(GetProcessHeap(), 0, table);
  return pid == 0 ? std::string() : ExecutableName(std::to_string(pid));
}

#include "RamparoEngine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstddef>
#include <climits>
#include <cstring>

#include "common/FieldText.h"
#include "common/ResultCodes.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"
#include "RamparoRuleSet.h"

namespace {

// The first IPv4 address of an interface that is up, preferring one that is not loopback.
std::uint32_t MachineAddress() {
  std::uint32_t loopback = htonl(INADDR_LOOPBACK);
  std::uint32_t found = 0;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return loopback;
  for (ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP)) continue;
    sockaddr_in address;
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    if (entry->ifa_flags & IFF_LOOPBACK) {
      loopback = address.sin_addr.s_addr;
    } else {
      found = address.sin_addr.s_addr;
    }
  }
  ::freeifaddrs(list);
  return found ? found : loopback;
}

constexpr std::int32_t kProcessBlockCode = 6001;
// Rule 0 has no negative: its outgoing blocks are reported with this code, its incoming ones
// with 0x0FFFFFFF, both of which the console reads as rule 0.
constexpr std::int32_t kRuleZeroIn = 0x0FFFFFFF;
constexpr std::int32_t kRuleZeroOut = static_cast<std::int32_t>(0xF0000001u);

}  // namespace

RamparoEngine::RamparoEngine(std::string workingDir) : m_config(std::move(workingDir)) {}

RamparoEngine::~RamparoEngine() { Stop(); }

bool RamparoEngine::TakeEngineLock() {
  // One engine per block: a record lock on the file's second byte, dropped by the system if
  // the engine dies. (The first byte is the attach gate of every attachment.)
  m_engineLock = ::open(m_interfaceFile.c_str(), O_RDWR | O_CLOEXEC);
  if (m_engineLock < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 1;
  lock.l_len = 1;
  if (::fcntl(m_engineLock, F_OFD_SETLK, &lock) == 0) return true;
  ::close(m_engineLock);
  m_engineLock = -1;
  return false;
}

bool RamparoEngine::Start(std::string& error) {
  m_interfaceFile = m_config.InterfaceFile();
  m_ruleFile = m_config.RuleFile();
  m_mem.MemSetMemFile(m_interfaceFile);
  m_view = m_mem.MemAttach(&m_created);
  if (!m_view) {
    error = "cannot attach the interface file " + m_interfaceFile;
    if (!m_mem.MemGetLastError().empty()) error += ": " + m_mem.MemGetLastError();
    return false;
  }
  if (!TakeEngineLock()) {
    error = "another engine already serves the interface file " + m_interfaceFile;
    m_mem.MemDetach();
    m_view = nullptr;
    return false;
  }
  // The table is made now, empty, and owned (see RamparoNftTable): one engine per network
  // namespace, as there is one table, and the kernel lets no other process take it over.
  std::string nftError;
  if (!m_table.Run(RamparoRuleSet::Claim(), &nftError)) {
    error = m_table.IsOwned() ? "another engine holds the table inet ramparo of this network namespace"
                              : "cannot make the table inet ramparo: " + nftError;
    m_mem.MemDetach();
    m_view = nullptr;
    return false;
  }
  m_tableMade = true;
  m_address = MachineAddress();
  LoadSettings();
  RampaBlockSet(m_view, kRampaOffConsoleLock, 0);
  Publish();
  return true;
}

void RamparoEngine::Stop() {
  if (m_tableMade) m_table.Run(RamparoRuleSet::Remove());
  m_tableMade = false;
  m_log.Close();
  m_group.Close();
  if (m_view) {
    m_filtering = false;
    RampaBlockSet(m_view, kRampaOffFiltering, 0);
    RampaBlockSet(m_view, kRampaOffEnginePresent, 0);
    m_mem.MemDetach();
    m_view = nullptr;
  }
  if (m_engineLock >= 0) {
    ::close(m_engineLock);
    m_engineLock = -1;
  }
}

void RamparoEngine::Publish() {
  RampaBlockSet(m_view, kRampaOffFiltering, m_filtering ? 1 : 0);
  RampaBlockSet(m_view, kRampaEnginePid, static_cast<std::uint32_t>(::getpid()));
  RampaBlockSet(m_view, kRampaEngineCreated, static_cast<std::uint32_t>(m_created));
  RampaBlockSet(m_view, kRampaEngineRules, static_cast<std::uint32_t>(m_rules.size()));
  RampaBlockSet(m_view, kRampaEngineProcesses, static_cast<std::uint32_t>(m_processes.size()));
  RampaBlockSet(m_view, kRampaEngineServed, m_served);
  RampaBlockSet(m_view, kRampaEngineLastCode, m_lastCode);
  RampaBlockSet(m_view, kRampaEngineSettingsLoads, m_settingsLoads);
  // Raised last, so whoever sees the engine present also sees its fields; raised again at
  // every poll, so a console that wiped the block sees the engine at once.
  RampaBlockSet(m_view, kRampaOffEnginePresent, 1);
}

bool RamparoEngine::Poll() {
  // An interface file that another program shrank no longer reaches any console.
  if (!m_view || !m_mem.MemCheckView()) return false;
  Publish();
  // A slot reading 2 is still being written by a console; only 1 is a request.
  if (RampaBlockGet(m_view, kRampaOffRequestPending) == 1) {
    Serve(RampaBlockGet(m_view, kRampaOffCode));
    Publish();
    RampaBlockSet(m_view, kRampaOffReplyReady, 1);
    RampaBlockSet(m_view, kRampaOffRequestPending, 0);
  }
  return !m_shutdown;
}

void RamparoEngine::Serve(std::uint32_t code) {
  ++m_served;
  m_lastCode = code;
  switch (static_cast<std::int32_t>(code)) {
    case kRampaMsgStart: {
      LoadRules();
      m_filtering = true;
      const std::uint32_t result = Apply();
      m_filtering = result == 0;  // a refused table is no firewall
      WriteReply(code, result, static_cast<std::uint32_t>(m_rules.size()));
      break;
    }
    case kRampaMsgStop: {
      m_filtering = false;
      const std::uint32_t result = Apply();
      WriteReply(code, result, static_cast<std::uint32_t>(m_rules.size()));
      break;
    }
    case kRampaMsgReloadRules: {
      std::uint32_t result = LoadRules();
      if (result == 0) result = Apply();
      WriteReply(code, result, static_cast<std::uint32_t>(m_rules.size()));
      break;
    }
    case kRampaMsgSettings: {
      std::uint32_t result = LoadSettings();
      if (const std::uint32_t applied = Apply(); applied != 0) result = applied;
      WriteReply(code, result, static_cast<std::uint32_t>(m_processes.size()));
      break;
    }
    case kRampaMsgStatistics:
      WriteStatistics();
      break;
    case kRampaMsgShutdown:
      if (m_tableMade) m_table.Run(RamparoRuleSet::Remove());
      m_tableMade = false;
      m_filtering = false;
      m_shutdown = true;
      WriteReply(code, 0, 0);
      break;
    default:
      WriteReply(code, static_cast<std::uint32_t>(E_UNEXPECTED), 0);
      break;
  }
}

void RamparoEngine::WriteReply(std::uint32_t code, std::uint32_t result, std::uint32_t count) {
  auto* payload = static_cast<std::uint8_t*>(m_view) + kRampaOffPayload;
  RampaBlockSet(payload, kRampaReplyCode, code);
  RampaBlockSet(payload, kRampaReplyResult, result);
  RampaBlockSet(payload, kRampaReplyCount, count);
}

std::uint32_t RamparoEngine::LoadRules() {
  // The rule file may have been renamed in the registry since the last load.
  m_ruleFile = m_config.RuleFile();
  FirewallRuleFile::Contents contents = FirewallRuleFile::Read(m_ruleFile, kMaxRules);
  if (!contents.opened) {
    // A file the console holds at this moment leaves the rules loaded before; a missing one has none.
    if (contents.missing) m_rules.clear();
    return static_cast<std::uint32_t>(E_FAIL);
  }
  m_rules = std::move(contents.rules);
  return 0;
}

std::uint32_t RamparoEngine::LoadSettings() {
  m_settings = m_config.LoadSettings();
  ++m_settingsLoads;
  auto processes = FirewallProcessFile::Read(m_settings.processFile, FirewallProcessFile::Sharing::Shared);
  if (!processes.opened) {
    if (processes.missing) m_processes.clear();
    return static_cast<std::uint32_t>(E_FAIL);
  }
  m_processes = std::move(processes.records);
  return 0;
}

std::uint32_t RamparoEngine::Apply() {
  std::string error;
  if (!m_filtering) {
    if (!m_table.Run(RamparoRuleSet::Empty(), &error)) return static_cast<std::uint32_t>(E_FAIL);
    m_reported.clear();
    m_log.Close();
    m_group.Close();
    return 0;
  }
  const std::vector<std::string> blocked = BlockedProcessNames();
  if (!blocked.empty() && !m_group.Open(&error))  // the rules still apply; the console has no place for this
    std::fprintf(stderr, "RamparoThreadApp: processes cannot be blocked: %s\n", error.c_str());
  if (m_group.IsOpen()) m_group.Update(blocked);
  if (m_settings.logBlocks != 0 && m_log.Fd() < 0) m_log.Open(RamparoRuleSet::kLogGroup, &error);
  const std::string batch = RamparoRuleSet::Build(m_rules, m_settings, m_group.IsOpen() ? &m_group.Nft() : nullptr);
  if (!m_table.Run(batch, &error)) return static_cast<std::uint32_t>(E_FAIL);
  m_reported.clear();  // the new table counts from 0
  if (blocked.empty()) m_group.Close();
  return 0;
}

std::vector<std::string> RamparoEngine::BlockedProcessNames() const {
  std::vector<std::string> names;
  for (const _FirewallProcessRecord& record : m_processes) {
    const void* zero = std::memchr(record.processName, 0, sizeof record.processName);
    const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - record.processName)
                               : sizeof record.processName;
    if (record.blocked != 0 && n > 0) names.emplace_back(record.processName, n);
  }
  return names;
}

void RamparoEngine::OnTick() {
  if (m_filtering && m_group.IsOpen()) m_group.Update(BlockedProcessNames());
}

void RamparoEngine::OnLogReadable() {
  // The owner of a socket is looked up once per drain: a burst of blocks mostly comes from one.
  std::map<std::pair<std::uint8_t, std::uint16_t>, std::string> owners;
  m_log.Drain(m_settings.blockLogFile, [this, &owners](std::size_t rule, _FirewallRuleLogRecord* record) {
    if (rule == RamparoRuleSet::kProcessRule) {
      const auto socket = std::make_pair(record->protocol, record->localPort);
      auto owner = owners.find(socket);
      if (owner == owners.end()) owner = owners.emplace(socket, RamparoProcessGroup::OwnerName(*record)).first;
      record->rule = ProcessBlockRule(owner->second);
      return true;
    }
    if (rule >= m_rules.size()) return false;
    record->rule = m_rules[rule];
    return true;
  });
}

_FirewallRule RamparoEngine::ProcessBlockRule(const std::string& process) {
  // A process block stops every address: the rule reads as the whole address range, named by
  // the blocked process when its socket was found.
  _FirewallRule rule{};
  SetFieldText(rule.name, process.empty() ? kProcessBlockName : process);
  rule.active = 1;
  rule.entries[kRuleRangeStart] = {0, 0xFFFFFFFFu, 0, 0};
  rule.entries[kRuleRangeEnd] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0};
  rule.kind = 1;
  return rule;
}

void RamparoEngine::WriteStatistics() {
  auto* payload = static_cast<std::uint8_t*>(m_view) + kRampaOffPayload;
  std::map<std::string, std::uint64_t> counters;
  if (!m_tableMade || !m_table.Counters(&counters)) counters.clear();
  // The console adds each reply to its totals, so a reply carries the blocks since the last one.
  // Counters that blocked nothing are left out; those beyond the 112 entries the payload holds
  // wait for the next reply.
  std::vector<RampaStatisticsEntry> entries;
  std::vector<std::pair<std::string, std::uint64_t>> counted;  // per entry: its counter now
  auto add = [&](const std::string& name, RampaStatisticsEntry entry) {
    const auto now = counters.find(name);
    if (now == counters.end()) return;
    // A counter below what was reported belongs to a new table: it counts from 0.
    const std::uint64_t base = now->second >= m_reported[name] ? m_reported[name] : 0;
    if (now->second == base) return;
    entry.blockCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(now->second - base, UINT32_MAX));
    entries.push_back(entry);
    counted.emplace_back(name, base + entry.blockCount);
  };
  const std::uint32_t protocol = RamparoRuleSet::ProtocolValue(m_settings);
  for (std::size_t i = 0; i < m_rules.size(); ++i) {
    if (!RamparoRuleSet::Applies(m_rules[i])) continue;
    const auto index = static_cast<std::int32_t>(i);
    for (const bool incoming : {true, false}) {
      RampaStatisticsEntry entry;
      entry.ruleCode = i == 0 ? (incoming ? kRuleZeroIn : kRuleZeroOut) : (incoming ? index : -index);
      entry.protocol = protocol;
      if (RuleIsIpv6(m_rules[i])) {
        entry.ipv6 = true;
        GetRuleAddress6(m_rules[i], kRuleRangeStart, entry.firstAddress6);
        if (m_rules[i].entries[kRuleRangeEnd].mask != 0)
          GetRuleAddress6(m_rules[i], kRuleRangeEnd, entry.secondAddress6);
      } else {
        entry.firstAddress = m_rules[i].entries[kRuleRangeStart].address;
        entry.secondAddress = m_rules[i].entries[kRuleRangeEnd].address;
      }
      std::string name = "r";  // in steps: GCC 12 at -O3 warns about the joined temporaries
      name += std::to_string(i);
      name += incoming ? "_in" : "_out";
      add(name, entry);
    }
  }
  for (const bool incoming : {true, false}) {
    RampaStatisticsEntry entry;
    entry.ruleCode = incoming ? kProcessBlockCode : -kProcessBlockCode;
    add(incoming ? "proc_in" : "proc_out", entry);
  }
  const std::size_t written = RampaStatisticsReply::Write(payload, kRampaPayloadSize, m_address, entries);
  for (std::size_t i = 0; i < written; ++i) m_reported[counted[i].first] = counted[i].second;
}

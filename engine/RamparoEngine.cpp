#include "RamparoEngine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/ResultCodes.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "controls/firewall/RampaStatisticsReply.h"

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

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

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
  m_address = MachineAddress();
  LoadSettings();
  RampaBlockSet(m_view, kRampaOffConsoleLock, 0);
  Publish();
  return true;
}

void RamparoEngine::Stop() {
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
      const std::uint32_t result = LoadRules();
      m_filtering = true;
      WriteReply(code, result, static_cast<std::uint32_t>(m_rules.size()));
      break;
    }
    case kRampaMsgStop:
      m_filtering = false;
      WriteReply(code, 0, static_cast<std::uint32_t>(m_rules.size()));
      break;
    case kRampaMsgReloadRules: {
      const std::uint32_t result = LoadRules();
      WriteReply(code, result, static_cast<std::uint32_t>(m_rules.size()));
      break;
    }
    case kRampaMsgSettings: {
      const std::uint32_t result = LoadSettings();
      WriteReply(code, result, static_cast<std::uint32_t>(m_processes.size()));
      break;
    }
    case kRampaMsgStatistics:
      // No blocks are made here, so the reply holds no entries.
      RampaStatisticsReply::WriteNoBlocks(static_cast<std::uint8_t*>(m_view) + kRampaOffPayload, kRampaPayloadSize,
                                          m_address);
      break;
    case kRampaMsgShutdown:
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
    if (!Exists(m_ruleFile)) m_rules.clear();
    return static_cast<std::uint32_t>(E_FAIL);
  }
  m_rules = std::move(contents.rules);
  return 0;
}

std::uint32_t RamparoEngine::LoadSettings() {
  m_settings = m_config.LoadSettings();
  ++m_settingsLoads;
  bool opened = false;
  auto processes = FirewallProcessFile::Read(m_settings.processFile, FirewallProcessFile::Sharing::Shared, &opened);
  if (!opened) {
    if (!Exists(m_settings.processFile)) m_processes.clear();
    return static_cast<std::uint32_t>(E_FAIL);
  }
  m_processes = std::move(processes);
  return 0;
}

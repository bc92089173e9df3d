#include "controls/packets/SocketOwnerCache.h"

#include <pthread.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "controls/connections/ConnectionTables.h"
#include "controls/framework/PelorinCListView.h"

namespace {
constexpr int kTcp = 6;
constexpr int kUdp = 17;
}  // namespace

SocketOwnerCache::SocketOwnerCache(PelorinCListView& names, std::function<void()> changed)
    : m_names(names), m_changed(std::move(changed)), m_snapshot(std::make_shared<const Names>()) {
  m_thread = std::thread([this] { Loop(); });
  pthread_setname_np(m_thread.native_handle(), "pelorin-owners");
}

SocketOwnerCache::~SocketOwnerCache() {
  {
    std::lock_guard<std::mutex> lock(m_stopLock);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

std::uint64_t SocketOwnerCache::Key(int protocol, std::uint32_t address, std::uint32_t port) {
  return (static_cast<std::uint64_t>(protocol & 0xFF) << 48) | (static_cast<std::uint64_t>(port & 0xFFFF) << 32) |
         address;
}

std::string SocketOwnerCache::Key6(int protocol, const std::uint8_t* address, std::uint32_t port) {
  std::string key(19, '\0');
  key[0] = static_cast<char>(protocol);
  key[1] = static_cast<char>(port >> 8);
  key[2] = static_cast<char>(port);
  std::memcpy(key.data() + 3, address, 16);
  return key;
}

std::shared_ptr<const SocketOwnerCache::Names> SocketOwnerCache::Snapshot() const {
  m_wanted.store(true, std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(m_snapshotLock);
  return m_snapshot;
}

std::string SocketOwnerCache::Owner(int protocol, std::uint32_t address, std::uint32_t port) const {
  const std::shared_ptr<const Names> names = Snapshot();
  for (const std::uint32_t bound : {address, 0u}) {
    const auto it = names->v4.find(Key(protocol, bound, port));
    if (it != names->v4.end()) return it->second;
  }
  return {};
}

std::string SocketOwnerCache::Owner6(int protocol, const std::array<std::uint8_t, 16>& address,
                                     std::uint32_t port) const {
  const std::shared_ptr<const Names> names = Snapshot();
  static constexpr std::array<std::uint8_t, 16> kAny{};
  for (const auto* bound : {&address, &kAny}) {
    const auto it = names->v6.find(Key6(protocol, bound->data(), port));
    if (it != names->v6.end()) return it->second;
  }
  return {};
}

std::string SocketOwnerCache::PacketOwner(int protocol, std::uint32_t source, std::uint32_t sourcePort,
                                          std::uint32_t destination, std::uint32_t destinationPort) const {
  if (protocol != kTcp && protocol != kUdp) return {};
  std::string owner = Owner(protocol, source, sourcePort);
  return owner.empty() ? Owner(protocol, destination, destinationPort) : owner;
}

std::string SocketOwnerCache::PacketOwner6(int protocol, const std::array<std::uint8_t, 16>& source,
                                           std::uint32_t sourcePort, const std::array<std::uint8_t, 16>& destination,
                                           std::uint32_t destinationPort) const {
  if (protocol != kTcp && protocol != kUdp) return {};
  std::string owner = Owner6(protocol, source, sourcePort);
  return owner.empty() ? Owner6(protocol, destination, destinationPort) : owner;
}

void SocketOwnerCache::Refresh() {
  std::lock_guard<std::mutex> refreshing(m_refreshLock);
  ConnectionTables tables;
  tables.Load();
  auto names = std::make_shared<Names>();
  std::unordered_map<DWORD, std::string> byProcess;
  std::vector<TableEndpoint> endpoints;
  m_names.ProcessSnapshotTake();  // one process snapshot for every name of this refresh
  for (const int protocol : {kTcp, kUdp}) {
    const bool fetched = protocol == kTcp ? tables.FetchTcp(&endpoints) : tables.FetchUdp(&endpoints);
    if (!fetched) endpoints.clear();
    // The IPv6 table is read even when the IPv4 one could not be.
    if (protocol == kTcp) tables.AppendTcp6(&endpoints);
    else tables.AppendUdp6(&endpoints);
    for (const TableEndpoint& e : endpoints) {
      if (e.processId == 0) continue;  // no owner (a closing socket) or only the plain tables
      auto it = byProcess.find(e.processId);
      if (it == byProcess.end())
        it = byProcess.emplace(e.processId, m_names.ProcessGetName(e.processId, nullptr)).first;
      if (it->second.empty()) continue;
      if (e.family == AF_INET6)
        names->v6.emplace(Key6(protocol, e.localAddr6.data(), e.localPort), it->second);
      else
        names->v4.emplace(Key(protocol, e.localAddr, e.localPort), it->second);
    }
  }
  m_names.ProcessSnapshotClose();
  bool changed;
  {
    std::lock_guard<std::mutex> lock(m_snapshotLock);
    changed = *m_snapshot != *names;
    m_snapshot = std::move(names);
  }
  m_refreshes.fetch_add(1);
  if (changed && m_changed) m_changed();
}

void SocketOwnerCache::Loop() {
  std::unique_lock<std::mutex> lock(m_stopLock);
  while (!m_stop) {
    m_wake.wait_for(lock, std::chrono::milliseconds(kRefreshMs));
    if (m_stop) break;
    if (!m_wanted.exchange(false, std::memory_order_relaxed)) continue;
    lock.unlock();
    Refresh();
    lock.lock();
  }
}

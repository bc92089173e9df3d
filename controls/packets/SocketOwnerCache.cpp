#include "controls/packets/SocketOwnerCache.h"

#include <pthread.h>

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

std::string SocketOwnerCache::Owner(int protocol, std::uint32_t address, std::uint32_t port) const {
  m_wanted.store(true, std::memory_order_relaxed);
  std::shared_ptr<const Names> names;
  {
    std::lock_guard<std::mutex> lock(m_snapshotLock);
    names = m_snapshot;
  }
  for (const std::uint32_t bound : {address, 0u}) {
    const auto it = names->find(Key(protocol, bound, port));
    if (it != names->end()) return it->second;
  }
  return {};
}

std::string SocketOwnerCache::PacketOwner(int protocol, std::uint32_t source, std::uint32_t sourcePort,
                                          std::uint32_t destination, std::uint32_t destinationPort) const {
  if (protocol != kTcp && protocol != kUdp) return {};
  std::string owner = Owner(protocol, source, sourcePort);
  return owner.empty() ? Owner(protocol, destination, destinationPort) : owner;
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
    if (!(protocol == kTcp ? tables.FetchTcp(&endpoints) : tables.FetchUdp(&endpoints))) continue;
    for (const TableEndpoint& e : endpoints) {
      if (e.processId == 0) continue;  // no owner (a closing socket) or only the plain tables
      auto it = byProcess.find(e.processId);
      if (it == byProcess.end())
        it = byProcess.emplace(e.processId, m_names.ProcessGetName(e.processId, nullptr)).first;
      if (!it->second.empty()) names->emplace(Key(protocol, e.localAddr, e.localPort), it->second);
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

#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/WinTypes.h"

class PelorinCListView;

// The names of the processes that own the machine's TCP and UDP endpoints, by protocol, local
// address and local port: the packet panes' "Process" column. A thread of its own refreshes it
// from the endpoint tables with owning process ids and the process names, the same lookup the
// connections pane makes, so no packet and no drawn row ever waits for the tables.
//
// The refresh runs on demand: a lookup notes that the names are wanted, and the thread then
// refreshes at most once every kRefreshMs. A pane that nobody looks at costs nothing. Readers
// take the current snapshot, which a refresh replaces whole, under a lock held only to copy the
// pointer.
class SocketOwnerCache {
 public:
  static constexpr int kRefreshMs = 1000;  // ms between refreshes while names are wanted

  // names gives a process id's name (the pane's process lookup); changed is called on the
  // cache's thread after a refresh that changed any name, so the owner can redraw.
  SocketOwnerCache(PelorinCListView& names, std::function<void()> changed);
  ~SocketOwnerCache();  // ends the thread
  SocketOwnerCache(const SocketOwnerCache&) = delete;
  SocketOwnerCache& operator=(const SocketOwnerCache&) = delete;

  // The owner of a local endpoint: protocol 6 or 17, address in network byte order, port in host
  // order. A socket bound to every address (0.0.0.0) owns the port on each; "" when none does.
  std::string Owner(int protocol, std::uint32_t address, std::uint32_t port) const;
  // The same for an IPv6 endpoint; a socket bound to :: owns the port on every IPv6 address.
  std::string Owner6(int protocol, const std::array<std::uint8_t, 16>& address, std::uint32_t port) const;
  // The owner of a packet's endpoint on this machine: the source's, else the destination's.
  std::string PacketOwner(int protocol, std::uint32_t source, std::uint32_t sourcePort, std::uint32_t destination,
                          std::uint32_t destinationPort) const;
  std::string PacketOwner6(int protocol, const std::array<std::uint8_t, 16>& source, std::uint32_t sourcePort,
                           const std::array<std::uint8_t, 16>& destination, std::uint32_t destinationPort) const;

  // Refreshes now, on the caller's thread (tests, and the thread's own turns).
  void Refresh();
  std::uint64_t Refreshes() const { return m_refreshes.load(); }

 private:
  // IPv4 endpoints by protocol, port and address in one number; IPv6 ones by protocol, port and
  // address in 19 bytes.
  struct Names {
    std::unordered_map<std::uint64_t, std::string> v4;
    std::unordered_map<std::string, std::string> v6;
    bool operator==(const Names&) const = default;
  };
  static std::uint64_t Key(int protocol, std::uint32_t address, std::uint32_t port);
  static std::string Key6(int protocol, const std::uint8_t* address, std::uint32_t port);
  std::shared_ptr<const Names> Snapshot() const;
  void Loop();

  PelorinCListView& m_names;
  std::function<void()> m_changed;
  mutable std::mutex m_snapshotLock;
  std::shared_ptr<const Names> m_snapshot;
  mutable std::atomic<bool> m_wanted{false};
  std::atomic<std::uint64_t> m_refreshes{0};
  std::mutex m_refreshLock;  // one refresh at a time

  std::mutex m_stopLock;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::thread m_thread;
};

#pragma once
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <unordered_map>

struct _MonListMonItemData;

// The endpoint fields a row is matched on: TCP rows on all four, UDP rows on the local pair
// (the remote pair is 0). Addresses in network byte order, ports in host order; IPv6 endpoints
// on their 16-byte addresses and scope ids, IPv4 ones with those zero.
struct EndpointKey {
  std::uint32_t localAddr = 0;
  std::uint32_t localPort = 0;
  std::uint32_t remoteAddr = 0;
  std::uint32_t remotePort = 0;
  bool ipv6 = false;
  std::uint32_t localScopeId = 0;
  std::uint32_t remoteScopeId = 0;
  std::array<std::uint8_t, 16> localAddr6{};
  std::array<std::uint8_t, 16> remoteAddr6{};
  bool operator==(const EndpointKey&) const = default;

  // The key of a row record or a table endpoint (both name their fields alike).
  template <typename Endpoint>
  static EndpointKey Of(const Endpoint& e, bool tcp) {
    EndpointKey key;
    key.localAddr = e.localAddr;
    key.localPort = e.localPort;
    if (tcp) {
      key.remoteAddr = e.remoteAddr;
      key.remotePort = e.remotePort;
    }
    if (e.family == AF_INET6) {
      key.ipv6 = true;
      key.localScopeId = e.localScopeId;
      std::memcpy(key.localAddr6.data(), std::data(e.localAddr6), 16);
      if (tcp) {
        key.remoteScopeId = e.remoteScopeId;
        std::memcpy(key.remoteAddr6.data(), std::data(e.remoteAddr6), 16);
      }
    }
    return key;
  }
};

struct EndpointKeyHash {
  std::size_t operator()(const EndpointKey& key) const {
    std::uint64_t a = (static_cast<std::uint64_t>(key.localAddr) << 32) | key.localPort;
    std::uint64_t b = (static_cast<std::uint64_t>(key.remoteAddr) << 32) | key.remotePort;
    if (key.ipv6) {
      // The interface identifiers (last eight bytes) tell most IPv6 endpoints apart.
      std::uint64_t local = 0, remote = 0;
      std::memcpy(&local, key.localAddr6.data() + 8, 8);
      std::memcpy(&remote, key.remoteAddr6.data() + 8, 8);
      std::uint64_t localPrefix = 0, remotePrefix = 0;
      std::memcpy(&localPrefix, key.localAddr6.data(), 8);
      std::memcpy(&remotePrefix, key.remoteAddr6.data(), 8);
      a ^= local + (localPrefix * 0x94D049BB133111EBull) + key.localScopeId;
      b ^= remote + (remotePrefix * 0x94D049BB133111EBull) + key.remoteScopeId;
    }
    // Two rounds of a multiplicative mix: loopback sockets differ only in a few port bits.
    a *= 0x9E3779B97F4A7C15ull;
    a ^= a >> 29;
    b += a;
    b *= 0xBF58476D1CE4E5B9ull;
    b ^= b >> 31;
    return static_cast<std::size_t>(b);
  }
};

// Rows of one type by their endpoint: the row record and where the row stood when it was seen.
// The first row of the list with a key is the one kept, as a walk from the top would find it.
// Records are only trusted after the row at the hint (or found again) still holds them.
class EndpointIndex {
 public:
  struct Entry {
    _MonListMonItemData* record = nullptr;
    int row = -1;  // a hint: rows move when others are inserted before them
  };

  void Clear() { m_entries.clear(); }
  void Reserve(std::size_t count) { m_entries.reserve(count); }
  // Keeps an existing entry for the key (the row nearer the top).
  void AddFirst(const EndpointKey& key, _MonListMonItemData* record, int row) {
    m_entries.try_emplace(key, Entry{record, row});
  }
  void Set(const EndpointKey& key, _MonListMonItemData* record, int row) { m_entries[key] = Entry{record, row}; }
  Entry* Find(const EndpointKey& key) {
    auto it = m_entries.find(key);
    return it == m_entries.end() ? nullptr : &it->second;
  }
  void Erase(const EndpointKey& key) { m_entries.erase(key); }
  std::size_t Size() const { return m_entries.size(); }

 private:
  std::unordered_map<EndpointKey, Entry, EndpointKeyHash> m_entries;
};

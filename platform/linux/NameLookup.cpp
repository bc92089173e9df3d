#include "platform/NameLookup.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/EventSignal.h"

namespace {

// One lookup's answer, owned jointly by the waiting caller and the thread that asks the resolver.
template <typename Answer>
struct PendingLookup {
  std::mutex lock;
  Answer answer{};
  EventSignal done;  // set once the answer is in
};

// Runs ask() on a thread of its own and waits for its answer or for cancel.
//
// The lookup thread is detached and may outlive the wait: the resolver call cannot be cut short,
// and joining the thread would make the caller wait out the resolver's timeout, which is what this
// is for. It is harmless all the same. It touches only its own copy of the question, the
// PendingLookup it co-owns (whichever side lets go last frees it) and the resolver, which is
// thread-safe; its code is in a library linked at load time and never unloaded. It ends when the
// resolver answers, or with the process. A cut-off wait means the signal is set for good, so every
// later lookup with it returns at once without a thread: one signal leaves at most one behind.
template <typename Answer, typename Ask>
Answer AskAside(const Ask& ask, const EventSignal* cancel) {
  if (cancel == nullptr) return ask();
  if (cancel->IsSet()) return {};
  auto pending = std::make_shared<PendingLookup<Answer>>();
  // Without descriptors to wait on there is nothing to wait with: ask here.
  if (pending->done.Descriptor() < 0 || cancel->Descriptor() < 0) return ask();
  try {
    std::thread([pending, ask] {
      pthread_setname_np(pthread_self(), "name lookup");
      Answer answer = ask();
      {
        std::lock_guard<std::mutex> lock(pending->lock);
        pending->answer = std::move(answer);
      }
      pending->done.Set();
    }).detach();
  } catch (const std::system_error&) {
    return ask();  // no thread to be had
  }
  // No timeout of our own: the resolver's bounds the wait.
  pollfd waits[2] = {{pending->done.Descriptor(), POLLIN, 0}, {cancel->Descriptor(), POLLIN, 0}};
  while (poll(waits, 2, -1) < 0 && errno == EINTR) {
  }
  if ((waits[0].revents & POLLIN) == 0) return {};  // cut off
  std::lock_guard<std::mutex> lock(pending->lock);
  return std::move(pending->answer);
}

}  // namespace

std::vector<sockaddr_storage> NameLookup::Addresses(const std::string& host, int family, int socketType) const {
  if (host.empty()) return {};
  const auto ask = [host, family, socketType] {
    std::vector<sockaddr_storage> addresses;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = socketType;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
      if (entry->ai_addr == nullptr || entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
      sockaddr_storage address{};
      std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
      // Without a socket type the resolver gives each address once per type.
      const auto same = [&](const sockaddr_storage& known) {
        return std::memcmp(&known, &address, sizeof address) == 0;
      };
      if (std::none_of(addresses.begin(), addresses.end(), same)) addresses.push_back(address);
    }
    freeaddrinfo(found);
    return addresses;
  };
  return AskAside<std::vector<sockaddr_storage>>(ask, m_cancel);
}

std::string NameLookup::HostName(const sockaddr* address, socklen_t size) const {
  if (address == nullptr || size == 0 || size > sizeof(sockaddr_storage)) return {};
  sockaddr_storage copy{};  // the lookup may outlive the caller's record
  std::memcpy(&copy, address, size);
  const auto ask = [copy, size] {
    char name[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&copy), size, name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0)
      return std::string();
    return std::string(name);
  };
  return AskAside<std::string>(ask, m_cancel);
}

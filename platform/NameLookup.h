#pragma once
#include <sys/socket.h>

#include <string>
#include <vector>

class EventSignal;

// Host-name lookups through the system's resolver (getaddrinfo, getnameinfo) that a caller can
// stop waiting for. A resolver call cannot be interrupted, and with a silent name server it
// returns only after its own timeout (seconds). So, given a cancel signal, each lookup runs on a
// thread of its own while the caller waits for the answer or the signal, whichever comes first; a
// wait cut off by the signal returns "no answer" at once. Without a signal the lookup runs on the
// caller's thread, as a plain resolver call.
class NameLookup {
 public:
  explicit NameLookup(const EventSignal* cancel = nullptr) : m_cancel(cancel) {}

  // The addresses of host for family (AF_INET, AF_INET6 or AF_UNSPEC) and socketType (0: any),
  // each once, in the resolver's order; empty when it knows none or the wait was cut off.
  std::vector<sockaddr_storage> Addresses(const std::string& host, int family, int socketType = 0) const;
  // The name of an address by reverse lookup (never the address text in its place); empty when it
  // has none or the wait was cut off.
  std::string HostName(const sockaddr* address, socklen_t size) const;

 private:
  const EventSignal* m_cancel;
};

#include "controls/trace/CTraceRoute.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <deque>
#include <cstring>

#include "common/AddressText.h"
#include "controls/trace/CTraceCallback.h"
#include "platform/IcmpApi.h"
#include "platform/NameLookup.h"

namespace {

// The ICMP library, loaded once for the process, and its calls as last looked up.
struct IcmpCalls {
  HMODULE library = nullptr;
  PIcmpCreateFile create = nullptr;
  PIcmpSendEcho send = nullptr;
  PIcmpCloseHandle close = nullptr;
  PIcmpCancelEcho cancel = nullptr;  // optional: without it a closing window waits the echo out
  PIcmpCreateFile create6 = nullptr;  // null when an IPv6 call is missing
  PIcmp6SendEcho2 send6 = nullptr;
  PIcmp6ParseReplies parse6 = nullptr;
};

std::mutex g_icmpLock;
IcmpCalls g_icmp;

template <typename Function>
Function Lookup(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(GetProcAddress(library, name));
}

// The calls to use now; their create call is null when the library or a call is missing.
IcmpCalls Icmp() {
  std::lock_guard<std::mutex> lock(g_icmpLock);
  return g_icmp;
}

}  // namespace

BOOL CTraceRoute::IcmpInit() {
  std::lock_guard<std::mutex> lock(g_icmpLock);
  // The sockets library needs no start-up here. The calls are looked up at every trace, so a
  // library whose table changed (tests replace it) is seen at once.
  if (g_icmp.library == nullptr) g_icmp.library = LoadLibraryA("ICMP.DLL");
  IcmpCalls calls;
  calls.library = g_icmp.library;
  if (calls.library != nullptr) {
    calls.create = Lookup<PIcmpCreateFile>(calls.library, "IcmpCreateFile");
    calls.send = Lookup<PIcmpSendEcho>(calls.library, "IcmpSendEcho");
    calls.close = Lookup<PIcmpCloseHandle>(calls.library, "IcmpCloseHandle");
    calls.cancel = Lookup<PIcmpCancelEcho>(calls.library, "IcmpCancelEcho");
    calls.create6 = Lookup<PIcmpCreateFile>(calls.library, "Icmp6CreateFile");
    calls.send6 = Lookup<PIcmp6SendEcho2>(calls.library, "Icmp6SendEcho2");
    calls.parse6 = Lookup<PIcmp6ParseReplies>(calls.library, "Icmp6ParseReplies");
  }
  if (calls.send6 == nullptr || calls.parse6 == nullptr) calls.create6 = nullptr;
  if (calls.create == nullptr || calls.send == nullptr || calls.close == nullptr) calls.create = nullptr;
  g_icmp = calls;
  return calls.create != nullptr ? 1 : 0;
}

bool CTraceRoute::IcmpDenied(int family) {
  const IcmpCalls icmp = Icmp();
  const PIcmpCreateFile create = family == AF_INET6 ? icmp.create6 : icmp.create;
  if (create == nullptr) return false;
  HANDLE handle = create();
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr) {
    icmp.close(handle);
    return false;
  }
  return GetLastError() == ERROR_ACCESS_DENIED;
}

BOOL CTraceRoute::Ping(const TraceAddress& address, TraceEchoResult* result, int ttl, DWORD timeout, int dataSize) {
  const IcmpCalls icmp = Icmp();
  const bool v6 = address.IsV6();
  const PIcmpCreateFile create = v6 ? icmp.create6 : icmp.create;
  if (create == nullptr) return 0;
  HANDLE handle = create();
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return 0;
  const int hop = std::clamp(ttl, 1, 255);
  {
    std::lock_guard<std::mutex> lock(m_echoLock);
    m_openEchoes.emplace(handle, hop);
    auto& opened = m_hopOpened[hop];
    ++opened.first;
    opened.second = Clock::now();
    if ((m_cancelled || m_echoesOver || m_hopsGivenUp.count(hop) != 0) && icmp.cancel) icmp.cancel(handle);
  }
  dataSize = std::clamp(dataSize, 0, 0xFFFF);
  std::vector<unsigned char> data(static_cast<std::size_t>(dataSize), kDataByte);
  // Room for the answer record and the echoed data (an error answer quotes at least 8 bytes).
  std::vector<unsigned char> reply(std::max(sizeof(ICMP_ECHO_REPLY), sizeof(ICMPV6_ECHO_REPLY)) +
                                   static_cast<std::size_t>(std::max(dataSize, 8)));
  IP_OPTION_INFORMATION options{};
  options.Ttl = static_cast<unsigned char>(hop);
  *result = TraceEchoResult{};
  DWORD status = IP_SUCCESS;
  DWORD answers;
  if (!v6) {
    answers = icmp.send(handle, address.V4(), data.data(), static_cast<unsigned short>(dataSize), &options, reply.data(),
                        static_cast<DWORD>(reply.size()), timeout);
    ICMP_ECHO_REPLY answer;
    std::memcpy(&answer, reply.data(), sizeof answer);
    if (answers != 0) {
      status = answer.Status;
      result->address = TraceAddress::FromV4(answer.Address);
      result->rtt = answer.RoundTripTime;
    }
  } else {
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6;
    sockaddr_in6 to = from;
    std::memcpy(&to.sin6_addr, address.bytes.data(), address.bytes.size());
    to.sin6_scope_id = address.scopeId;
    answers = icmp.send6(handle, nullptr, nullptr, nullptr, &from, &to, data.data(), static_cast<unsigned short>(dataSize),
                         &options, reply.data(), static_cast<DWORD>(reply.size()), timeout);
    if (answers != 0) answers = icmp.parse6(reply.data(), static_cast<DWORD>(reply.size()));
    ICMPV6_ECHO_REPLY answer;
    std::memcpy(&answer, reply.data(), sizeof answer);
    if (answers != 0) {
      status = answer.Status;
      result->address = TraceAddress::FromV6(reinterpret_cast<const std::uint8_t*>(answer.Address.sin6_addr),
                                             answer.Address.sin6_scope_id);
      result->rtt = answer.RoundTripTime;
    }
  }
  // The destination's echo reply and a router's time-exceeded are answers; an unreachable
  // (or other error) answer leaves the echo unanswered with its status.
  if (answers == 0) {
    result->status = GetLastError();
  } else if (status != IP_SUCCESS && status != IP_TTL_EXPIRED_TRANSIT) {
    result->status = status;
    result->address = TraceAddress{};
    result->rtt = 0;
  }
  {
    std::lock_guard<std::mutex> lock(m_echoLock);
    m_openEchoes.erase(handle);
    if (result->status == 0) {
      DWORD& slowest = m_answeredRtt[hop];
      slowest = std::max(slowest, result->rtt);
    } else if (result->status == ERROR_CANCELLED && m_hopsGivenUp.count(hop) != 0 && !m_cancelled) {
      result->status = IP_REQ_TIMED_OUT;  // given up: as silent as an echo that waited it out
    }
  }
  m_echoEnded.notify_all();
  icmp.close(handle);
  return 1;
}

std::optional<TraceAddress> CTraceRoute::ResolveTarget(const std::string& target, const EventSignal* cancel) {
  if (std::optional<TraceAddress> numeric = TraceAddress::Parse(target)) return numeric;
  // No host name has a colon: text with one is an address that does not parse.
  if (target.find(':') != std::string::npos) return std::nullopt;
  // IPv4 first, asked as before; the IPv6 addresses only of a name that has no IPv4 one.
  const NameLookup lookup(cancel);
  const std::vector<sockaddr_storage> v4 = lookup.Addresses(target, AF_INET);
  if (!v4.empty()) return TraceAddress::FromV4(reinterpret_cast<const sockaddr_in*>(&v4.front())->sin_addr.s_addr);
  const std::vector<sockaddr_storage> v6 = lookup.Addresses(target, AF_INET6);
  if (v6.empty()) return std::nullopt;
  const auto* address = reinterpret_cast<const sockaddr_in6*>(&v6.front());
  return TraceAddress::FromV6(address->sin6_addr.s6_addr, address->sin6_scope_id);
}

CTraceRoute::HopEchoes CTraceRoute::SendHop(const TraceAddress& address, int hop, DWORD timeout, int echoes) {
  HopEchoes sent;
  sent.sentAt = Clock::now();
  for (int echo = 0; echo < echoes; ++echo) {
    sent.echoes.push_back(std::async(std::launch::async, [=, this] {
      EchoOutcome outcome;
      outcome.sent = Ping(address, &outcome.result, hop, timeout, kDataSize);
      return outcome;
    }));
  }
  return sent;
}

void CTraceRoute::EndEchoes(bool over) {
  std::lock_guard<std::mutex> lock(m_echoLock);
  m_echoesOver = over;
  if (!over) {
    m_answeredRtt.clear();
    m_hopsGivenUp.clear();
    m_hopOpened.clear();
    return;
  }
  const IcmpCalls icmp = Icmp();
  // Each handle stays open while the lock is held: an echo closes it only after dropping it here.
  if (icmp.cancel)
    for (const auto& [handle, hop] : m_openEchoes) icmp.cancel(handle);
}

void CTraceRoute::GiveUpHopLocked(int hop) {
  m_hopsGivenUp.insert(hop);
  const IcmpCalls icmp = Icmp();
  if (icmp.cancel)
    for (const auto& [handle, of] : m_openEchoes)
      if (of == hop) icmp.cancel(handle);
}

CTraceRoute::EchoOutcome CTraceRoute::AwaitEcho(std::future<EchoOutcome>& echo, int hop, const HopEchoes& sent) {
  // An echo that ends wakes the wait; the slice covers an answer that lands just after the look.
  constexpr auto kSlice = std::chrono::milliseconds(5);
  while (echo.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    std::unique_lock<std::mutex> lock(m_echoLock);
    const auto later = m_answeredRtt.upper_bound(hop);
    const auto opened = m_hopOpened.find(hop);
    auto wakeAt = Clock::now() + kSlice;
    if (later != m_answeredRtt.end() && m_hopsGivenUp.count(hop) == 0 && opened != m_hopOpened.end() &&
        opened->second.first >= sent.echoes.size()) {
      const auto bound = std::chrono::milliseconds(
          std::max<DWORD>(kSilentWaitMinMs, static_cast<DWORD>(kSilentWaitFactor) * later->second));
      const auto from = std::max(sent.sentAt, opened->second.second);
      if (Clock::now() >= from + bound) {
        GiveUpHopLocked(hop);
        continue;
      }
      wakeAt = std::min(wakeAt, from + bound);
    }
    m_echoEnded.wait_until(lock, wakeAt);
  }
  return echo.get();
}

BOOL CTraceRoute::Trace(const std::string& target, std::vector<_TraceHopResult>* results, int maxHops, DWORD timeout,
                        int echoes, CTraceCallback* callback) {
  if (!IcmpInit()) return 0;
  m_targetFamily = AF_INET;  // until the target is known
  const std::optional<TraceAddress> resolved = ResolveTarget(target, &m_cancelSignal);
  if (!resolved) return 0;
  const TraceAddress address = *resolved;
  m_targetFamily = address.family;
  // Later hops are asked while earlier ones are still answering; their answers are taken in hop
  // order, and what is still on its way when the trace ends is cut short.
  EndEchoes(false);
  std::deque<HopEchoes> inFlight;
  int sentHops = 0;
  const auto sendAhead = [&](int hop) {
    while (m_hopsInFlight > 1 && sentHops < std::min(hop + m_hopsInFlight - 1, maxHops))
      inFlight.push_back(SendHop(address, ++sentHops, timeout, echoes));
  };
  const auto fail = [&](DWORD error) {
    SetLastError(error);
    EndEchoes(true);
    return 0;
  };
  int silentInARow = 0;
  for (int hop = 1; hop <= maxHops && !IsStop(); ++hop) {
    sendAhead(hop);
    HopEchoes sent;
    if (m_hopsInFlight > 1) {
      sent = std::move(inFlight.front());
      inFlight.pop_front();
    }
    _TraceHopResult hopResult{};
    DWORD total = 0;
    DWORD minimum = 0xFFFFFFFFu;
    DWORD maximum = 0;
    for (int echo = 1; echo <= echoes; ++echo) {
      EchoOutcome outcome;
      if (m_hopsInFlight > 1)
        outcome = AwaitEcho(sent.echoes[static_cast<std::size_t>(echo - 1)], hop, sent);
      else
        outcome.sent = Ping(address, &outcome.result, hop, timeout, kDataSize);
      if (!outcome.sent) return fail(GetLastError());
      if (IsCancelled()) return fail(ERROR_CANCELLED);
      const TraceEchoResult& echoResult = outcome.result;
      if (echoResult.status != 0) {
        hopResult.status = echoResult.status;  // the first unanswered echo ends the hop
        break;
      }
      echoResult.address.StoreIn(&hopResult);
      total += echoResult.rtt;
      minimum = std::min(minimum, echoResult.rtt);
      maximum = std::max(maximum, echoResult.rtt);
      if (callback && !callback->OnEcho(echo, echoResult)) return fail(ERROR_CANCELLED);
    }
    if (hopResult.status == 0 && echoes > 0) {
      hopResult.minRtt = minimum;
      hopResult.avgRtt = total / static_cast<DWORD>(echoes);
      hopResult.maxRtt = maximum;
    }
    if (TraceAddress::OfHop(hopResult) == address) SetStop(1);  // destination reached
    silentInARow = hopResult.status != 0 ? silentInARow + 1 : 0;
    if (silentInARow > kSilentHopLimit) SetStop(1);
    if (hop < maxHops - 2 || hop == maxHops - 1) {
      if (callback && !callback->OnHop(hop, hopResult)) return fail(ERROR_CANCELLED);
    } else if (hop >= maxHops && callback) {
      callback->OnMaxHops(hop);
    }
    results->push_back(hopResult);
  }
  EndEchoes(true);
  return 1;
}

void CTraceRoute::SetStop(BOOL stop) {
  CriticalSectionLock lock(m_stopLock);
  m_stop = stop;
}

BOOL CTraceRoute::IsStop() {
  CriticalSectionLock lock(m_stopLock);
  return m_stop;
}

void CTraceRoute::Cancel() {
  SetStop(1);
  {
    std::lock_guard<std::mutex> lock(m_echoLock);
    m_cancelled = true;
  }
  m_cancelSignal.Set();
  EndEchoes(true);
}

bool CTraceRoute::IsCancelled() {
  std::lock_guard<std::mutex> lock(m_echoLock);
  return m_cancelled;
}

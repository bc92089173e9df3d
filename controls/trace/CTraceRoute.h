#pragma once
#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/TraceHopResult.h"
#include "common/WinTypes.h"
#include "controls/trace/TraceAddress.h"
#include "controls/trace/TraceEchoResult.h"
#include "platform/CriticalSection.h"
#include "platform/EventSignal.h"
#include "platform/Handle.h"

class CTraceCallback;

// The tracer: echoes of growing time-to-live towards a target, hop by hop, through the ICMP
// library's calls looked up by name. Its stop flag is the route window's ready flag: set while
// no trace runs, cleared for a trace, set again by the trace itself when it reaches its
// destination or gives up after silent hops.
class CTraceRoute {
 public:
  static constexpr int kDataSize = 32;                // bytes of 'E' per echo
  static constexpr unsigned char kDataByte = 'E';
  static constexpr int kSilentHopLimit = 3;           // more silent hops in a row than this end a trace
  static constexpr int kHopsInFlight = 5;             // hops asked at once (15 echoes, as many as a peer's default)
  // Once a later hop has answered, a hop still silent is given up when this many times the round
  // trip of the nearest later hop that answered has passed since its echoes went out, and never
  // before kSilentWaitMinMs; it reads as timed out, as if its echoes had waited their whole timeout.
  static constexpr int kSilentWaitFactor = 10;
  static constexpr int kSilentWaitMinMs = 25;

  // Loads "ICMP.DLL" (once for the process) and looks up its calls; FALSE when any IPv4 call is
  // missing. Without the IPv6 calls only IPv6 targets fail.
  static BOOL IcmpInit();
  // true when no ICMP handle of the family can be had for want of privilege: the window holds no
  // capability, the capture helper refused (the user is not in the group pelorinpro) and the
  // system allows no ping socket.
  static bool IcmpDenied(int family = AF_INET);

  // One echo with the given time-to-live and timeout (ms) and dataSize bytes of 'E'. FALSE only
  // when no ICMP handle can be had; otherwise result holds the answer (a router's time-exceeded
  // counts) or the status of the echo that went unanswered.
  BOOL Ping(const TraceAddress& address, TraceEchoResult* result, int ttl, DWORD timeout, int dataSize);

  // Traces the route to target (an IPv4 or IPv6 address, or a host name) while the stop flag is clear,
  // appending one result per hop and reporting hops 1 .. maxHops - 3 and maxHops - 1 to the
  // callback; at maxHops the callback hears OnMaxHops instead. The echoes of the next hops go out
  // while a hop is being answered (see SetHopsInFlight); results and callbacks come in hop and
  // echo order all the same, and a hop's echoes after its first unanswered one do not count. FALSE (with the last error) when
  // the ICMP calls or the target cannot be had, an echo cannot be sent, the callback refuses
  // (ERROR_CANCELLED) or the trace was cancelled.
  BOOL Trace(const std::string& target, std::vector<_TraceHopResult>* results, int maxHops, DWORD timeout,
             int echoes, CTraceCallback* callback);

  // How many hops are asked at once: 1 sends one echo at a time, each after the answer to the
  // one before (slower by the sum of the round trips, with a whole timeout per silent hop).
  void SetHopsInFlight(int hops) { m_hopsInFlight = hops < 1 ? 1 : hops; }

  void SetStop(BOOL stop);
  BOOL IsStop();

  // From any thread: ends the echo or target lookup in progress at once, and every later trace of
  // this tracer.
  void Cancel();
  bool IsCancelled();

  // The target as an address: IPv4 or IPv6 text, else the first IPv4 address of a host-name
  // lookup, or its first IPv6 one when it has no IPv4 address; nothing when none of these gives
  // one (text with a colon is never looked up as a name), or when cancel ends the lookup's wait.
  static std::optional<TraceAddress> ResolveTarget(const std::string& target, const EventSignal* cancel = nullptr);
  // The family of the last trace's target.
  int TargetFamily() const { return m_targetFamily; }

 private:
  CriticalSection m_stopLock;
  BOOL m_stop = 1;

  struct EchoOutcome {
    BOOL sent = 0;
    TraceEchoResult result;
  };
  using Clock = std::chrono::steady_clock;
  struct HopEchoes {
    std::vector<std::future<EchoOutcome>> echoes;  // each on its way on a thread of its own
    Clock::time_point sentAt;
  };
  HopEchoes SendHop(const TraceAddress& address, int hop, DWORD timeout, int echoes);
  // With over, cuts short every echo on its way and every one about to start; else lets them run
  // and forgets the answers and the hops given up of the trace before.
  void EndEchoes(bool over);
  // The answer to one echo of hop; the hop is given up once later hops have answered long enough
  // before (see kSilentWaitFactor), counted from when the last of its echoes had its handle.
  EchoOutcome AwaitEcho(std::future<EchoOutcome>& echo, int hop, const HopEchoes& sent);
  // Cuts short the echoes of hop on their way and those about to start. Under m_echoLock.
  void GiveUpHopLocked(int hop);

  int m_hopsInFlight = kHopsInFlight;
  int m_targetFamily = AF_INET;
  std::mutex m_echoLock;  // the open ICMP handles, the answers so far and the flags that cut echoes short
  std::condition_variable m_echoEnded;  // an echo has ended
  std::map<HANDLE, int> m_openEchoes;    // and the hop of each
  std::map<int, DWORD> m_answeredRtt;    // the slowest answer of each hop answered, ms
  std::set<int> m_hopsGivenUp;
  // For each hop, how many of its echoes have had their handle and when the last one got it: a
  // handle can be slow to come (from the capture helper), and an echo not yet sent is not silent.
  std::map<int, std::pair<std::size_t, Clock::time_point>> m_hopOpened;
  bool m_cancelled = false;
  bool m_echoesOver = false;
  EventSignal m_cancelSignal;  // set by Cancel: ends the wait for the target's lookup
};

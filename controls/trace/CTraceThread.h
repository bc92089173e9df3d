#pragma once
#include <string>
#include <vector>

#include "common/TraceHopResult.h"
#include "common/WinTypes.h"
#include "controls/trace/CTraceRoute.h"
#include "controls/trace/CWhoIsQuery.h"
#include "platform/CriticalSection.h"
#include "platform/WorkerThread.h"

class DlgPelorinTrace;

// The route window's worker: traces, host vitals and whois queries, one at a time in the order
// the window posts them (1027 trace, 1028 host vitals of every point, 1029 of one point, 1030
// whois query). It writes its results straight into the window's controls.
//
// Stop() ends it within a bounded time: it cancels the echo, whois or name lookup wait in progress,
// so the handler returns at once, and joins the thread; nothing is suspended or killed.
class CTraceThread : public WorkerThread {
 public:
  static constexpr int kMaxHops = 128;
  static constexpr DWORD kEchoTimeout = 3000;  // ms
  static constexpr int kEchoesPerHop = 3;
  static constexpr char kTraceComplete[] = "Trace Complete.";
  static constexpr char kTraceFailed[] = "Trace Failed.";
  static constexpr char kNoIcmp[] =
      "Trace Failed: no ICMP socket. Join the group pelorinpro, or allow ping sockets (net.ipv4.ping_group_range).";
  static constexpr char kNotSpecified[] = "Ip/Host not specified.";
  static constexpr char kVitalsComplete[] = "Host Vitals Complete.";

  // Starts running at once; the ICMP calls are looked up as it starts.
  explicit CTraceThread(DlgPelorinTrace* window);
  ~CTraceThread() override;

  // Busy clear, waits cut short, thread joined. Safe to repeat.
  void Stop();
  void SetBusy(BOOL busy);
  BOOL IsBusy();

  CTraceRoute& Tracer() { return m_tracer; }
  const std::vector<_TraceHopResult>& Results() const { return m_results; }
  // The echo timeout of later traces; tests shorten it to keep silent hops quick.
  void SetEchoTimeout(DWORD ms) { m_echoTimeout = ms; }
  DWORD GetEchoTimeout() const { return m_echoTimeout; }

 protected:
  bool InitInstance() override;
  void OnThreadMessage(const ThreadMessage& message) override;

 private:
  void OnTrace(int preferHost);
  void OnHostVitalsAll();
  void OnHostVitalsOne(int index);
  void OnWhoIsQuery();
  // Fetches the whois text of one route point into its record; false when there is no server.
  bool HostVitals(int index);
  void EnableControls(bool enable);

  DlgPelorinTrace* m_window;
  CriticalSection m_busyLock;
  BOOL m_busy = 1;
  CTraceRoute m_tracer;
  std::vector<_TraceHopResult> m_results;
  DWORD m_echoTimeout = kEchoTimeout;
  CWhoIsQuery m_whois;
  std::string m_whoisServer;
  BOOL m_useHostNames = 0;
  BOOL m_preferHost = 0;
  std::string m_target;
};

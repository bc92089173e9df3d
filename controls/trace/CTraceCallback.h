#pragma once
#include <string>

#include "common/TraceHopResult.h"
#include "common/WinTypes.h"
#include "controls/trace/TraceEchoResult.h"
#include "platform/EventSignal.h"

class TraceRouteList;

// What the tracer tells the route window while it traces: each answered echo, then each hop.
// Returning FALSE from either cancels the trace (the tracer reports ERROR_CANCELLED).
class CTraceCallback {
 public:
  // Lines go to routeList; with none (tests of the tracer alone) the hops are only counted.
  explicit CTraceCallback(TraceRouteList* routeList = nullptr) : m_routeList(routeList) {}
  virtual ~CTraceCallback() = default;
  CTraceCallback(const CTraceCallback&) = delete;
  CTraceCallback& operator=(const CTraceCallback&) = delete;

  // The route list exists only once its window has its controls.
  void SetRouteList(TraceRouteList* routeList) { m_routeList = routeList; }
  // From any thread: a host-name lookup in progress ends at once without a name, as does every
  // later one (the window is closing).
  void Cancel() { m_cancel.Set(); }

  // Does nothing: the hop's line carries its figures.
  virtual BOOL OnEcho(int echo, const TraceEchoResult& result);
  // Adds the hop's line with a route point record, resolving the address to a host name when
  // every echo was answered, and selects it.
  virtual BOOL OnHop(int hop, const _TraceHopResult& result);
  // The trace went past its last hop: the line "Max hops exceeded", selected, without a record.
  virtual void OnMaxHops(int hop);

  // "%d - %d ms %s [%d.%d.%d.%d]" (with a host name) or "%d - %d ms %d.%d.%d.%d" for an
  // answered hop, an IPv6 one's address in its shortest text in the same place;
  // "**  %d - **Host unreachable or blocked :%d" otherwise.
  static std::string HopLine(int hop, const _TraceHopResult& result, const std::string& hostName);
  // The host name of an address by reverse lookup; empty when there is none, or when cancel ends
  // the wait for it.
  static std::string ReverseLookup(const TraceAddress& address, const EventSignal* cancel = nullptr);

  static constexpr char kMaxHopsLine[] = "Max hops exceeded";

 private:
  TraceRouteList* m_routeList;
  EventSignal m_cancel;
};

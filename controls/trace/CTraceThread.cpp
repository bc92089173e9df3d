#include "controls/trace/CTraceThread.h"

#include "common/Messages.h"
#include "controls/trace/DlgPelorinTrace.h"
#include "controls/trace/DlgPelorinTraceIds.h"
#include "ui/Button.h"

using namespace TraceIds;

CTraceThread::CTraceThread(DlgPelorinTrace* window) : WorkerThread("trace"), m_window(window) {
  CreateThread(false);
}

CTraceThread::~CTraceThread() { Stop(); }

void CTraceThread::Stop() {
  SetBusy(0);
  m_tracer.Cancel();
  m_whois.Cancel();
  m_window->Callback().Cancel();  // the host names of the hops
  EndThread();
}

void CTraceThread::SetBusy(BOOL busy) {
  CriticalSectionLock lock(m_busyLock);
  m_busy = busy;
}

BOOL CTraceThread::IsBusy() {
  CriticalSectionLock lock(m_busyLock);
  return m_busy;
}

bool CTraceThread::InitInstance() {
  CTraceRoute::IcmpInit();  // a missing library shows as "Trace Failed." later
  return true;
}

void CTraceThread::OnThreadMessage(const ThreadMessage& message) {
  if (!IsBusy()) return;
  switch (message.message) {
    case WM_PELORIN_TRACE:
      OnTrace(static_cast<int>(message.wParam));
      break;
    case WM_PELORIN_HOST_VITALS_ALL:
      OnHostVitalsAll();
      break;
    case WM_PELORIN_HOST_VITALS_ONE:
      OnHostVitalsOne(static_cast<int>(message.wParam));
      break;
    case WM_PELORIN_WHOIS:
      OnWhoIsQuery();
      break;
    default:
      break;
  }
}

void CTraceThread::EnableControls(bool enable) {
  for (int id : {IDC_BUTTON_TRACE, IDC_BUTTON_HOST_VITALS, IDC_BUTTON_QUERY, IDC_LIST_ROUTE, IDC_CHECK_USE_HOST_NAMES,
                 IDC_CHECK_AUTO_VITALS})
    if (Window* control = m_window->GetDlgItem(id)) control->EnableWindow(enable);
}

void CTraceThread::OnTrace(int preferHost) {
  EnableControls(false);
  TraceRouteList& routes = m_window->RouteList();
  m_preferHost = preferHost;
  const std::string host = m_window->GetDlgItemText(IDC_EDIT_TRACE_HOST);
  m_target = m_preferHost && !host.empty() ? host : m_window->GetDlgItemText(IDC_IPADDRESS_TRACE);
  // An empty address field reads 0.0.0.0: there is nothing to trace then.
  if (!m_tracer.IsStop() || m_target.empty() || m_target == "0.0.0.0") {
    routes.AddStatusLine(kNotSpecified);
  } else {
    m_results.clear();
    m_tracer.SetStop(0);
    m_window->SetDlgItemText(IDC_STATIC_STATUS, "");
    const BOOL traced =
        m_tracer.Trace(m_target, &m_results, kMaxHops, m_echoTimeout, kEchoesPerHop, &m_window->Callback());
    routes.AddStatusLine(traced ? kTraceComplete : CTraceRoute::IcmpDenied(m_tracer.TargetFamily()) ? kNoIcmp : kTraceFailed);
    // Ready again however the trace ended, so that the window's commands work on.
    m_tracer.SetStop(1);
  }
  EnableControls(true);
}

bool CTraceThread::HostVitals(int index) {
  m_whoisServer = m_window->GetDlgItemText(IDC_COMBO_WHOIS_SERVERS);
  if (m_whoisServer.empty()) return false;
  TraceRouteList& routes = m_window->RouteList();
  const TraceRouteList::Point point = routes.PointAt(index);
  if (!point.valid) return true;  // a status line
  routes.Select(index);
  m_whois.SetServer(m_whoisServer);
  m_useHostNames = m_window->IsDlgButtonChecked(IDC_CHECK_USE_HOST_NAMES);
  // A point without a host name is asked for by its address.
  const std::string& text = m_useHostNames && !point.hostName.empty() ? point.hostName : point.address;
  std::string shown = CWhoIsQuery::BuildQuery(m_window->GetDlgItemText(IDC_EDIT_WHOIS_QUERY), text);
  shown.resize(shown.size() - 2);  // without the line end
  m_window->SetDlgItemText(IDC_STATIC_STATUS, m_whoisServer + "->" + shown);
  std::string answer = m_whois.Query(text + "\r\n");
  if (answer.size() < 4) answer += CWhoIsQuery::kNotAvailable;
  routes.SetDetail(index, CWhoIsQuery::ToCrLf(answer));
  return true;
}

void CTraceThread::OnHostVitalsAll() {
  EnableControls(false);
  TraceRouteList& routes = m_window->RouteList();
  const int count = routes.Count();
  for (int index = 0; index < count && IsBusy(); ++index) {
    if (!routes.PointAt(index).valid) continue;  // a status line
    if (!HostVitals(index)) break;
    m_window->SetDlgItemText(IDC_RICHEDIT_VITALS, routes.Detail(index));
  }
  routes.AddStatusLine(kVitalsComplete);
  EnableControls(true);
}

void CTraceThread::OnHostVitalsOne(int index) {
  TraceRouteList& routes = m_window->RouteList();
  if (HostVitals(index)) m_window->SetDlgItemText(IDC_RICHEDIT_VITALS, routes.Detail(index));
}

void CTraceThread::OnWhoIsQuery() {
  EnableControls(false);
  m_whoisServer = m_window->GetDlgItemText(IDC_COMBO_WHOIS_SERVERS);
  const std::string query = m_window->GetDlgItemText(IDC_EDIT_WHOIS_QUERY);
  if (!m_whoisServer.empty() && !query.empty()) {
    m_window->SetDlgItemText(IDC_STATIC_STATUS, m_whoisServer + "->" + query);
    m_whois.SetServer(m_whoisServer);
    std::string answer = m_whois.Query(query + "\r\n");
    if (answer.empty()) answer = CWhoIsQuery::kTimeout;
    m_window->SetDlgItemText(IDC_RICHEDIT_VITALS, CWhoIsQuery::ToCrLf(answer));
  }
  EnableControls(true);
}

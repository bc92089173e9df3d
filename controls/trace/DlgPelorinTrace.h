#pragma once
#include <memory>
#include <optional>
#include <string>

#include "common/MonListMonItemDataIp.h"
#include "common/WinTypes.h"
#include "controls/trace/CTraceCallback.h"
#include "controls/trace/TraceRouteList.h"
#include "ui/Dialog.h"

class AppProfile;
class CTraceThread;
class ListBox;

// The route window "Ip Route(s)": traces the route to a host, lists one line per route point,
// fetches whois texts (host vitals) for route points and sends free whois queries. The network
// work runs on its CTraceThread; the window only posts the commands.
//
// It creates and shows itself as it is constructed (modeless) and lives until "Done", when it
// stops its worker, saves its settings and the whois server list and asks its owner (the parent
// list) to destroy it with WM_PELORIN_CLOSE_WINDOW.
class DlgPelorinTrace : public Dialog {
 public:
  static constexpr char kCaption[] = "Ip Route(s)";

  // address: a connections-row shaped record whose second field (localAddr) holds the address
  // to trace, or null; an IPv6 address, which the record cannot hold, comes as address6Text in
  // its place. preferHost goes with every trace: the host name field wins over the address when
  // it is not empty.
  DlgPelorinTrace(Window* parentList, AppProfile* app, const _MonListMonItemDataIp* address, int preferHost,
                  const std::string& address6Text = {});
  ~DlgPelorinTrace() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  void OnOK() override { OnTrace(); }   // "Trace" is the dialog's OK button
  void OnCancel() override { OnDone(); }  // "Done", and closing the window

  void OnTrace();
  void OnHostVitals();
  void OnQuery();
  void OnAddServer();
  void OnDone();

  // Shared with the worker.
  TraceRouteList& RouteList() { return *m_routeList; }
  CTraceCallback& Callback() { return m_callback; }
  CTraceThread* GetThread() const { return m_thread.get(); }
  // The ready flag: the tracer's stop flag.
  bool IsReady() const;

 private:
  void MapHandlers();
  void OnRouteSelChange();
  void OnRouteDblClk();
  void SaveSettings();
  // The combo's text becomes its current entry (added when new).
  void SelectServerText();
  void StopWorker();

  AppProfile* m_app;
  Window* m_parentList;
  std::optional<std::string> m_address;  // the text of the address the window was opened on
  int m_preferHost;
  bool m_autoHostVitals = false;
  bool m_done = false;
  std::unique_ptr<TraceRouteList> m_routeList;
  CTraceCallback m_callback;
  std::unique_ptr<CTraceThread> m_thread;
};

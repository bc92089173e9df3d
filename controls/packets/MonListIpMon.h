#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/WinTypes.h"
#include "controls/framework/PelorinCListView.h"
#include "controls/packets/PacketRowItems.h"
#include "controls/packets/PacketWindowRequest.h"
#include "controls/packets/SocketOwnerCache.h"
#include "platform/CriticalSection.h"

class AppProfile;
class MonListIpMonCWinThread;

// The packet pane: one row per captured or reloaded packet, fed by its capture thread
// (MonListIpMonCWinThread), which it creates with the list and keeps for the pane's life.
//
// Columns: "Type", "Size", "From", "Port", "To", "Port", "Date        Time", "Status", stored with
// each row, and "Process", made when a row is drawn: the process that owns the packet's TCP or
// UDP endpoint on this machine, from a snapshot of the endpoint tables that a thread of the
// pane's own keeps fresh (SocketOwnerCache); empty when no local socket matches. Each row carries
// a _ShowPacketReceivePackIp (row number, record position, type code), freed with it.
//
// From the selected row it opens the windows that inspect a packet (view, feed, compare, link
// monitor, route, firewall address). Opening goes through the virtual OpenPacketWindow, which the
// window classes' code overrides; the pane builds the request, remembers the window returned in
// its window arrays and owns it until it closes. A row whose status is "NoLog" opens no window
// except the link monitor. A command that needs a row and finds none says so in the frame's
// status bar: the capture thread clears the rows at each page, and the selection with them.
//
// The pane follows its newest rows while the user has not scrolled up or selected a row.
//
// Sorting by a column works while capture is stopped and does nothing while it runs, so that
// new rows are always appended in arrival order.
class MonListIpMon : public PelorinCListView {
 public:
  static constexpr int kColumnCount = 8;  // the columns made from each row's record
  static constexpr int kProcessColumn = 8;
  static constexpr int kNextButton = 2084;
  static constexpr int kPrevButton = 2085;
  static constexpr char kCaptionSuffix[] = " - Pelorin Monitor";
  // The status bar's word when a row command finds no selected row.
  static constexpr char kRowGoneText[] =
      "The packet you selected is no longer in the list (its page was cleared): select a packet again";
  static constexpr char kNoRowText[] = "No packet is selected: click a packet first";

  // app is the application's profile; registryPath the monitor's registry path (the filters key
  // lies below it); title the pane's title for the frame caption.
  MonListIpMon(AppProfile* app, std::string registryPath, std::string title);
  ~MonListIpMon() override;

  // Creates the list, its capture thread (page size from "LogPageSize", scan period from
  // "ScanIpMon" seconds) and the eight columns. 0, or E_FAIL when the window or the thread
  // cannot be created.
  virtual LONG MonListCreate(Window* parent, UINT id, const Rect& rect);

  void ProcessClose() override;
  // Capture on: clears the rows and waits (at most 500 ms) until the thread captures. Always 0.
  LONG ListStart() override;
  // Capture off; the rows stay.
  void ListStop() override;
  // Clears the rows and the sort state (user-interface thread).
  void ListDeleteAll() override;
  // The capture thread's clear: rows with their records, the row counter and the sort state. The
  // clicked item and column belong to the user-interface thread and are left to it.
  void ListDeleteRows();
  // The rows' items: the capture thread takes them here, deleted rows give them back.
  PacketRowItems& RowItems() { return m_rowItems; }
  void FreeRecord(void* record) override { m_rowItems.Give(record); }
  // Closes one window the pane opened (the window's close request, message 1025).
  void ListDlgClose(Window* dialog) override;

  virtual void SetStop(int stop);
  virtual int IsStop();
  virtual void IpSetProperties();
  virtual void EnableNextPrev(int enable);
  virtual void DlgClose(DWORD) {}

  // Commands on the selected row.
  void MonListIpView();
  void MonListView();
  void MonListCompare();
  void MonListCompareAdd();
  void MonListIpViewMon();
  void MonListIpTrace(int fromScanMenu);
  void ListDlgCloseAll();
  // Deferred clear: the capture thread clears the rows and empties the packet log.
  void SetDeleteAll(int, int);
  // Back to arrival order (ascending row number); clears the sort state.
  void SortByRow();
  void SetClose();

  // The shell's switches and page reload, passed to the capture thread (nothing without one).
  // Filtering of live packets on or off.
  void ApplyFilters(int on);
  int GetApplyFilters();
  // Monitor Exclusive on or off; set while capture is stopped or about to start.
  void SetMonitorExclusive(int on);
  // Refills the rows with one page of the packet log from the record at position (-1: the
  // first record): sets the load-start position and posts the reload to the capture thread.
  void LoadLastLog(LONG position = -1);

  BOOL ListDlgIsPktView(Window* dialog) const;
  BOOL ListDlgIsMonView(Window* dialog) const;

  MonListIpMonCWinThread* GetCaptureThread() const;
  // Where the records of the rows that have one in the log (not "NoLog") are, top to bottom: of
  // the selected rows, or of every row shown.
  struct LoggedRecord {
    std::uint32_t file;  // number in the log's set
    LONG position;
  };
  std::vector<LoggedRecord> LoggedRecords(bool selectedOnly) const;
  SocketOwnerCache* GetOwnerCache() const { return m_owners.get(); }
  AppProfile* GetApp() const { return m_app; }
  const std::string& GetRegistryPath() const { return m_registryPath; }
  const std::string& GetTitle() const { return m_title; }

  bool IsSorted() const { return m_sortAscending.load() || m_sortDescending.load(); }
  bool IsSortAscending() const { return m_sortAscending.load(); }
  bool IsSortDescending() const { return m_sortDescending.load(); }
  // Sorts by a column in the given direction (numbers for "Size" and the ports, text otherwise;
  // equal rows keep arrival order) and records the direction.
  void SortByColumn(int column, bool descending);
  // The direction the next column click gives (shared by every packet pane): true = descending.
  static bool NextSortDescending();

  Window* GetFeedWindow() const { return m_feed; }
  Window* GetCompareWindow() const { return m_compare; }
  Window* GetRouteWindow() const { return m_route; }
  Window* GetLastPacketView() const { return m_lastView; }
  const std::vector<Window*>& PacketWindows() const { return m_packetWindows; }
  const std::vector<Window*>& MonitorWindows() const { return m_monWindows; }

  // The last request a command built (also when it opened nothing) and how many were built.
  const PacketWindowRequest& LastRequest() const { return m_lastRequest; }
  int RequestCount() const { return m_requestCount; }

 protected:
  // Opens the window a command asks for and returns it, or null when none was opened; the pane
  // takes the window over (it deletes it when it closes) and, for a packet window, calls nothing
  // more: the window initialises itself (OnInitStartup) here. For CompareAdd the packet is added
  // to request.compare; for FirewallAddress the dialog runs modally here; both return null.
  // The route window comes from controls/trace; the packet view, feed and compare windows from
  // controls/inspect.
  virtual Window* OpenPacketWindow(const PacketWindowRequest& request);

  // Every cell is made when it is read: the eight from the row's record, the process from the
  // socket owners' snapshot.
  bool CallbackText(const ListRow& row, int subItem, std::string* text) const override;
  void OnColumnclick(const ListNotify& notify, LRESULT* result) override;
  void OnDblclk(const ListNotify& notify, LRESULT* result) override;
  void OnReturn(const ListNotify& notify, LRESULT* result) override;
  void OnSetFocus(Window* oldWindow) override;
  // The capture thread's word that logging stopped becomes one message box.
  bool PreTranslateMessage(const WindowMessage& message) override;

 private:
  struct SelectedRow {
    int row = -1;
    std::string status;
  };
  SelectedRow Selected() const;
  // The selected row of a command that needs one; without one the frame's status bar says why.
  SelectedRow RowForCommand();
  PacketWindowRequest BaseRequest(PacketWindowKind kind, int row);
  Window* Request(const PacketWindowRequest& request);
  Window* FrameOf();
  void Withdraw(Window* window);
  void CloseWindow(Window* window, std::vector<Window*>& array);
  // Waits up to timeoutMs until condition holds; true when it does.
  template <typename Condition>
  static bool WaitFor(Condition condition, int timeoutMs);

  AppProfile* m_app;
  std::string m_registryPath;
  std::string m_title;

  Window* m_lastView = nullptr;
  Window* m_feed = nullptr;
  Window* m_compare = nullptr;
  Window* m_route = nullptr;
  std::vector<Window*> m_packetWindows;  // views, feed, compare, route; owned
  std::vector<Window*> m_monWindows;     // link monitors; owned

  // Written by the capture thread too (it clears the rows and restores arrival order).
  std::atomic<bool> m_sortAscending{false};
  std::atomic<bool> m_sortDescending{false};

  CriticalSection m_stopLock;
  int m_stop = 0;

  PacketWindowRequest m_lastRequest;
  int m_requestCount = 0;

  PacketRowItems m_rowItems;
  std::unique_ptr<SocketOwnerCache> m_owners;  // from MonListCreate on
};

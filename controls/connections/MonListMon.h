#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/LinkAddresses6.h"
#include "common/MonListMonItemData.h"
#include "common/WinTypes.h"
#include "controls/framework/PelorinCListView.h"

class AppProfile;
class PelorinCThreadMonListMon;

// The connections pane: one row per TCP or UDP endpoint of the machine, filled by its own
// scanner thread. It creates its columns and its scanner, starts and stops the scan, frees the
// row records, selects the rows related to a clicked row, sorts by a column while the scan is
// stopped, and builds the link monitor title and record and the firewall rule record of a row.
//
// Row records (_MonListMonItemData with its _MonListMonLogLink) are written by the scanner and
// read here; both sides hold RecordsLock() while they touch a record or the rows' order.
class MonListMon : public PelorinCListView {
 public:
  static constexpr int kColumnCount = 10;

  MonListMon(AppProfile* application, std::string nameText, std::string captionText);
  ~MonListMon() override;

  // Creates the control, its icons, its scanner and its ten columns. 0, E_FAIL or E_UNEXPECTED.
  virtual LONG MonListCreate(Window* parent, UINT id, const Rect& rect);
  virtual void ListDlgCloseAll();
  // Opens the firewall rule editor for the current row's remote address.
  virtual void IpSetProperties();
  // Opens a link monitor for the current row.
  void MonListMonIpView();

  void ProcessClose() override;
  LONG ListStart() override;
  void ListStop() override;
  void FreeItemData(int row) override;
  void ListDeleteAll() override;
  void ListDlgClose(Window* dialog) override;

  void SetShowCurrentOnly(BOOL show);
  BOOL IsShowCurrentOnly();
  void SetClose();
  // Asks the scanner to clear the list and empty the log (whatever the argument).
  void SetDeleteAll(BOOL deleteAll);
  // Adds every other row of the same type and endpoint to the selection; their number.
  LONG ListSelectRelated(int row);
  // Back to the order in which the rows were made.
  void SortByRow();
  // Asks the scanner to refill the list from the connection log (between two passes).
  void LoadLastLog();

  PelorinCThreadMonListMon* Scanner() const;
  AppProfile* Application() const { return m_application; }
  const std::string& NameText() const { return m_nameText; }
  const std::string& CaptionText() const { return m_captionText; }
  bool IsSortedAscending() const { return m_sortedAscending.load(); }
  bool IsSortedDescending() const { return m_sortedDescending.load(); }

  // What the last link monitor and firewall commands built (their windows come later).
  const std::string& LastIpViewTitle() const { return m_lastIpViewTitle; }
  const _MonListMonItemDataIp& LastIpViewRecord() const { return m_lastIpViewRecord; }
  const _MonListMonItemData& LastFirewallRecord() const { return m_lastFirewallRecord; }
  const std::vector<Window*>& OpenWindows() const { return m_openWindows; }
  Window* LastWindow() const { return m_lastWindow; }

  // Held by the scanner while it works on a row, and here while records are read, freed or
  // the rows reordered.
  std::recursive_mutex& RecordsLock() const { return m_recordsLock; }
  // How many times the list was cleared (read under RecordsLock).
  std::uint64_t ClearCount() const { return m_clearCount.load(); }

  // The comparison of two rows for a column sort: -1, 0, 1 ascending, reversed descending,
  // ties broken by creation order.
  static int CompareRows(const ListRow& a, const ListRow& b, int column, bool descending);

 protected:
  // The scanner this pane runs (a test may give one of its own).
  virtual std::unique_ptr<PelorinCThreadMonListMon> CreateScanner();
  // The link monitor window for a row, owned by this pane from here on; link6 holds the
  // addresses of an IPv6 row.
  virtual Window* OpenLinkMonitor(const std::string& title, const _MonListMonItemDataIp& link,
                                  const std::optional<LinkAddresses6>& link6);
  // The firewall rule dialog for an address: none exists yet.
  virtual void OpenFirewallRule(const _MonListMonItemData& record);

  void FreeRecord(void* record) override;

  void OnClick(const ListNotify& notify, LRESULT* result) override;
  void OnRclick(const ListNotify& notify, LRESULT* result) override;
  void OnColumnclick(const ListNotify& notify, LRESULT* result) override;
  void OnDblclk(const ListNotify& notify, LRESULT* result) override;
  void OnSetFocus(Window* oldWindow) override;
  void OnContextMenu(Window* window, Point screenPoint) override;
  void OnReturn(const ListNotify& notify, LRESULT* result) override;

 private:
  void SortByColumn(int column);

  AppProfile* m_application = nullptr;
  std::string m_nameText;
  std::string m_captionText;
  // Cleared by the scanner too, when it empties the list.
  std::atomic<bool> m_sortedAscending{false};
  std::atomic<bool> m_sortedDescending{false};
  int m_sortColumn = -1;

  std::vector<Window*> m_openWindows;  // link monitor windows this pane opened, owned
  Window* m_lastWindow = nullptr;
  std::string m_lastIpViewTitle;
  _MonListMonItemDataIp m_lastIpViewRecord{};
  _MonListMonItemData m_lastFirewallRecord{};


  mutable std::recursive_mutex m_recordsLock;
  std::atomic<std::uint64_t> m_clearCount{0};

  // The next column sort descends; shared by every connections pane.
  static std::atomic<bool> s_descendNext;
};

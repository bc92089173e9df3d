#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "common/LogPagesItemData.h"
#include "common/WinTypes.h"
#include "ui/Dialog.h"
#include "ui/ListNotify.h"
#include "wincap/LogPagesScan.h"
#include "wincap/LogScanThread.h"

class ListControl;

// The modal "Log Pages" dialog: divides a packet log into pages of a fixed number of records and
// lists each page with the position and the date and time of its first record, then the totals.
// The user picks a page (click and OK, or a double click), which the caller then loads.
//
// The pages are listed by a thread of the dialog's own over the log opened by name, read-only:
// rows appear as the walk goes, the totals line tells how much of the log has been read until it
// shows the totals, and the capture thread is never held up.
class DlgPelorinLogPages : public Dialog {
 public:
  static constexpr int IDC_GROUP_PAGES = 3001;
  static constexpr int IDC_LIST_PAGES = 3002;
  static constexpr int IDC_EDIT_TOTALS = 3003;
  static constexpr LONG kDefaultPageSize = 250;

  // No log, page size 250.
  explicit DlgPelorinLogPages(Window* parent);
  // The pages of the log at logPath; pageSize is clamped to 25..10000.
  DlgPelorinLogPages(Window* parent, const std::string& logPath, LONG pageSize);
  ~DlgPelorinLogPages() override;

  static DialogTemplate MakeTemplate();

  // The columns "Page", "File Position", "Date        Time".
  void ListCreate();
  // Starts listing the pages of the log; false when it cannot be opened.
  bool ShowPages();
  bool IsListing() const { return m_scan.IsStarted() && !m_finished; }
  LONG GetPageSize() const { return m_pageSize; }

  // The page chosen with OK, or nothing.
  std::optional<_LogPagesItemData> GetSelectedPage() const { return m_chosen; }
  // The number of that page's file in the log's numbered set.
  std::uint32_t GetSelectedFile() const { return m_chosenFile; }

  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 protected:
  virtual void OnClickListPages(const ListNotify& notify, LRESULT* result);
  virtual void OnDblclkListPages(const ListNotify& notify, LRESULT* result);
  bool OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) override;
  void OnTimer(UINT id) override;

 private:
  ListControl* List() const;
  // Stores a row's page and position as the clicked page; false for no row.
  bool TakeRow(int row);
  // Takes the pages found so far into the list; shows the totals once the walk is over.
  void ShowFound();
  void StopListing();

  std::string m_logPath;
  LONG m_pageSize = kDefaultPageSize;
  int m_lastRow = -1;  // the last inserted row
  _LogPagesItemData m_clicked{-1, -1};
  std::optional<_LogPagesItemData> m_chosen;
  std::uint32_t m_clickedFile = 0;
  std::uint32_t m_chosenFile = 0;
  bool m_finished = true;
  LogPagesTotals m_totals;  // written by the walk, read once it has finished
  LogScanThread<LogPageRow> m_scan;  // last: stopped before what it writes goes
};

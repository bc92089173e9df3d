#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/LogFind.h"
#include "common/WinTypes.h"
#include "ui/Dialog.h"
#include "ui/ListNotify.h"
#include "wincap/LogFindCriteria.h"
#include "wincap/LogFindSearch.h"
#include "wincap/LogScanThread.h"

class AppProfile;
class ListControl;

// The modal "Find" dialog: searches a whole packet log for the records that meet any of the
// user's criteria (a text, hex bytes, an address or address range, a size range) and lists one
// row per record with its page, its place in the page, its file position, its type, what matched
// and its size. "Load From" ends the dialog with the chosen row, which the caller then loads.
//
// The search runs on a thread of the dialog's own over the log opened by name, read-only, so it
// never holds up the capture thread nor the user interface: rows appear as they are found, a
// line under the list tells how much of the log has been searched, and "Find" reads "Stop" while
// a search runs. Done, Load From and closing the dialog stop the search first.
//
// A window that derives from it may add to what a row does (open a packet on a double click):
// the list handlers are virtual, and the list, the clicked row and the selection are reachable.
class DlgPelorinFind : public Dialog {
 public:
  static constexpr int IDC_LIST_PACKETS = 3004;
  static constexpr int IDC_EDIT_TEXT = 3005;
  static constexpr int IDC_EDIT_HEX = 3006;
  static constexpr int IDC_IP_FROM = 3007;
  static constexpr int IDC_BUTTON_RESET = 3008;
  static constexpr int IDC_BUTTON_LOAD_FROM = 3009;
  static constexpr int IDC_IP_TO = 3010;
  static constexpr int IDC_CHECK_DISTINCT = 3011;
  static constexpr int IDC_EDIT_SIZE_MIN = 3012;
  static constexpr int IDC_EDIT_SIZE_MAX = 3013;
  static constexpr int IDC_STATIC_PROGRESS = 3014;  // how far the search has got
  static constexpr LONG kDefaultPageSize = 256;
  static constexpr char kInvalidLogTitle[] = "Invalid data packet log file";

  // An empty dialog (no log, no profile) with page size 256.
  explicit DlgPelorinFind(Window* parent);
  // The dialog over the log at logPath; pageSize is clamped to 25..10000.
  DlgPelorinFind(Window* parent, AppProfile* application, const std::string& logPath, LONG pageSize);
  ~DlgPelorinFind() override;

  static DialogTemplate MakeTemplate();

  // The six columns "Page #", "Packet #", "File Pos.", "Type", "Matched", "Size".
  void ListCreate();
  // Starts the search over the log with the criteria last read from the controls: empties the
  // list and the selection first. False when the log cannot be opened (the list stays empty).
  bool Find();
  bool IsSearching() const { return m_scan.IsStarted() && !m_finished; }
  // Appends one result row.
  virtual void ShowPacket(const LogFindHit& hit);

  // The row chosen with "Load From", or nothing.
  std::optional<_LogFind> GetSelectedPage() const { return m_selected; }
  // The number of that record's file in the log's numbered set.
  std::uint32_t GetSelectedFile() const { return m_selectedFile; }
  // Fills the selection from the clicked row's texts; 0 when no row is clicked.
  int LoadSelectedPage();
  // The record a result row names, read back from its texts; false for no such row.
  bool RowRecord(int row, _LogFind* found) const;
  // The number of the row's file in the log's numbered set (0 for no row).
  std::uint32_t RowFile(int row) const;
  const std::string& LogGet() const { return m_logPath; }
  LONG GetPageSize() const { return m_pageSize; }
  const LogFindCriteria& GetCriteria() const { return m_criteria; }
  bool IsDistinct() const { return m_distinct; }

  // For derived windows: the result list, the row and column last clicked (-1 when none).
  ListControl* GetResultList() const;
  int GetSelectedRow() const { return m_selectedRow; }
  int GetSelectedColumn() const { return m_selectedColumn; }

  // Asked by a window this one opened to close it (message 1025); nothing to do here.
  virtual void ListDlgClose(Window* window);

  bool OnInitDialog() override;
  void OnOK() override;      // "Find", or "Stop" while a search runs
  void OnCancel() override;  // "Done" and the system close
  void OnReset();
  void OnLoadFrom();
  void OnDistinct();

 protected:
  virtual void OnClickListPackets(const ListNotify& notify, LRESULT* result);
  virtual void OnDblclkListPackets(const ListNotify& notify, LRESULT* result);
  bool OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnTimer(UINT id) override;

 private:
  void MapButtons();
  void ReadCriteria();
  void SaveCriteria();
  void PutCriteria();
  // Takes the rows found so far into the list; ends the search's display when it is over.
  void ShowFound();
  void StopSearch();
  void SetProgressText(const std::string& text);

  AppProfile* m_application = nullptr;
  std::string m_logPath;
  LONG m_pageSize = kDefaultPageSize;
  LogFindCriteria m_criteria;
  bool m_distinct = false;
  int m_selectedRow = -1;
  int m_selectedColumn = -1;
  std::optional<_LogFind> m_selected;
  std::uint32_t m_selectedFile = 0;
  bool m_clearSelectionOnClose = true;  // false while "Load From" ends the dialog
  bool m_finished = true;
  long m_rowsShown = 0;
  std::unique_ptr<LogFindSearch> m_search;
  LogScanThread<LogFindHit> m_scan;  // last: stopped before the search it runs goes
};

#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/ImageList.h"
#include "ui/ListColumn.h"
#include "ui/ListNotify.h"
#include "ui/ListRow.h"
#include "ui/Window.h"

// The report list control on which every monitor pane is built.
//
// Thread-safe: worker threads insert rows, set texts, images and item data directly while the
// user-interface thread reads and draws. One lock guards rows and columns, and every call is
// atomic on its own (a row inserted by one call may have moved by the next call when another
// thread inserts into a sorted list).
//
// Styles: LVS_SINGLESEL (0x4) keeps at most one row selected; LVS_SORTASCENDING (0x10) and
// LVS_SORTDESCENDING (0x20) place each inserted row by its first-column text (case-blind; equal
// texts keep their arrival order) whatever index it is given; the style may change at run time,
// which leaves the present rows where they are. Extended style LVS_EX_FULLROWSELECT (0x20).
//
// A row may also be inserted whole (InsertRow: every text and the item data in one step), so that
// no reader sees it half filled and a fast worker takes the lock once per row.
//
// Item data is one value per row that the list hands back and never frees: whoever deletes a
// row frees what its data points to.
//
// Notifications (click, double click, right click, Enter, column click, item changed) reach the
// virtual handlers below on the user-interface thread; a subclass overrides them. The base
// handlers pass each notification on to the parent window's OnNotify. Selection changes made on
// the user-interface thread notify at once; those made by other threads are posted.
class ListControl : public Window {
 public:
  ListControl() = default;
  ~ListControl() override;

  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id);

  DWORD SetExtendedStyle(DWORD exStyle);  // returns the previous one
  DWORD GetExtendedStyle() const { return GetExStyle(); }

  // Columns.
  int InsertColumn(int index, const ListColumn& column);
  int InsertColumn(int index, const std::string& title, int format = LVCFMT_LEFT, int width = -1, int subItem = -1);
  bool DeleteColumn(int index);
  int GetColumnCount() const;
  bool GetColumn(int index, ListColumn* column) const;
  bool SetColumn(int index, const ListColumn& column);
  int GetColumnWidth(int index) const;
  bool SetColumnWidth(int index, int width);
  std::vector<int> GetColumnOrderArray() const;
  bool SetColumnOrderArray(const std::vector<int>& order);
  // Width of a text in the list's font, in pixels.
  int GetStringWidth(const std::string& text) const;

  // Rows. InsertItem returns the row's actual index (sorted lists place it by its text), or -1.
  int GetItemCount() const;
  int InsertItem(int index, const std::string& text, int image = -1);
  int InsertItem(int index, const std::string& text, int image, DWORD_PTR data);
  // The whole row at once: texts[i] is sub-item i's text and texts[0] places the row in a sorted
  // list, as InsertItem with texts[0] followed by SetItemText for the others and SetItemData
  // would do, in one locked step. Returns the row's actual index, or -1.
  int InsertRow(int index, std::span<const std::string_view> texts, DWORD_PTR data, int image = -1);
  // Rows a worker has filled outside the lock, appended in one locked step (a sorted list places
  // each by its first text, as InsertRow does); rows is left empty. False, with the rows left as
  // they were, when the list is not created.
  bool InsertRows(std::vector<ListRow>* rows);
  bool DeleteItem(int item);
  bool DeleteAllItems();
  // Deletes every row and hands back, in the same atomic step, the non-zero item data they held,
  // so that rows a worker adds meanwhile are neither lost nor freed twice.
  bool DeleteAllItems(std::vector<DWORD_PTR>* takenData);
  bool SetItemText(int item, int subItem, const std::string& text);
  // The text as drawn: the stored one, or the one CallbackText makes.
  std::string GetItemText(int item, int subItem) const;
  // The same for a row handed to a ReadRow reader.
  std::string CellText(const ListRow& row, int subItem) const;
  bool SetItemData(int item, DWORD_PTR data);
  DWORD_PTR GetItemData(int item) const;
  bool SetItemImage(int item, int image);
  int GetItemImage(int item) const;
  bool GetRow(int item, ListRow* row) const;
  // Calls read with the row while the rows are locked: what its item data points to stays valid
  // for the call, since whoever deletes a row frees its data only after taking it out. read must
  // not call the list. False when there is no such row.
  bool ReadRow(int item, const std::function<void(const ListRow&)>& read) const;

  // States. item -1 means every row. GetNextItem(-1, LVNI_SELECTED) is the first selected row.
  bool SetItemState(int item, UINT state, UINT mask);
  UINT GetItemState(int item, UINT mask) const;
  int GetNextItem(int start, int flags) const;
  int GetSelectedCount() const;
  // The selected rows as the user copies them: a line per row, top to bottom, its cells as drawn
  // in the columns' shown order, separated by tabs.
  std::string SelectedRowsText() const;
  // Puts them on the clipboard (the copy keys); with no row selected the clipboard keeps what it
  // had and the answer is false.
  bool CopySelectedRows() const;

  // Sorting. The comparison sees item data (SortItems) or whole rows (SortRows) and must not
  // call back into the list; rows that compare equal keep their order.
  bool SortItems(PFNLVCOMPARE compare, DWORD_PTR context);
  bool SortItems(const std::function<int(DWORD_PTR, DWORD_PTR)>& compare);
  bool SortRows(const std::function<int(const ListRow&, const ListRow&)>& compare);
  // The arrow the heading of the sorted column shows; subItem -1: none. Sorting leaves it to
  // whoever sorts, since only they know by what.
  void SetSortIndicator(int subItem, bool descending);
  int GetSortIndicator(bool* descending) const;  // the sub-item, or -1

  // Scrolling and geometry, in the list's client coordinates.
  bool EnsureVisible(int item, bool partialOK);
  // A live list follows its newest rows: the view keeps the last row in sight at each refresh
  // (not per row: rows may arrive by the hundred thousand a second) while the user has neither
  // scrolled up from the end nor selected a row. Back at the end with no row selected, it
  // follows again.
  void SetFollowNewest(bool on);
  bool IsFollowingNewest() const;
  bool Scroll(Size size);
  int GetTopIndex() const;
  int GetCountPerPage() const;
  int SubItemHitTest(ListHitTest* info) const;
  int HitTest(Point point, UINT* flags = nullptr) const;
  bool GetItemRect(int item, Rect* rect) const;
  bool GetSubItemRect(int item, int subItem, Rect* rect) const;

  void SetFont(const Font& font, bool redraw = true) override;

  ImageList* SetImageList(ImageList* images, int type = LVSIL_SMALL);
  ImageList* GetImageList(int type = LVSIL_SMALL) const;

  // The user's actions (tests, the toolkit). Each changes the selection as the platform does and
  // then notifies: a click selects the row (with ctrl, toggles it in a multi-selection list);
  // a click on no row clears the selection; a right click selects an unselected row.
  void UserClick(int item, int subItem, bool ctrl = false);
  void UserDoubleClick(int item, int subItem);
  void UserRightClick(int item, int subItem);
  void UserReturn();
  void UserColumnClick(int column);
  void UserMoveSelection(int item);  // arrow keys
  // Clicks at a point of the client area, hit-testing it first.
  void UserClickAt(Point point, bool right = false, bool ctrl = false);

  // Toolkit side: the drawn rows' height, the heading's height, where the view is scrolled, and
  // whether the user's own scrolling left the last row in sight.
  void SetViewMetrics(int rowHeight, int headerHeight);
  void SetScrollFromView(int topIndex, int xOffset);
  void SetScrolledToEnd(bool atEnd);
  int GetScrollX() const;
  // Read by the view when it refreshes: rows appended at the end since a given structure
  // generation keep it; any other change of order or number of rows makes a new generation.
  std::uint64_t StructureGeneration() const;
  // A cell as drawn: the stored text, or the one CallbackText makes.
  bool GetCell(int item, int subItem, std::string* text, int* image, UINT* state) const;
  // The view draws the rows again (a callback text may have changed).
  void RedrawRows() { Changed(kChangeContent); }

 protected:
  // The platform's text callback: a subclass makes a cell's text when the cell is drawn instead
  // of storing it (true), for texts that change without the row changing. Called with the rows
  // lock held: it must not call the list.
  virtual bool CallbackText(const ListRow&, int, std::string*) const { return false; }
  // Notification handlers (user-interface thread). The base passes each to the parent.
  virtual void OnClick(const ListNotify& notify, LRESULT* result);
  virtual void OnDblclk(const ListNotify& notify, LRESULT* result);
  virtual void OnRclick(const ListNotify& notify, LRESULT* result);
  virtual void OnReturn(const ListNotify& notify, LRESULT* result);
  virtual void OnColumnclick(const ListNotify& notify, LRESULT* result);
  virtual void OnItemchanged(const ListNotify& notify, LRESULT* result);

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  struct StateChange {
    int item;
    UINT oldState;
    UINT newState;
  };
  ListNotify MakeNotify(int code, int item, int subItem) const;
  void Notify(int code, ListNotify notify);
  void Deliver(const ListNotify& notify);
  void ReportStateChanges(const std::vector<StateChange>& changes);
  int RowHeightLocked() const;
  int HeaderHeightLocked() const;
  std::vector<StateChange> SetStateLocked(int item, UINT state, UINT mask);
  int SubItemAtLocked(int x) const;
  void ScrollLocked(Size size);
  // Rows deleted give their text storage to rows inserted later (up to kSpareRows of them), so a
  // list that is filled and cleared over and over allocates no texts once it has been full.
  std::vector<std::string> TakeSpareTextsLocked();
  void KeepSpareTextsLocked(ListRow& row);
  // Puts a row at index, or where its first text sorts in a sorted list; returns where it went.
  int PlaceRowLocked(int index, DWORD style, ListRow&& row);
  void CountChangedLocked() { m_count.store(static_cast<int>(m_rows.size()), std::memory_order_relaxed); }

  static constexpr std::size_t kSpareRows = 10000;

  mutable std::mutex m_rowsLock;  // rows, columns, image lists, scroll position
  std::vector<ListRow> m_rows;
  std::vector<std::vector<std::string>> m_spareTexts;
  std::atomic<int> m_count{0};  // m_rows.size(), read without the lock
  std::vector<ListColumn> m_columns;
  std::vector<int> m_order;  // display position -> column index
  std::uint64_t m_generation = 0;
  ImageList* m_smallImages = nullptr;
  ImageList* m_normalImages = nullptr;
  int m_topIndex = 0;
  int m_sortSubItem = -1;  // the sort indicator, under the rows lock
  bool m_sortDescending = false;
  int m_scrollX = 0;
  bool m_followNewest = false;
  bool m_leftEnd = false;  // the user scrolled up from the last row
  int m_rowHeight = 0;     // px; 0 until the view tells, then the font's estimate is not used
  int m_headerHeight = 0;  // px
  mutable int m_estimatedRowHeight = 0;  // px from the font when there is no view; 0: not yet
};

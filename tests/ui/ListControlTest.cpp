#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ui/ListControl.h"
#include "ui/UiPump.h"

namespace {

constexpr DWORD kPlainStyle = 0x406100C9;   // report, several rows may be selected
constexpr DWORD kSortedStyle = 0x406100DD;  // the same, single selection, sorted by first column

// A pane-like list that records what its handlers see.
class RecordingList : public ListControl {
 public:
  std::vector<std::string> events;

 protected:
  void OnClick(const ListNotify& n, LRESULT*) override { events.push_back("click " + std::to_string(n.iItem) + "," + std::to_string(n.iSubItem)); }
  void OnDblclk(const ListNotify& n, LRESULT*) override { events.push_back("dblclk " + std::to_string(n.iItem)); }
  void OnRclick(const ListNotify& n, LRESULT*) override { events.push_back("rclick " + std::to_string(n.iItem)); }
  void OnReturn(const ListNotify&, LRESULT*) override { events.push_back("return"); }
  void OnColumnclick(const ListNotify& n, LRESULT*) override { events.push_back("column " + std::to_string(n.iSubItem)); }
  void OnItemchanged(const ListNotify& n, LRESULT*) override {
    events.push_back("changed " + std::to_string(n.iItem) + " " + std::to_string(n.uOldState) + "->" + std::to_string(n.uNewState) +
                     (std::this_thread::get_id() == uiThread ? "" : " off-ui"));
  }

 public:
  std::thread::id uiThread = std::this_thread::get_id();
};

class ParentWindow : public Window {
 public:
  std::vector<std::pair<int, int>> notes;  // control id, code
  bool OnNotify(int id, int code, const ListNotify&, LRESULT*) override {
    notes.emplace_back(id, code);
    return true;
  }
};

class ListControlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_parent.Create("frame", WS_VISIBLE, Rect{0, 0, 800, 600}, nullptr, 0)); }
  void TearDown() override { UiPump::Instance().PumpPending(); }
  ParentWindow m_parent;
};

std::vector<std::string> FirstColumn(const ListControl& list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list.GetItemCount(); ++i) texts.push_back(list.GetItemText(i, 0));
  return texts;
}

TEST_F(ListControlTest, SortedStylePlacesRowsByFirstTextAndReportsWhere) {
  ListControl list;
  ASSERT_TRUE(list.Create(kSortedStyle, Rect{0, 0, 400, 300}, &m_parent, 1024));
  // Rows are inserted at a growing row counter, as the scanner does, and land by their text.
  const char* names[] = {"svchost.exe", "Alpha", "beta", "alpha", "Zeta", "ALPHA"};
  int counter = 0;
  for (const char* name : names) {
    const int at = list.InsertItem(counter, name);
    ASSERT_GE(at, 0);
    // The texts of the row go to the index the list reports, never to the counter.
    ASSERT_TRUE(list.SetItemText(at, 1, std::to_string(counter)));
    ++counter;
  }
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"Alpha", "alpha", "ALPHA", "beta", "svchost.exe", "Zeta"}));
  // Equal names keep their arrival order; every row kept its own second text.
  EXPECT_EQ(list.GetItemText(0, 1), "1");
  EXPECT_EQ(list.GetItemText(1, 1), "3");
  EXPECT_EQ(list.GetItemText(2, 1), "5");
  EXPECT_EQ(list.GetItemText(4, 1), "0");

  // Turning the sort off at run time keeps the rows and inserts where asked.
  list.SetStyle(kPlainStyle);
  EXPECT_EQ(list.InsertItem(0, "zzz"), 0);
  EXPECT_EQ(list.InsertItem(99, "aaa"), 7);  // past the end appends
  EXPECT_EQ(list.InsertItem(-1, "bad"), -1);
  EXPECT_EQ(list.GetItemText(1, 0), "Alpha");
}

// Whole rows from a worker: a reader sees every row with all its texts and its item data or not
// at all, a sorted list places them by their first text, and rows that reuse the storage of
// deleted ones show none of their texts.
TEST_F(ListControlTest, WholeRowsAreNeverSeenHalfFilledAndReuseNoOldTexts) {
  ListControl list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  constexpr int kRows = 20000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRows; ++i) {
      const std::string n = std::to_string(i);
      const std::string_view texts[] = {n, "UDP", "10.0.0.1", n, "10.0.0.2", "53", "12/07/26 06:22:48:007", "Ok"};
      list.InsertRow(i, texts, static_cast<DWORD_PTR>(i + 1));
      if (i == kRows / 2) list.DeleteAllItems();  // the rest reuse the deleted rows' texts
    }
    done = true;
  });
  std::size_t halfFilled = 0, seen = 0;
  while (!done) {
    ListRow row;
    if (!list.GetRow(list.GetItemCount() - 1, &row)) continue;
    ++seen;
    if (row.texts.size() != 8 || row.data != std::stoul(row.Text(0)) + 1 || row.Text(3) != row.Text(0)) ++halfFilled;
  }
  writer.join();
  EXPECT_EQ(halfFilled, 0u);
  EXPECT_GT(seen, 0u);
  ASSERT_EQ(list.GetItemCount(), kRows - kRows / 2 - 1);
  EXPECT_EQ(list.GetItemText(0, 0), std::to_string(kRows / 2 + 1));

  list.DeleteAllItems();
  list.SetStyle(kSortedStyle);
  const std::string_view b[] = {"beta"}, a[] = {"Alpha", "1"}, a2[] = {"alpha", "2"};
  list.InsertRow(0, b, 0);
  EXPECT_EQ(list.InsertRow(1, a, 0), 0);
  EXPECT_EQ(list.InsertRow(2, a2, 0), 1);  // equal texts keep their arrival order
  ListRow row;
  ASSERT_TRUE(list.GetRow(2, &row));
  EXPECT_EQ(row.texts, std::vector<std::string>{"beta"});
  EXPECT_EQ(list.GetItemText(1, 1), "2");
  EXPECT_EQ(list.GetItemText(1, 6), "");
}

// Rows a worker fills outside the lock go in together, each placed as InsertRow places it.
TEST_F(ListControlTest, RowBatchesGoInTogether) {
  std::vector<ListRow> rows{ListRow{{"beta"}, 1}, ListRow{{"Alpha"}, 2}, ListRow{{"alpha"}, 3}};
  ListControl unmade;
  EXPECT_FALSE(unmade.InsertRows(&rows));
  EXPECT_EQ(rows.size(), 3u);

  ListControl list;
  ASSERT_TRUE(list.Create(kSortedStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  list.InsertItem(0, "Beta");
  ASSERT_TRUE(list.InsertRows(&rows));
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"Alpha", "alpha", "Beta", "beta"}));
  EXPECT_EQ(list.GetItemData(1), 3u);
}

// A list that makes its second column from the item data when the cell is read.
class CountingList : public ListControl {
 protected:
  bool CallbackText(const ListRow& row, int subItem, std::string* text) const override {
    if (subItem != 1) return false;
    *text = std::to_string(row.data * 10);
    return true;
  }
};

// Every reader of a made cell gets the text the view draws: item text, a row read under the
// lock, copied rows and the cell; the other columns keep their stored texts.
TEST_F(ListControlTest, MadeCellsReadAsDrawnEverywhere) {
  CountingList list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  list.InsertColumn(0, "name");
  list.InsertColumn(1, "tens");
  ASSERT_EQ(list.InsertRow(0, std::vector<std::string_view>{"seven", "stored"}, 7), 0);
  EXPECT_EQ(list.GetItemText(0, 1), "70");
  EXPECT_EQ(list.GetItemText(0, 0), "seven");
  std::string cell;
  ASSERT_TRUE(list.ReadRow(0, [&](const ListRow& row) { cell = list.CellText(row, 1) + "/" + list.CellText(row, 0); }));
  EXPECT_EQ(cell, "70/seven");
  ASSERT_TRUE(list.GetCell(0, 1, &cell, nullptr, nullptr));
  EXPECT_EQ(cell, "70");
  list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(list.SelectedRowsText(), "seven\t70\n");
}

TEST_F(ListControlTest, SelectionWalkAndSingleSelection) {
  RecordingList list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1027));
  for (int i = 0; i < 6; ++i) list.InsertItem(i, "row" + std::to_string(i));
  for (int row : {1, 3, 4}) list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
  std::vector<int> walked;
  for (int i = list.GetNextItem(-1, LVNI_SELECTED); i >= 0; i = list.GetNextItem(i, LVNI_SELECTED)) walked.push_back(i);
  EXPECT_EQ(walked, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(list.GetSelectedCount(), 3);
  // Handlers saw each change at once, on this thread, with the states before and after.
  EXPECT_EQ(list.events, (std::vector<std::string>{"changed 1 0->2", "changed 3 0->2", "changed 4 0->2"}));

  // Unselect all but one, walking from the first selected row as the panes do.
  list.events.clear();
  for (int i = list.GetNextItem(-1, LVNI_SELECTED); i >= 0; i = list.GetNextItem(i, LVNI_SELECTED)) {
    if (i != 3) list.SetItemState(i, 0, LVIS_SELECTED);
  }
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 3);
  EXPECT_EQ(list.GetNextItem(3, LVNI_SELECTED), -1);

  // A ctrl-click adds to the selection of a multi-selection list; a plain click replaces it.
  list.UserClick(5, 2, true);
  EXPECT_EQ(list.GetSelectedCount(), 2);
  list.UserClick(0, 0);
  EXPECT_EQ(list.GetSelectedCount(), 1);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED | LVNI_FOCUSED), 0);
  EXPECT_EQ(list.events.back(), "click 0,0");
  list.UserClick(-1, -1);  // on no row
  EXPECT_EQ(list.GetSelectedCount(), 0);

  // Single selection: selecting a row drops the other.
  list.ModifyStyle(0, LVS_SINGLESEL);
  list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
  list.SetItemState(4, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(list.GetSelectedCount(), 1);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 4);
}

TEST_F(ListControlTest, NotificationsReachHandlersOrTheParent) {
  RecordingList own;
  ListControl plain;
  ASSERT_TRUE(own.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  ASSERT_TRUE(plain.Create(kPlainStyle, Rect{0, 300, 400, 600}, &m_parent, 2));
  for (ListControl* list : {static_cast<ListControl*>(&own), &plain}) {
    list->InsertColumn(0, "Type");
    list->InsertItem(0, "TCP");
    list->InsertItem(1, "UDP");
    list->UserRightClick(1, 0);
    list->UserDoubleClick(0, 0);
    list->UserReturn();
    list->UserColumnClick(0);
  }
  EXPECT_EQ(own.events, (std::vector<std::string>{"changed 1 0->3", "rclick 1", "dblclk 0", "return", "column 0"}));
  // The plain list passes everything on to its parent.
  EXPECT_EQ(m_parent.notes, (std::vector<std::pair<int, int>>{{2, LVN_ITEMCHANGED}, {2, NM_RCLICK}, {2, NM_DBLCLK}, {2, NM_RETURN}, {2, LVN_COLUMNCLICK}}));
}

TEST_F(ListControlTest, StateChangesByAWorkerArePostedToTheUserInterfaceThread) {
  RecordingList list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  list.InsertItem(0, "a");
  std::thread worker([&] { list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED); });
  worker.join();
  EXPECT_TRUE(list.events.empty());
  UiPump::Instance().PumpPending();
  EXPECT_EQ(list.events, (std::vector<std::string>{"changed 0 0->2"}));
}

TEST_F(ListControlTest, ItemDataIsHandedBackAndNeverFreedByTheList) {
  struct Record {
    int sequence;
    std::string tag;
  };
  std::vector<std::unique_ptr<Record>> owned;
  ListControl list;
  ASSERT_TRUE(list.Create(kSortedStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  for (int i = 0; i < 5; ++i) {
    owned.push_back(std::make_unique<Record>(Record{i, "r" + std::to_string(i)}));
    const int at = list.InsertItem(i, i % 2 ? "b" : "a");
    ASSERT_TRUE(list.SetItemData(at, reinterpret_cast<DWORD_PTR>(owned.back().get())));
  }
  // Rows moved by the sort still carry their own record.
  for (int i = 0; i < list.GetItemCount(); ++i) {
    const auto* record = reinterpret_cast<const Record*>(list.GetItemData(i));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(list.GetItemText(i, 0), record->sequence % 2 ? "b" : "a");
  }
  EXPECT_EQ(list.GetItemData(99), 0u);
  // Deleting rows and the list leaves the records to their owner (a double free would trip ASan).
  ASSERT_TRUE(list.DeleteItem(0));
  ASSERT_TRUE(list.DeleteAllItems());
  list.DestroyWindow();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(owned[static_cast<std::size_t>(i)]->tag, "r" + std::to_string(i));
}

TEST_F(ListControlTest, SortCallbacksAreStableForEqualKeys) {
  ListControl list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  // Item data = row number * 10 + key; the rows arrive in row-number order.
  const int keys[] = {3, 1, 3, 2, 1, 3, 2};
  for (int i = 0; i < 7; ++i) list.InsertItem(i, std::to_string(i), -1, static_cast<DWORD_PTR>(i * 10 + keys[i]));
  const PFNLVCOMPARE byKey = [](DWORD_PTR a, DWORD_PTR b, DWORD_PTR descending) {
    const int order = static_cast<int>(a % 10) - static_cast<int>(b % 10);
    return descending ? -order : order;
  };
  ASSERT_TRUE(list.SortItems(byKey, 0));
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"1", "4", "3", "6", "0", "2", "5"}));
  ASSERT_TRUE(list.SortItems(byKey, 1));
  // Descending: ties still keep the order they had.
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"0", "2", "5", "3", "6", "1", "4"}));
  // Back to arrival order by row number, comparing whole rows.
  ASSERT_TRUE(list.SortRows([](const ListRow& a, const ListRow& b) { return std::stoi(a.Text(0)) - std::stoi(b.Text(0)); }));
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6"}));
}

TEST_F(ListControlTest, ColumnsCarryTheirTextsWhenInsertedOrDeletedBetweenOthers) {
  ListControl list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  list.InsertColumn(0, "Type", LVCFMT_LEFT, 40);
  list.InsertColumn(1, "Size", LVCFMT_RIGHT, 30);
  list.InsertItem(0, "TCP");
  list.SetItemText(0, 1, "60");
  list.InsertColumn(1, "From", LVCFMT_LEFT, 80);
  EXPECT_EQ(list.GetItemText(0, 1), "");
  EXPECT_EQ(list.GetItemText(0, 2), "60");
  list.DeleteColumn(0);
  EXPECT_EQ(list.GetItemText(0, 1), "60");
  EXPECT_EQ(list.GetColumnCount(), 2);
  EXPECT_EQ(list.InsertColumn(-1, "bad"), -1);
  // Widths follow the heading in the list's font unless given: "as many X as the heading".
  const int x = list.GetStringWidth("X");
  EXPECT_GT(x, 0);
  EXPECT_EQ(list.GetStringWidth("XXXX"), 4 * x);
}

TEST_F(ListControlTest, HitTestsAndScrollingFollowTheDrawnGeometry) {
  ListControl list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 300, 24 + 5 * 20}, &m_parent, 1));
  list.SetViewMetrics(20, 24);  // px: row height, heading height
  list.InsertColumn(0, "A", LVCFMT_LEFT, 50);
  list.InsertColumn(1, "B", LVCFMT_LEFT, 60);
  for (int i = 0; i < 30; ++i) list.InsertItem(i, std::to_string(i));
  EXPECT_EQ(list.GetCountPerPage(), 5);
  ListHitTest hit;
  hit.pt = Point{70, 24 + 2 * 20 + 5};
  EXPECT_EQ(list.SubItemHitTest(&hit), 2);
  EXPECT_EQ(hit.iSubItem, 1);
  hit.pt = Point{120, 30};  // right of the last column
  EXPECT_EQ(list.SubItemHitTest(&hit), -1);
  hit.pt = Point{10, 10};  // on the heading
  EXPECT_EQ(list.SubItemHitTest(&hit), -1);

  ASSERT_TRUE(list.EnsureVisible(12, false));
  EXPECT_EQ(list.GetTopIndex(), 8);
  ASSERT_TRUE(list.EnsureVisible(3, false));
  EXPECT_EQ(list.GetTopIndex(), 3);
  hit.pt = Point{10, 24 + 1};
  EXPECT_EQ(list.SubItemHitTest(&hit), 3);
  list.Scroll(Size{0, 10 * 20});
  EXPECT_EQ(list.GetTopIndex(), 13);
  list.Scroll(Size{0, -100 * 20});
  EXPECT_EQ(list.GetTopIndex(), 0);
  Rect rect;
  ASSERT_TRUE(list.GetSubItemRect(1, 1, &rect));
  EXPECT_EQ(rect, (Rect{50, 44, 110, 64}));
}

TEST_F(ListControlTest, WorkerWritesWhileTheUserInterfaceReads) {
  ListControl list;
  ASSERT_TRUE(list.Create(kPlainStyle, Rect{0, 0, 400, 300}, &m_parent, 1));
  list.InsertColumn(0, "Row");
  list.InsertColumn(1, "Half");
  constexpr int kRows = 20000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < kRows; ++i) {
      const int at = list.InsertItem(i, std::to_string(i));
      list.SetItemText(at, 1, std::to_string(i / 2));
      list.SetItemData(at, static_cast<DWORD_PTR>(i));
      if (i % 5000 == 4999) list.SetItemState(at, LVIS_SELECTED, LVIS_SELECTED);
    }
    done = true;
  });
  // The user-interface thread reads, selects and pumps meanwhile.
  std::size_t reads = 0;
  while (!done) {
    const int count = list.GetItemCount();
    if (count > 0) {
      const std::string text = list.GetItemText(count - 1, 0);
      EXPECT_FALSE(text.empty());
      list.GetNextItem(-1, LVNI_SELECTED);
      list.SetItemState(count / 2, LVIS_FOCUSED, LVIS_FOCUSED);
      ++reads;
    }
    UiPump::Instance().PumpPending();
  }
  writer.join();
  UiPump::Instance().PumpPending();
  ASSERT_EQ(list.GetItemCount(), kRows);
  for (int i = 0; i < kRows; i += 997) {
    EXPECT_EQ(list.GetItemText(i, 0), std::to_string(i));
    EXPECT_EQ(list.GetItemText(i, 1), std::to_string(i / 2));
    EXPECT_EQ(list.GetItemData(i), static_cast<DWORD_PTR>(i));
  }
  EXPECT_EQ(list.GetSelectedCount(), 4);
  EXPECT_GT(reads, 0u);
}

}  // namespace

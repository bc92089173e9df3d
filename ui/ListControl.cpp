#include "ui/ListControl.h"

#include <algorithm>

#include "ui/TextCompare.h"
#include "ui/UiPump.h"
#include "ui/UiServices.h"

namespace {
constexpr int kColumnPadding = 12;  // px around a heading when no width is given
}  // namespace

ListControl::~ListControl() { DestroyWindow(); }

bool ListControl::Create(DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::ListControl, "", style, rect, parent, id);
}

DWORD ListControl::SetExtendedStyle(DWORD exStyle) {
  const DWORD previous = GetExStyle();
  SetExStyle(exStyle);
  return previous;
}

// --- Columns -------------------------------------------------------------------------------

int ListControl::InsertColumn(int index, const ListColumn& column) {
  if (index < 0) return -1;
  ListColumn added = column;
  if (added.width < 0) added.width = GetStringWidth(added.title) + kColumnPadding;
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    index = std::min(index, static_cast<int>(m_columns.size()));
    if (added.subItem < 0) added.subItem = index;
    m_columns.insert(m_columns.begin() + index, added);
    // Row texts follow the columns: a column put between others moves the later texts along.
    if (index < static_cast<int>(m_columns.size()) - 1) {
      for (ListRow& row : m_rows) {
        if (static_cast<int>(row.texts.size()) > index) row.texts.insert(row.texts.begin() + index, std::string());
      }
      for (int& shown : m_order) {
        if (shown >= index) ++shown;
      }
    }
    m_order.push_back(index);
  }
  Changed(kChangeColumns | kChangeContent);
  return index;
}

int ListControl::InsertColumn(int index, const std::string& title, int format, int width, int subItem) {
  return InsertColumn(index, ListColumn{title, width, format, subItem});
}

bool ListControl::DeleteColumn(int index) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (index < 0 || index >= static_cast<int>(m_columns.size())) return false;
    m_columns.erase(m_columns.begin() + index);
    for (ListRow& row : m_rows) {
      if (static_cast<int>(row.texts.size()) > index) row.texts.erase(row.texts.begin() + index);
    }
    m_order.erase(std::remove(m_order.begin(), m_order.end(), index), m_order.end());
    for (int& shown : m_order) {
      if (shown > index) --shown;
    }
  }
  Changed(kChangeColumns | kChangeContent);
  return true;
}

int ListControl::GetColumnCount() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return static_cast<int>(m_columns.size());
}

bool ListControl::GetColumn(int index, ListColumn* column) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (index < 0 || index >= static_cast<int>(m_columns.size())) return false;
  *column = m_columns[static_cast<std::size_t>(index)];
  return true;
}

bool ListControl::SetColumn(int index, const ListColumn& column) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (index < 0 || index >= static_cast<int>(m_columns.size())) return false;
    m_columns[static_cast<std::size_t>(index)] = column;
  }
  Changed(kChangeColumns);
  return true;
}

int ListControl::GetColumnWidth(int index) const {
  ListColumn column;
  return GetColumn(index, &column) ? column.width : 0;
}

bool ListControl::SetColumnWidth(int index, int width) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (index < 0 || index >= static_cast<int>(m_columns.size())) return false;
    m_columns[static_cast<std::size_t>(index)].width = std::max(width, 0);
  }
  Changed(kChangeColumns);
  return true;
}

std::vector<int> ListControl::GetColumnOrderArray() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return m_order;
}

bool ListControl::SetColumnOrderArray(const std::vector<int>& order) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    std::vector<int> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      if (sorted[i] != static_cast<int>(i)) return false;
    }
    if (sorted.size() != m_columns.size()) return false;
    m_order = order;
  }
  Changed(kChangeColumns);
  return true;
}

int ListControl::GetStringWidth(const std::string& text) const { return UiServices::Current().TextWidth(GetFont(), text); }

// --- Rows ----------------------------------------------------------------------------------

int ListControl::GetItemCount() const { return m_count.load(std::memory_order_relaxed); }

int ListControl::InsertItem(int index, const std::string& text, int image) { return InsertItem(index, text, image, 0); }

int ListControl::InsertItem(int index, const std::string& text, int image, DWORD_PTR data) {
  const std::string_view first = text;
  return InsertRow(index, std::span<const std::string_view>(&first, 1), data, image);
}

std::vector<std::string> ListControl::TakeSpareTextsLocked() {
  if (m_spareTexts.empty()) return {};
  std::vector<std::string> texts = std::move(m_spareTexts.back());
  m_spareTexts.pop_back();
  return texts;
}

void ListControl::KeepSpareTextsLocked(ListRow& row) {
  if (m_spareTexts.size() < kSpareRows && row.texts.capacity() > 0) m_spareTexts.push_back(std::move(row.texts));
}

int ListControl::PlaceRowLocked(int index, DWORD style, ListRow&& row) {
  const std::string& key = row.Text(0);
  const int count = static_cast<int>(m_rows.size());
  if (style & LVS_SORTASCENDING) {
    auto at = std::upper_bound(m_rows.begin(), m_rows.end(), key,
                               [](const std::string& t, const ListRow& r) { return CompareNoCase(t, r.Text(0)) < 0; });
    index = static_cast<int>(at - m_rows.begin());
  } else if (style & LVS_SORTDESCENDING) {
    auto at = std::upper_bound(m_rows.begin(), m_rows.end(), key,
                               [](const std::string& t, const ListRow& r) { return CompareNoCase(t, r.Text(0)) > 0; });
    index = static_cast<int>(at - m_rows.begin());
  } else {
    index = std::min(index, count);
  }
  if (index == count) {
    m_rows.push_back(std::move(row));
  } else {
    m_rows.insert(m_rows.begin() + index, std::move(row));
    ++m_generation;
    if (m_topIndex > index) ++m_topIndex;
  }
  return index;
}

int ListControl::InsertRow(int index, std::span<const std::string_view> texts, DWORD_PTR data, int image) {
  if (index < 0 || !IsCreated()) return -1;
  const DWORD style = GetStyle();
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    ListRow row;
    row.texts = TakeSpareTextsLocked();
    row.texts.resize(std::max<std::size_t>(texts.size(), 1));
    for (std::size_t i = 0; i < texts.size(); ++i) row.texts[i].assign(texts[i]);
    row.image = image;
    row.data = data;
    index = PlaceRowLocked(index, style, std::move(row));
    CountChangedLocked();
    // The spare storage the next row takes has not been touched for a whole page of rows: have
    // it on its way to the cache meanwhile.
    if (!m_spareTexts.empty()) {
      const std::vector<std::string>& next = m_spareTexts.back();
      const char* bytes = reinterpret_cast<const char*>(next.data());
      for (std::size_t at = 0; at < next.size() * sizeof(std::string); at += 64) __builtin_prefetch(bytes + at, 1);
    }
  }
  Changed(kChangeContent);
  return index;
}

bool ListControl::InsertRows(std::vector<ListRow>* rows) {
  if (!IsCreated()) return false;
  const DWORD style = GetStyle();
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    for (ListRow& row : *rows) PlaceRowLocked(static_cast<int>(m_rows.size()), style, std::move(row));
    CountChangedLocked();
  }
  rows->clear();
  Changed(kChangeContent);
  return true;
}

bool ListControl::DeleteItem(int item) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
    KeepSpareTextsLocked(m_rows[static_cast<std::size_t>(item)]);
    m_rows.erase(m_rows.begin() + item);
    CountChangedLocked();
    ++m_generation;
    if (m_topIndex > item) --m_topIndex;
    m_topIndex = std::min(m_topIndex, std::max(static_cast<int>(m_rows.size()) - 1, 0));
  }
  Changed(kChangeContent);
  return true;
}

bool ListControl::DeleteAllItems() { return DeleteAllItems(nullptr); }

bool ListControl::DeleteAllItems(std::vector<DWORD_PTR>* takenData) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (takenData) {
      takenData->clear();
      for (const ListRow& row : m_rows)
        if (row.data) takenData->push_back(row.data);
    }
    for (ListRow& row : m_rows) KeepSpareTextsLocked(row);
    m_rows.clear();
    // A list refilled to the same length keeps its row table; a long one gives the memory back.
    if (m_rows.capacity() > 2 * kSpareRows) m_rows.shrink_to_fit();
    CountChangedLocked();
    ++m_generation;
    m_topIndex = 0;
  }
  Changed(kChangeContent | kChangeScroll);
  return true;
}

bool ListControl::SetItemText(int item, int subItem, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (item < 0 || item >= static_cast<int>(m_rows.size()) || subItem < 0) return false;
    // Texts beyond the columns are kept too: the columns may come later.
    auto& texts = m_rows[static_cast<std::size_t>(item)].texts;
    if (static_cast<int>(texts.size()) <= subItem) texts.resize(static_cast<std::size_t>(subItem) + 1);
    texts[static_cast<std::size_t>(subItem)] = text;
  }
  Changed(kChangeContent);
  return true;
}

std::string ListControl::GetItemText(int item, int subItem) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return {};
  return CellText(m_rows[static_cast<std::size_t>(item)], subItem);
}

std::string ListControl::CellText(const ListRow& row, int subItem) const {
  std::string text;
  if (!CallbackText(row, subItem, &text)) text = row.Text(subItem);
  return text;
}

bool ListControl::SetItemData(int item, DWORD_PTR data) {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
  m_rows[static_cast<std::size_t>(item)].data = data;
  return true;
}

DWORD_PTR ListControl::GetItemData(int item) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return 0;
  return m_rows[static_cast<std::size_t>(item)].data;
}

bool ListControl::SetItemImage(int item, int image) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
    m_rows[static_cast<std::size_t>(item)].image = image;
  }
  Changed(kChangeContent);
  return true;
}

int ListControl::GetItemImage(int item) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return -1;
  return m_rows[static_cast<std::size_t>(item)].image;
}

bool ListControl::GetRow(int item, ListRow* row) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
  *row = m_rows[static_cast<std::size_t>(item)];
  return true;
}

bool ListControl::ReadRow(int item, const std::function<void(const ListRow&)>& read) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
  read(m_rows[static_cast<std::size_t>(item)]);
  return true;
}

bool ListControl::GetCell(int item, int subItem, std::string* text, int* image, UINT* state) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
  const ListRow& row = m_rows[static_cast<std::size_t>(item)];
  if (text != nullptr && !CallbackText(row, subItem, text)) *text = row.Text(subItem);
  if (image != nullptr) *image = row.image;
  if (state != nullptr) *state = row.state;
  return true;
}

std::uint64_t ListControl::StructureGeneration() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return m_generation;
}

// --- States --------------------------------------------------------------------------------

std::vector<ListControl::StateChange> ListControl::SetStateLocked(int item, UINT state, UINT mask) {
  std::vector<StateChange> changes;
  const int count = static_cast<int>(m_rows.size());
  auto apply = [&](int i) {
    ListRow& row = m_rows[static_cast<std::size_t>(i)];
    const UINT before = row.state;
    row.state = (row.state & ~mask) | (state & mask);
    if (row.state != before) changes.push_back(StateChange{i, before, row.state});
  };
  // One selected and one focused row at most where the style or the platform says so.
  const bool single = (GetStyle() & LVS_SINGLESEL) != 0;
  UINT exclusive = mask & state & LVIS_FOCUSED;
  if (single) exclusive |= mask & state & LVIS_SELECTED;
  if (item >= 0 && exclusive != 0) {
    for (int i = 0; i < count; ++i) {
      if (i == item) continue;
      ListRow& row = m_rows[static_cast<std::size_t>(i)];
      const UINT before = row.state;
      row.state &= ~exclusive;
      if (row.state != before) changes.push_back(StateChange{i, before, row.state});
    }
  }
  if (item < 0) {
    for (int i = 0; i < count; ++i) apply(i);
  } else {
    apply(item);
  }
  return changes;
}

bool ListControl::SetItemState(int item, UINT state, UINT mask) {
  std::vector<StateChange> changes;
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (item >= static_cast<int>(m_rows.size()) || item < -1) return false;
    changes = SetStateLocked(item, state, mask);
  }
  ReportStateChanges(changes);
  return true;
}

void ListControl::ReportStateChanges(const std::vector<StateChange>& changes) {
  if (changes.empty()) return;
  Changed(kChangeSelection);
  for (const StateChange& change : changes) {
    if (UiPump::Instance().IsUiThread()) {
      ListNotify notify = MakeNotify(LVN_ITEMCHANGED, change.item, 0);
      notify.uOldState = change.oldState;
      notify.uNewState = change.newState;
      notify.uChanged = LVIF_STATE;
      Deliver(notify);
    } else {
      PostMessage(WM_NOTIFY, static_cast<WPARAM>(change.item), static_cast<LPARAM>((change.oldState << 8) | (change.newState & 0xFF)));
    }
  }
}

UINT ListControl::GetItemState(int item, UINT mask) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return 0;
  return m_rows[static_cast<std::size_t>(item)].state & mask;
}

int ListControl::GetNextItem(int start, int flags) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  const int count = static_cast<int>(m_rows.size());
  UINT wanted = 0;
  if (flags & LVNI_SELECTED) wanted |= LVIS_SELECTED;
  if (flags & LVNI_FOCUSED) wanted |= LVIS_FOCUSED;
  for (int i = std::max(start + 1, 0); i < count; ++i) {
    if ((m_rows[static_cast<std::size_t>(i)].state & wanted) == wanted) return i;
  }
  return -1;
}

int ListControl::GetSelectedCount() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [](const ListRow& row) { return (row.state & LVIS_SELECTED) != 0; }));
}

std::string ListControl::SelectedRowsText() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  std::string lines;
  for (const ListRow& row : m_rows) {
    if ((row.state & LVIS_SELECTED) == 0) continue;
    for (std::size_t i = 0; i < m_order.size(); ++i) {
      if (i > 0) lines += '\t';
      lines += CellText(row, m_order[i]);
    }
    lines += '\n';
  }
  return lines;
}

bool ListControl::CopySelectedRows() const {
  const std::string text = SelectedRowsText();
  if (text.empty()) return false;
  UiServices::Current().SetClipboardText(text);
  return true;
}

// --- Sorting -------------------------------------------------------------------------------

bool ListControl::SortItems(PFNLVCOMPARE compare, DWORD_PTR context) {
  if (compare == nullptr) return false;
  return SortRows([compare, context](const ListRow& a, const ListRow& b) { return compare(a.data, b.data, context); });
}

bool ListControl::SortItems(const std::function<int(DWORD_PTR, DWORD_PTR)>& compare) {
  if (!compare) return false;
  return SortRows([&compare](const ListRow& a, const ListRow& b) { return compare(a.data, b.data); });
}

bool ListControl::SortRows(const std::function<int(const ListRow&, const ListRow&)>& compare) {
  if (!compare) return false;
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    std::stable_sort(m_rows.begin(), m_rows.end(), [&compare](const ListRow& a, const ListRow& b) { return compare(a, b) < 0; });
    ++m_generation;
  }
  Changed(kChangeContent);
  return true;
}

void ListControl::SetSortIndicator(int subItem, bool descending) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (m_sortSubItem == subItem && m_sortDescending == descending) return;
    m_sortSubItem = subItem;
    m_sortDescending = descending;
  }
  Changed(kChangeContent);
}

int ListControl::GetSortIndicator(bool* descending) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (descending) *descending = m_sortDescending;
  return m_sortSubItem;
}

// --- Scrolling and geometry ----------------------------------------------------------------

int ListControl::RowHeightLocked() const {
  if (m_rowHeight > 0) return m_rowHeight;
  // Without a view the font's estimate, worked out once per font (a worker asks per row).
  if (m_estimatedRowHeight <= 0) m_estimatedRowHeight = std::max(UiServices::Current().LineHeight(GetFont()) + 2, 17);
  return m_estimatedRowHeight;
}

void ListControl::SetFont(const Font& font, bool redraw) {
  Window::SetFont(font, redraw);
  std::lock_guard<std::mutex> lock(m_rowsLock);
  m_estimatedRowHeight = 0;
}

int ListControl::HeaderHeightLocked() const { return m_headerHeight > 0 ? m_headerHeight : RowHeightLocked() + 4; }

void ListControl::SetViewMetrics(int rowHeight, int headerHeight) {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  m_rowHeight = rowHeight;
  m_headerHeight = headerHeight;
}

void ListControl::SetScrollFromView(int topIndex, int xOffset) {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  m_topIndex = std::max(topIndex, 0);
  m_scrollX = std::max(xOffset, 0);
}

void ListControl::SetScrolledToEnd(bool atEnd) {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  m_leftEnd = !atEnd;
}

void ListControl::SetFollowNewest(bool on) {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  m_followNewest = on;
}

bool ListControl::IsFollowingNewest() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  // A selected row stays where the user found it.
  return m_followNewest && !m_leftEnd &&
         std::none_of(m_rows.begin(), m_rows.end(), [](const ListRow& row) { return (row.state & LVIS_SELECTED) != 0; });
}

int ListControl::GetScrollX() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return m_scrollX;
}

int ListControl::GetTopIndex() const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return m_topIndex;
}

int ListControl::GetCountPerPage() const {
  const int height = GetClientRect().Height();
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return std::max((height - HeaderHeightLocked()) / RowHeightLocked(), 1);
}

bool ListControl::EnsureVisible(int item, bool partialOK) {
  const int perPage = GetCountPerPage();
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
    if (item < m_topIndex) {
      m_topIndex = item;
    } else if (item >= m_topIndex + perPage + (partialOK ? 1 : 0)) {
      m_topIndex = item - perPage + 1;
    } else {
      return true;
    }
  }
  Changed(kChangeScroll);
  return true;
}

void ListControl::ScrollLocked(Size size) {
  const int rows = size.cy / RowHeightLocked();
  const int last = std::max(static_cast<int>(m_rows.size()) - 1, 0);
  m_topIndex = std::clamp(m_topIndex + rows, 0, last);
  m_scrollX = std::max(m_scrollX + size.cx, 0);
}

bool ListControl::Scroll(Size size) {
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    ScrollLocked(size);
  }
  Changed(kChangeScroll);
  return true;
}

int ListControl::SubItemAtLocked(int x) const {
  int left = -m_scrollX;
  for (int index : m_order) {
    const int width = m_columns[static_cast<std::size_t>(index)].width;
    if (x >= left && x < left + width) return index;
    left += width;
  }
  return -1;
}

int ListControl::SubItemHitTest(ListHitTest* info) const {
  if (info == nullptr) return -1;
  std::lock_guard<std::mutex> lock(m_rowsLock);
  info->iItem = -1;
  info->iSubItem = -1;
  info->flags = LVHT_NOWHERE;
  const int header = HeaderHeightLocked();
  if (info->pt.y < header) {
    info->flags = LVHT_ABOVE;
    return -1;
  }
  const int row = m_topIndex + (info->pt.y - header) / RowHeightLocked();
  const int column = SubItemAtLocked(info->pt.x);
  if (row >= static_cast<int>(m_rows.size()) || column < 0) return -1;
  info->iItem = row;
  info->iSubItem = column;
  info->flags = LVHT_ONITEMLABEL;
  return row;
}

int ListControl::HitTest(Point point, UINT* flags) const {
  ListHitTest info;
  info.pt = point;
  const int item = SubItemHitTest(&info);
  if (flags != nullptr) *flags = info.flags;
  return item;
}

bool ListControl::GetSubItemRect(int item, int subItem, Rect* rect) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  if (item < 0 || item >= static_cast<int>(m_rows.size())) return false;
  const int top = HeaderHeightLocked() + (item - m_topIndex) * RowHeightLocked();
  int left = -m_scrollX;
  int width = 0;
  for (int index : m_order) {
    width += m_columns[static_cast<std::size_t>(index)].width;
  }
  int right = left + width;
  if (subItem >= 0) {
    bool found = false;
    for (int index : m_order) {
      const int w = m_columns[static_cast<std::size_t>(index)].width;
      if (index == subItem) {
        right = left + w;
        found = true;
        break;
      }
      left += w;
    }
    if (!found) return false;
  }
  *rect = Rect{left, top, right, top + RowHeightLocked()};
  return true;
}

bool ListControl::GetItemRect(int item, Rect* rect) const { return GetSubItemRect(item, -1, rect); }

ImageList* ListControl::SetImageList(ImageList* images, int type) {
  ImageList* previous;
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    ImageList*& slot = type == LVSIL_NORMAL ? m_normalImages : m_smallImages;
    previous = slot;
    slot = images;
  }
  Changed(kChangeContent);
  return previous;
}

ImageList* ListControl::GetImageList(int type) const {
  std::lock_guard<std::mutex> lock(m_rowsLock);
  return type == LVSIL_NORMAL ? m_normalImages : m_smallImages;
}

// --- User actions and notifications --------------------------------------------------------

ListNotify ListControl::MakeNotify(int code, int item, int subItem) const {
  ListNotify notify;
  notify.hwndFrom = GetSafeHwnd();
  notify.idFrom = GetDlgCtrlID();
  notify.code = code;
  notify.iItem = item;
  notify.iSubItem = subItem;
  notify.lParam = GetItemData(item);
  Rect rect;
  if (GetSubItemRect(item, subItem, &rect)) notify.ptAction = Point{rect.left + 2, rect.top + 2};
  return notify;
}

void ListControl::Notify(int code, ListNotify notify) {
  notify.code = code;
  Deliver(notify);
}

void ListControl::Deliver(const ListNotify& notify) {
  if (!IsCreated()) return;
  LRESULT result = 0;
  switch (notify.code) {
    case NM_CLICK:
      OnClick(notify, &result);
      break;
    case NM_DBLCLK:
      OnDblclk(notify, &result);
      break;
    case NM_RCLICK:
      OnRclick(notify, &result);
      break;
    case NM_RETURN:
      OnReturn(notify, &result);
      break;
    case LVN_COLUMNCLICK:
      OnColumnclick(notify, &result);
      break;
    case LVN_ITEMCHANGED:
      OnItemchanged(notify, &result);
      break;
    default:
      break;
  }
}

void ListControl::UserClick(int item, int subItem, bool ctrl) {
  if (!IsWindowEnabled()) return;
  std::vector<StateChange> changes;
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    const int count = static_cast<int>(m_rows.size());
    if (item < 0 || item >= count) {
      item = -1;
      changes = SetStateLocked(-1, 0, LVIS_SELECTED);
    } else if (ctrl && (GetStyle() & LVS_SINGLESEL) == 0) {
      const UINT selected = m_rows[static_cast<std::size_t>(item)].state & LVIS_SELECTED;
      changes = SetStateLocked(item, (selected ^ LVIS_SELECTED) | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    } else {
      changes = SetStateLocked(-1, 0, LVIS_SELECTED);
      auto more = SetStateLocked(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      changes.insert(changes.end(), more.begin(), more.end());
    }
  }
  ReportStateChanges(changes);
  Notify(NM_CLICK, MakeNotify(NM_CLICK, item, item < 0 ? -1 : subItem));
}

void ListControl::UserDoubleClick(int item, int subItem) {
  if (!IsWindowEnabled()) return;
  if (item >= GetItemCount()) item = -1;
  Notify(NM_DBLCLK, MakeNotify(NM_DBLCLK, item, item < 0 ? -1 : subItem));
}

void ListControl::UserRightClick(int item, int subItem) {
  if (!IsWindowEnabled()) return;
  if (item >= 0 && item < GetItemCount() && GetItemState(item, LVIS_SELECTED) == 0) {
    std::vector<StateChange> changes;
    {
      std::lock_guard<std::mutex> lock(m_rowsLock);
      changes = SetStateLocked(-1, 0, LVIS_SELECTED);
      auto more = SetStateLocked(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      changes.insert(changes.end(), more.begin(), more.end());
    }
    ReportStateChanges(changes);
  }
  if (item >= GetItemCount()) item = -1;
  Notify(NM_RCLICK, MakeNotify(NM_RCLICK, item, item < 0 ? -1 : subItem));
}

void ListControl::UserReturn() { Notify(NM_RETURN, MakeNotify(NM_RETURN, GetNextItem(-1, LVNI_FOCUSED), 0)); }

void ListControl::UserColumnClick(int column) {
  ListNotify notify = MakeNotify(LVN_COLUMNCLICK, -1, column);
  Notify(LVN_COLUMNCLICK, notify);
}

void ListControl::UserMoveSelection(int item) {
  if (item < 0 || item >= GetItemCount()) return;
  std::vector<StateChange> changes;
  {
    std::lock_guard<std::mutex> lock(m_rowsLock);
    changes = SetStateLocked(-1, 0, LVIS_SELECTED);
    auto more = SetStateLocked(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    changes.insert(changes.end(), more.begin(), more.end());
  }
  ReportStateChanges(changes);
  EnsureVisible(item, false);
}

void ListControl::UserClickAt(Point point, bool right, bool ctrl) {
  ListHitTest info;
  info.pt = point;
  SubItemHitTest(&info);
  if (right) {
    UserRightClick(info.iItem, info.iSubItem);
  } else {
    UserClick(info.iItem, info.iSubItem, ctrl);
  }
}

LRESULT ListControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY) {
    // A state change made by another thread, delivered here on the user-interface thread.
    const int item = static_cast<int>(wParam);
    if (item >= GetItemCount()) return 0;
    ListNotify notify = MakeNotify(LVN_ITEMCHANGED, item, 0);
    notify.uOldState = static_cast<UINT>((lParam >> 8) & 0xFF);
    notify.uNewState = static_cast<UINT>(lParam & 0xFF);
    notify.uChanged = LVIF_STATE;
    Deliver(notify);
    return 0;
  }
  return Window::WindowProc(message, wParam, lParam);
}

namespace {
void PassToParent(Window* self, const ListNotify& notify, LRESULT* result) {
  Window* parent = self->GetParent();
  if (parent != nullptr) parent->OnNotify(notify.idFrom, notify.code, notify, result);
}
}  // namespace

void ListControl::OnClick(const ListNotify& notify, LRESULT* result) { PassToParent(this, notify, result); }
void ListControl::OnDblclk(const ListNotify& notify, LRESULT* result) { PassToParent(this, notify, result); }
void ListControl::OnRclick(const ListNotify& notify, LRESULT* result) { PassToParent(this, notify, result); }
void ListControl::OnReturn(const ListNotify& notify, LRESULT* result) { PassToParent(this, notify, result); }
void ListControl::OnColumnclick(const ListNotify& notify, LRESULT* result) { PassToParent(this, notify, result); }
void ListControl::OnItemchanged(const ListNotify& notify, LRESULT* result) { PassToParent(this, notify, result); }

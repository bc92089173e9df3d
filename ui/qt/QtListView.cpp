#include "ui/qt/QtListView.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>

#include "ui/qt/QtIcons.h"
#include "ui/qt/QtText.h"

namespace {

// The table passes the user's clicks and keys to the list control, which keeps the selection.
class ListTable : public QTableView {
 public:
  explicit ListTable(HWND list, QWidget* parent) : QTableView(parent), m_list(list) {}

 protected:
  ListControl* List() const { return dynamic_cast<ListControl*>(Window::FromHandle(m_list)); }
  std::pair<int, int> Hit(const QPoint& pos) const {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid()) return {-1, -1};
    auto* model = static_cast<QtListModel*>(this->model());
    return {index.row(), model->SubItemOfColumn(index.column())};
  }
  void mousePressEvent(QMouseEvent* event) override {
    setFocus(Qt::MouseFocusReason);
    ListControl* list = List();
    if (list == nullptr) return;
    const auto [row, column] = Hit(event->position().toPoint());
    if (event->button() == Qt::LeftButton) list->UserClick(row, column, (event->modifiers() & Qt::ControlModifier) != 0);
    if (event->button() == Qt::RightButton) list->UserRightClick(row, column);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    ListControl* list = List();
    if (list == nullptr || event->button() != Qt::LeftButton) return;
    const auto [row, column] = Hit(event->position().toPoint());
    list->UserDoubleClick(row, column);
  }
  void mouseMoveEvent(QMouseEvent*) override {}
  void mouseReleaseEvent(QMouseEvent*) override {}
  void contextMenuEvent(QContextMenuEvent* event) override {
    ListControl* list = List();
    if (list == nullptr) return;
    const QPoint global = event->globalPos();
    list->SendMessage(WM_CONTEXTMENU, static_cast<WPARAM>(list->GetSafeHwnd()), MAKELPARAM(global.x(), global.y()));
  }
  void keyPressEvent(QKeyEvent* event) override {
    ListControl* list = List();
    if (list == nullptr) return;
    if (event->matches(QKeySequence::Copy)) {
      list->CopySelectedRows();  // the selected rows, whole, rather than the one cell the table would copy
      return;
    }
    const int focused = list->GetNextItem(-1, LVNI_FOCUSED);
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        list->UserReturn();
        return;
      case Qt::Key_Up:
        list->UserMoveSelection(focused > 0 ? focused - 1 : 0);
        return;
      case Qt::Key_Down:
        list->UserMoveSelection(focused + 1 < list->GetItemCount() ? focused + 1 : focused);
        return;
      default:
        QTableView::keyPressEvent(event);
    }
  }

 private:
  HWND m_list;
};

}  // namespace

// --- Model adapter ---------------------------------------------------------------------------

QtListModel::QtListModel(HWND list, QObject* parent) : QAbstractTableModel(parent), m_list(list) {}

ListControl* QtListModel::List() const { return dynamic_cast<ListControl*>(Window::FromHandle(m_list)); }

int QtListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int QtListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(m_columns.size()); }

int QtListModel::SubItemOfColumn(int column) const {
  return column >= 0 && column < static_cast<int>(m_columns.size()) ? m_columns[static_cast<std::size_t>(column)].subItem : -1;
}

QIcon QtListModel::IconFor(int image) const {
  ListControl* list = List();
  const ImageList* images = list != nullptr ? list->GetImageList(LVSIL_SMALL) : nullptr;
  if (images == nullptr || image < 0) return {};
  if (images != m_iconsOf) {
    m_icons.clear();
    m_iconsOf = images;
  }
  auto it = m_icons.find(image);
  if (it != m_icons.end()) return *it;
  const QIcon icon = ToQIcon(images->GetImage(image));
  m_icons.insert(image, icon);
  return icon;
}

QVariant QtListModel::data(const QModelIndex& index, int role) const {
  ListControl* list = List();
  if (list == nullptr || !index.isValid() || index.column() >= static_cast<int>(m_columns.size())) return {};
  const ListColumn& column = m_columns[static_cast<std::size_t>(index.column())];
  std::string text;
  int image = -1;
  UINT state = 0;
  if (!list->GetCell(index.row(), column.subItem, &text, &image, &state)) return {};
  const bool fullRow = (list->GetExtendedStyle() & LVS_EX_FULLROWSELECT) != 0;
  const bool selected = (state & LVIS_SELECTED) && (fullRow || column.subItem == 0);
  switch (role) {
    case Qt::DisplayRole:
      return ToQString(text);
    case Qt::DecorationRole:
      return column.subItem == 0 && image >= 0 ? QVariant(IconFor(image)) : QVariant();
    case Qt::TextAlignmentRole:
      if (column.format == LVCFMT_RIGHT) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
      if (column.format == LVCFMT_CENTER) return QVariant(Qt::AlignCenter);
      return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return selected ? QVariant(QApplication::palette().brush(QPalette::Highlight)) : QVariant();
    case Qt::ForegroundRole:
      return selected ? QVariant(QApplication::palette().brush(QPalette::HighlightedText)) : QVariant();
    default:
      return {};
  }
}

QVariant QtListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_columns.size())) return {};
  const ListColumn& column = m_columns[static_cast<std::size_t>(section)];
  if (role == Qt::DisplayRole) return ToQString(column.title);
  if (role == Qt::TextAlignmentRole) {
    if (column.format == LVCFMT_RIGHT) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  }
  return {};
}

bool QtListModel::Refresh(unsigned changes) {
  ListControl* list = List();
  if (list == nullptr) return false;
  bool columnsChanged = false;
  if (changes & Window::kChangeColumns) {
    std::vector<ListColumn> columns(static_cast<std::size_t>(list->GetColumnCount()));
    for (std::size_t i = 0; i < columns.size(); ++i) list->GetColumn(static_cast<int>(i), &columns[i]);
    columnsChanged = true;
    beginResetModel();
    m_columns = std::move(columns);
    m_rows = list->GetItemCount();
    m_generation = list->StructureGeneration();
    endResetModel();
    return columnsChanged;
  }
  const std::uint64_t generation = list->StructureGeneration();
  const int rows = list->GetItemCount();
  if (generation == m_generation && rows > m_rows) {
    // Only appended: the rows already shown stay where they are.
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    m_rows = rows;
    endInsertRows();
  } else if (generation != m_generation || rows != m_rows) {
    beginResetModel();
    m_rows = rows;
    m_generation = generation;
    endResetModel();
  }
  if (m_rows > 0 && !m_columns.empty()) {
    emit dataChanged(index(0, 0), index(m_rows - 1, static_cast<int>(m_columns.size()) - 1));
  }
  return false;
}

// --- View ----------------------------------------------------------------------------------

QtListView::QtListView(ListControl& list, QWidget* parent) : QtWindowView(list, new ListTable(list.GetSafeHwnd(), parent)) {
  m_table = static_cast<QTableView*>(Widget());
  m_model = new QtListModel(list.GetSafeHwnd(), m_table);
  m_table->setModel(m_model);
  m_table->setSelectionMode(QAbstractItemView::NoSelection);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setShowGrid((list.GetExtendedStyle() & LVS_EX_GRIDLINES) != 0);
  m_table->setWordWrap(false);
  m_table->setTextElideMode(Qt::ElideRight);
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_table->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  m_table->horizontalHeader()->setSectionsMovable(false);
  m_table->horizontalHeader()->setHighlightSections(false);
  m_table->horizontalHeader()->setStretchLastSection(false);
  m_table->setFocusPolicy(Qt::StrongFocus);
  const HWND handle = list.GetSafeHwnd();
  m_connections.push_back(QObject::connect(m_table->horizontalHeader(), &QHeaderView::sectionClicked, m_table, [handle, this](int section) {
    if (auto* model = dynamic_cast<ListControl*>(Window::FromHandle(handle))) model->UserColumnClick(m_model->SubItemOfColumn(section));
  }));
  m_connections.push_back(QObject::connect(m_table->horizontalHeader(), &QHeaderView::sectionResized, m_table, [handle, this](int section, int, int size) {
    if (Syncing()) return;
    if (auto* model = dynamic_cast<ListControl*>(Window::FromHandle(handle))) model->SetColumnWidth(section, size);
  }));
  m_connections.push_back(QObject::connect(m_table->verticalScrollBar(), &QScrollBar::valueChanged, m_table, [this](int) { ReportScroll(); }));
  m_connections.push_back(QObject::connect(m_table->horizontalScrollBar(), &QScrollBar::valueChanged, m_table, [this](int) { ReportScroll(); }));
  // Only the user's own scrolling (wheel, arrows, drag) decides whether the list follows its
  // newest rows; the position is already the new one when the action is reported.
  m_connections.push_back(QObject::connect(m_table->verticalScrollBar(), &QScrollBar::actionTriggered, m_table, [handle, this](int) {
    const QScrollBar* rows = m_table->verticalScrollBar();
    if (auto* model = dynamic_cast<ListControl*>(Window::FromHandle(handle))) model->SetScrolledToEnd(rows->sliderPosition() >= rows->maximum());
  }));
  QObject::connect(&m_timer, &QTimer::timeout, m_table, [this] { Refresh(); });
  m_timer.setSingleShot(true);
  m_sinceRefresh.start();
}

QtListView::~QtListView() {
  // The table outlives the view until the event loop deletes it: nothing of it may call back.
  for (const auto& connection : m_connections) QObject::disconnect(connection);
  m_timer.stop();
}

void QtListView::Sync(unsigned changes) {
  QtWindowView::Sync(changes & (Window::kChangeRect | Window::kChangeFont | Window::kChangeStyle));
  if (changes & Window::kChangeFont) ReportMetrics();
  if (changes & Window::kChangeStyle) {
    if (Window* window = Model()) m_table->setShowGrid((window->GetExStyle() & LVS_EX_GRIDLINES) != 0);
  }
  m_pending |= changes;
  if (m_timer.isActive()) return;
  const qint64 elapsed = m_sinceRefresh.elapsed();
  if (elapsed >= kRefreshInterval) {
    Refresh();
  } else {
    m_timer.start(static_cast<int>(kRefreshInterval - elapsed));
  }
}

void QtListView::Refresh() {
  auto* list = dynamic_cast<ListControl*>(Model());
  if (list == nullptr) return;
  const unsigned changes = m_pending;
  m_pending = 0;
  m_sinceRefresh.restart();
  ++m_refreshes;
  if (m_model->Refresh(changes)) {
    auto* header = m_table->horizontalHeader();
    const std::vector<int> order = list->GetColumnOrderArray();
    for (int i = 0; i < m_model->columnCount(); ++i) header->resizeSection(i, list->GetColumnWidth(i));
    for (int visual = 0; visual < static_cast<int>(order.size()); ++visual) {
      const int from = header->visualIndex(order[static_cast<std::size_t>(visual)]);
      if (from != visual) header->moveSection(from, visual);
    }
    ReportMetrics();
  }
  ShowSortIndicator(*list);
  if (list->IsFollowingNewest()) {
    m_applyingScroll = true;
    m_table->scrollToBottom();
    m_applyingScroll = false;
    ReportScroll();  // the top row, for hit tests
  } else if (changes & (Window::kChangeScroll | Window::kChangeContent)) {
    m_applyingScroll = true;
    m_table->verticalScrollBar()->setValue(list->GetTopIndex());
    m_table->horizontalScrollBar()->setValue(list->GetScrollX());
    m_applyingScroll = false;
  }
  m_table->viewport()->update();
}

void QtListView::ShowSortIndicator(const ListControl& list) {
  bool descending = false;
  const int subItem = list.GetSortIndicator(&descending);
  int section = -1;
  for (int i = 0; i < m_model->columnCount() && subItem >= 0; ++i)
    if (m_model->SubItemOfColumn(i) == subItem) section = i;
  auto* header = m_table->horizontalHeader();
  header->setSortIndicatorShown(section >= 0);
  const Qt::SortOrder order = descending ? Qt::DescendingOrder : Qt::AscendingOrder;
  if (section >= 0 && (header->sortIndicatorSection() != section || header->sortIndicatorOrder() != order))
    header->setSortIndicator(section, order);
}

void QtListView::ReportScroll() {
  if (m_applyingScroll) return;
  if (auto* list = dynamic_cast<ListControl*>(Model())) {
    list->SetScrollFromView(m_table->verticalScrollBar()->value(), m_table->horizontalScrollBar()->value());
  }
}

void QtListView::ReportMetrics() {
  auto* list = dynamic_cast<ListControl*>(Model());
  if (list == nullptr) return;
  const int rowHeight = m_table->fontMetrics().height() + 4;
  m_table->verticalHeader()->setDefaultSectionSize(rowHeight);
  const int headerHeight = m_table->horizontalHeader()->sizeHint().height();
  list->SetViewMetrics(rowHeight, headerHeight);
  const int frame = m_table->frameWidth();
  list->SetNonClientMargins(Rect{frame, frame, frame, frame});
}

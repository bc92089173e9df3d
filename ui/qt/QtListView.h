#pragma once
#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QTableView>
#include <QTimer>
#include <cstdint>

#include "ui/ListControl.h"
#include "ui/qt/QtWindowView.h"

// The model adapter that shows a report list control in a QTableView. It reads the control's
// rows as they are; the number of rows it reports changes only when it refreshes, so rows that
// workers add between two refreshes appear together at the next one.
class QtListModel : public QAbstractTableModel {
 public:
  explicit QtListModel(HWND list, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Brings the rows and columns up to the control's; returns whether the columns changed.
  bool Refresh(unsigned changes);
  int SubItemOfColumn(int column) const;

 private:
  ListControl* List() const;
  QIcon IconFor(int image) const;

  HWND m_list;
  int m_rows = 0;
  std::vector<ListColumn> m_columns;
  std::uint64_t m_generation = 0;
  mutable QHash<int, QIcon> m_icons;
  mutable const ImageList* m_iconsOf = nullptr;
};

// A report list control drawn by a QTableView. Refreshes are coalesced: however fast rows
// arrive, the view refreshes at most every kRefreshInterval.
class QtListView : public QtWindowView {
 public:
  static constexpr int kRefreshInterval = 100;  // ms

  QtListView(ListControl& list, QWidget* parent);
  ~QtListView() override;
  void Sync(unsigned changes) override;

  int RefreshCount() const { return m_refreshes; }
  QTableView* Table() const { return m_table; }

 protected:
  void SyncKind(unsigned) override {}

 private:
  void Refresh();
  void ReportScroll();
  void ShowSortIndicator(const ListControl& list);
  void ReportMetrics();

  QTableView* m_table;
  QtListModel* m_model;
  QTimer m_timer;
  QElapsedTimer m_sinceRefresh;
  unsigned m_pending = 0;
  int m_refreshes = 0;
  bool m_applyingScroll = false;
  std::vector<QMetaObject::Connection> m_connections;
};

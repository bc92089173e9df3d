#pragma once
#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QString>
#include <QTimer>
#include <vector>

#include "ui/RichEdit.h"
#include "ui/qt/QtWindowView.h"

class QAbstractScrollArea;

// A rich edit drawn by Qt. Like the list view it keeps no copy of the text: each paint draws the
// lines in sight straight from the model, run by run in their colour, underline, weight and size,
// so a pane appended to thousands of times a second costs no more to show than one that holds a
// page. Refreshes (scroll bars, the model's scrolling) are coalesced: at most one every
// kRefreshInterval, however fast the text changes.
//
// The scroll bars count lines of the model: one line a step downwards, the longest line's width
// sideways. Wrapping (a target line width below RichEdit::kNoWrapWidth) breaks a long line into
// rows at the line width in pixels (the view's width for a width of 0).
class QtRichTextView : public QtWindowView {
 public:
  static constexpr int kRefreshInterval = 100;  // ms
  static constexpr int kMargin = 2;             // px left of the text

  QtRichTextView(RichEdit& edit, QWidget* parent);
  ~QtRichTextView() override;
  void Sync(unsigned changes) override;

  // One piece of a drawn row: its text and look.
  struct Segment {
    QString text;
    QColor colour;
    QFont font;
  };
  // The rows the view shows now, from the top, each as its pieces.
  std::vector<std::vector<Segment>> VisibleRows() const;
  int RefreshCount() const { return m_refreshes; }

 protected:
  void SyncKind(unsigned) override {}

 private:
  class Area;
  struct Row {
    int line = 0;
    long from = 0;  // characters of the line's text
    long to = 0;
  };
  void Refresh();
  void Paint(QPainter& painter) const;
  QFont FontOf(const CharFormat& format) const;
  int LineHeight() const;
  int WrapWidth() const;  // px, 0 = no wrapping
  // A line's rows: one, or one per line width when wrapping (width > 0, px).
  void Wrap(const RichEdit::Line& line, int which, int width, std::vector<Row>* rows) const;
  // The first line of the last page.
  int LastTopLine(const RichEdit& edit, int visible) const;
  // The rows from the first visible line on, until the viewport is full.
  std::vector<Row> RowsInSight(std::vector<RichEdit::Line>* lines) const;
  std::vector<Segment> SegmentsOf(const RichEdit::Line& line, const Row& row) const;

  Area* m_area;
  QTimer m_timer;
  QElapsedTimer m_sinceRefresh;
  unsigned m_pending = 0;
  int m_refreshes = 0;
  bool m_applyingScroll = false;
};

#include "ui/qt/QtRichTextView.h"

#include <QAbstractScrollArea>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

#include "ui/qt/QtColours.h"
#include "ui/qt/QtText.h"

class QtRichTextView::Area : public QAbstractScrollArea {
 public:
  Area(QtRichTextView* view, QWidget* parent) : QAbstractScrollArea(parent), m_view(view) {
    setFrameShape(QFrame::StyledPanel);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
  }
  QtRichTextView* m_view;  // null once the view is gone

 protected:
  void paintEvent(QPaintEvent*) override {
    if (m_view == nullptr) return;
    QPainter painter(viewport());
    m_view->Paint(painter);
  }
  void resizeEvent(QResizeEvent* event) override {
    QAbstractScrollArea::resizeEvent(event);
    if (m_view != nullptr) m_view->Refresh();
  }
};

QtRichTextView::QtRichTextView(RichEdit& edit, QWidget* parent) : QtWindowView(edit, new Area(this, parent)) {
  m_area = static_cast<Area*>(Widget());
  m_timer.setSingleShot(true);
  QObject::connect(&m_timer, &QTimer::timeout, m_area, [this] { Refresh(); });
  QObject::connect(m_area->verticalScrollBar(), &QScrollBar::valueChanged, m_area, [this](int line) {
    if (m_applyingScroll) return;
    if (auto* model = dynamic_cast<RichEdit*>(Model())) model->SetFirstVisibleLineFromView(line);
    m_area->viewport()->update();
  });
}

QtRichTextView::~QtRichTextView() {
  m_timer.stop();
  m_area->m_view = nullptr;
  m_area->verticalScrollBar()->disconnect();
}

void QtRichTextView::Sync(unsigned changes) {
  QtWindowView::Sync(changes & (Window::kChangeRect | Window::kChangeFont | Window::kChangeStyle));
  m_pending |= changes;
  if (m_timer.isActive()) return;
  const qint64 elapsed = m_sinceRefresh.isValid() ? m_sinceRefresh.elapsed() : kRefreshInterval;
  if (elapsed >= kRefreshInterval) {
    Refresh();
  } else {
    m_timer.start(static_cast<int>(kRefreshInterval - elapsed));
  }
}

QFont QtRichTextView::FontOf(const CharFormat& format) const {
  QFont font = format.szFaceName.empty() ? m_area->font() : ToQFont(Font(format.szFaceName, format.yHeight / 2));
  font.setPointSizeF(format.yHeight / 20.0);
  font.setBold(format.Bold());
  font.setUnderline(format.Underline());
  return font;
}

int QtRichTextView::LineHeight() const {
  auto* edit = dynamic_cast<RichEdit*>(Model());
  const QFont font = edit != nullptr ? FontOf(edit->GetDefaultCharFormat()) : m_area->font();
  return std::max(QFontMetrics(font).lineSpacing(), 1);
}

int QtRichTextView::WrapWidth() const {
  auto* edit = dynamic_cast<RichEdit*>(Model());
  if (edit == nullptr || !edit->IsWrapping()) return 0;
  const LONG twips = edit->GetTargetLineWidth();
  if (twips == 0) return std::max(m_area->viewport()->width() - kMargin, 1);
  const double dpi = QGuiApplication::primaryScreen() != nullptr ? QGuiApplication::primaryScreen()->logicalDotsPerInchX() : 96.0;
  return std::max(static_cast<int>(twips * dpi / 1440.0), 20);
}

void QtRichTextView::Refresh() {
  auto* edit = dynamic_cast<RichEdit*>(Model());
  if (edit == nullptr) return;
  const unsigned changes = m_pending;
  m_pending = 0;
  m_sinceRefresh.restart();
  ++m_refreshes;
  const int visible = std::max(m_area->viewport()->height() / LineHeight(), 1);
  QScrollBar* down = m_area->verticalScrollBar();
  QScrollBar* across = m_area->horizontalScrollBar();
  m_applyingScroll = true;
  const int lastTop = LastTopLine(*edit, visible);
  down->setRange(0, lastTop);
  down->setPageStep(visible);
  if (changes & (Window::kChangeScroll | Window::kChangeContent)) down->setValue(std::min(edit->GetFirstVisibleLine(), lastTop));
  m_applyingScroll = false;
  if (WrapWidth() > 0) {
    across->setRange(0, 0);
  } else {
    const int width = static_cast<int>(edit->GetLongestLine()) * QFontMetrics(FontOf(edit->GetDefaultCharFormat())).averageCharWidth();
    across->setRange(0, std::max(width + 2 * kMargin - m_area->viewport()->width(), 0));
    across->setPageStep(m_area->viewport()->width());
  }
  m_area->viewport()->update();
}

void QtRichTextView::Wrap(const RichEdit::Line& line, int which, int width, std::vector<Row>* rows) const {
  const long length = static_cast<long>(line.text.size());
  if (width == 0 || length == 0) {
    rows->push_back(Row{which, 0, length});
    return;
  }
  // Break after the last blank before the character that would pass the line width (or at that
  // character when the row has no blank), measuring in each run's own font.
  long from = 0;
  long afterBlank = 0;
  int x = 0;
  int xAfterBlank = 0;
  for (const RichEdit::Run& run : line.runs) {
    const QFontMetrics metrics(FontOf(run.format));
    for (long i = run.start; i < run.end; ++i) {
      const char c = line.text[static_cast<std::size_t>(i)];
      const int advance = metrics.horizontalAdvance(QChar(static_cast<unsigned char>(c)));
      if (x + advance > width && i > from) {
        const long at = afterBlank > from ? afterBlank : i;
        rows->push_back(Row{which, from, at});
        x = at == i ? 0 : x - xAfterBlank;
        from = at;
      }
      x += advance;
      if (c == ' ') {
        afterBlank = i + 1;
        xAfterBlank = x;
      }
    }
  }
  rows->push_back(Row{which, from, length});
}

std::vector<QtRichTextView::Row> QtRichTextView::RowsInSight(std::vector<RichEdit::Line>* lines) const {
  std::vector<Row> rows;
  auto* edit = dynamic_cast<RichEdit*>(Model());
  if (edit == nullptr) return rows;
  const int wanted = m_area->viewport()->height() / LineHeight() + 1;
  const int width = WrapWidth();
  RichEdit::Line line;
  for (int index = m_area->verticalScrollBar()->value(); static_cast<int>(rows.size()) < wanted && edit->GetLine(index, &line); ++index) {
    lines->push_back(line);
    Wrap(line, static_cast<int>(lines->size()) - 1, width, &rows);
  }
  return rows;
}

int QtRichTextView::LastTopLine(const RichEdit& edit, int visible) const {
  const int count = edit.GetLineCount();
  const int width = WrapWidth();
  if (width == 0) return std::max(count - visible, 0);
  // Wrapped lines take several rows: the last page starts where the rows from the end fill it.
  std::vector<Row> rows;
  RichEdit::Line line;
  int top = count;
  while (top > 0 && edit.GetLine(top - 1, &line)) {
    rows.clear();
    Wrap(line, 0, width, &rows);
    visible -= static_cast<int>(rows.size());
    if (visible < 0) break;
    --top;
  }
  return std::min(top, count - 1);
}

std::vector<QtRichTextView::Segment> QtRichTextView::SegmentsOf(const RichEdit::Line& line, const Row& row) const {
  std::vector<Segment> segments;
  for (const RichEdit::Run& run : line.runs) {
    const long from = std::max(run.start, row.from);
    const long to = std::min(run.end, row.to);
    if (from >= to) continue;
    Segment segment;
    segment.text = QString::fromLatin1(line.text.data() + from, static_cast<qsizetype>(to - from)).remove(QLatin1Char('\r'));
    segment.colour = run.format.AutoColor() ? m_area->palette().color(QPalette::Text)
                                            : ReadableOn(ToQColor(run.format.crTextColor), m_area->palette().color(QPalette::Base));
    segment.font = FontOf(run.format);
    segments.push_back(segment);
  }
  return segments;
}

std::vector<std::vector<QtRichTextView::Segment>> QtRichTextView::VisibleRows() const {
  std::vector<RichEdit::Line> lines;
  std::vector<std::vector<Segment>> shown;
  for (const Row& row : RowsInSight(&lines)) shown.push_back(SegmentsOf(lines[static_cast<std::size_t>(row.line)], row));
  return shown;
}

void QtRichTextView::Paint(QPainter& painter) const {
  auto* edit = dynamic_cast<RichEdit*>(Model());
  if (edit == nullptr) return;
  const int height = LineHeight();
  const int ascent = QFontMetrics(FontOf(edit->GetDefaultCharFormat())).ascent();
  std::vector<RichEdit::Line> lines;
  int y = 0;
  for (const Row& row : RowsInSight(&lines)) {
    int x = kMargin - m_area->horizontalScrollBar()->value();
    for (const Segment& segment : SegmentsOf(lines[static_cast<std::size_t>(row.line)], row)) {
      painter.setFont(segment.font);
      painter.setPen(segment.colour);
      painter.drawText(x, y + ascent, segment.text);
      x += QFontMetrics(segment.font).horizontalAdvance(segment.text);
    }
    y += height;
  }
}

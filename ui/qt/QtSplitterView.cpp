#include "ui/qt/QtSplitterView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace {

class SplitterBar : public QWidget {
 public:
  SplitterBar(HWND splitter, QWidget* parent) : QWidget(parent), m_splitter(splitter) {
    setCursor(Qt::SplitVCursor);
    setAttribute(Qt::WA_Hover);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    if (m_grab >= 0) option.state |= QStyle::State_Sunken;
    style()->drawControl(QStyle::CE_Splitter, &option, &painter, this);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    m_grab = event->position().toPoint().y();
    update();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (m_grab < 0) return;
    const int top = mapToParent(event->position().toPoint()).y() - m_grab;
    if (auto* splitter = dynamic_cast<Splitter*>(Window::FromHandle(m_splitter))) splitter->UserDrag(top);
  }
  void mouseReleaseEvent(QMouseEvent*) override {
    m_grab = -1;
    update();
  }

 private:
  HWND m_splitter;
  int m_grab = -1;  // where in the bar the drag took hold; -1 without a drag
};

class SplitterView : public QtWindowView {
 public:
  SplitterView(Splitter& splitter, QWidget* parent) : QtWindowView(splitter, new SplitterBar(splitter.GetSafeHwnd(), parent)) {}

 protected:
  // The bar overlaps the edges of the windows beside it, so it stays above them.
  void SyncKind(unsigned changes) override {
    if (changes & (Window::kChangeRect | Window::kChangeStyle)) Widget()->raise();
  }
};

}  // namespace

std::unique_ptr<QtWindowView> MakeSplitterView(Splitter& splitter, QWidget* parent) {
  return std::make_unique<SplitterView>(splitter, parent);
}

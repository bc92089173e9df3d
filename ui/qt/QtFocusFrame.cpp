#include "ui/qt/QtFocusFrame.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>


namespace {

class FrameWidget : public QWidget {
 public:
  explicit FrameWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("pelorinFocusFrame"));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Highlight), QtFocusFrame::kWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(QtFocusFrame::kWidth / 2.0, QtFocusFrame::kWidth / 2.0, -QtFocusFrame::kWidth / 2.0,
                                             -QtFocusFrame::kWidth / 2.0));
  }
};

// The widget that draws a window (it carries the window's handle, see QtWindowView): the focus may
// be on a part of it, such as a combo box's edit field.
QWidget* ControlOf(QWidget* widget) {
  for (; widget != nullptr && !widget->isWindow(); widget = widget->parentWidget())
    if (widget->property("pelorinHwnd").isValid()) return widget;
  return nullptr;
}

}  // namespace

QtFocusFrame::QtFocusFrame() {
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { Follow(now); });
}

QtFocusFrame::~QtFocusFrame() {
  if (m_target) m_target->removeEventFilter(this);
  delete m_frame.data();
}

void QtFocusFrame::Follow(QWidget* focused) {
  QWidget* control = ControlOf(focused);
  if (control == m_target) return;
  if (m_target) m_target->removeEventFilter(this);
  m_target = control;
  if (control == nullptr) {
    if (m_frame) m_frame->hide();
    return;
  }
  control->installEventFilter(this);
  if (!m_frame) {
    m_frame = new FrameWidget(control->parentWidget());
  } else if (m_frame->parentWidget() != control->parentWidget()) {
    m_frame->setParent(control->parentWidget());
  }
  Place();
}

void QtFocusFrame::Place() {
  if (!m_frame) return;
  if (!m_target || !m_target->isVisible()) {
    m_frame->hide();
    return;
  }
  // Kept inside the parent: a control that fills it (a pane) is framed over its own edges.
  m_frame->setGeometry(m_target->geometry().adjusted(-kWidth, -kWidth, kWidth, kWidth) & m_frame->parentWidget()->rect());
  m_frame->raise();
  m_frame->show();
}

bool QtFocusFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_target) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::ZOrderChange:
        Place();
        break;
      default:
        break;
    }
  }
  return false;
}

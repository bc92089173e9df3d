#include "ui/qt/QtWindowView.h"

#include <QVariant>

#include "ui/qt/QtText.h"

namespace {
constexpr char kHandleProperty[] = "pelorinHwnd";
}

QtWindowView::QtWindowView(Window& window, QWidget* widget) : m_hwnd(window.GetSafeHwnd()), m_widget(widget) {
  widget->setProperty(kHandleProperty, QVariant::fromValue<qulonglong>(m_hwnd));
}

QtWindowView::~QtWindowView() {
  if (m_widget) {
    // Windows this one owns are drawn as its children but may outlive it: they are let go first.
    for (QWidget* owned : m_widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!owned->isWindow() || !owned->property(kHandleProperty).isValid()) continue;
      const bool shown = owned->isVisible();
      owned->setParent(nullptr, owned->windowFlags());
      owned->setVisible(shown);
    }
    // The widget may be inside one of its own event handlers: it goes once they are done.
    m_widget->setProperty(kHandleProperty, QVariant());
    m_widget->hide();
    m_widget->disconnect();
    m_widget->deleteLater();
  }
}

HWND QtWindowView::HandleOf(const QObject* object) {
  for (; object != nullptr; object = object->parent()) {
    const QVariant value = object->property(kHandleProperty);
    if (value.isValid()) return static_cast<HWND>(value.toULongLong());
  }
  return kNoWindow;
}

void QtWindowView::Focus() {
  if (m_widget) m_widget->setFocus(Qt::OtherFocusReason);
}

void QtWindowView::Sync(unsigned changes) {
  Window* window = Model();
  if (window == nullptr || !m_widget) return;
  m_syncing = true;
  if ((changes & Window::kChangeRect) && OwnsGeometry()) {
    const Rect rect = window->GetRectInParent();
    m_widget->setGeometry(rect.left, rect.top, std::max(rect.Width(), 0), std::max(rect.Height(), 0));
  }
  if (changes & Window::kChangeFont) {
    const Font font = window->GetFont();
    if (!font.IsNull()) m_widget->setFont(ToQFont(font));
  }
  SyncKind(changes);
  if (changes & Window::kChangeStyle) {
    m_widget->setEnabled(window->IsWindowEnabled());
    // Tab visits a dialog's tab stops only, in the order they were made: the template's.
    const Window* parent = window->GetParent();
    if (parent != nullptr && parent->Kind() == WindowKind::Dialog && m_widget->focusPolicy() != Qt::NoFocus)
      m_widget->setFocusPolicy((window->GetStyle() & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    if (m_widget->isVisibleTo(m_widget->parentWidget()) != window->IsShown() || m_widget->isWindow()) {
      m_widget->setVisible(window->IsShown());
    }
  }
  m_syncing = false;
}

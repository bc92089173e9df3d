#include "ui/qt/QtTopLevelViews.h"

#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

#include "ui/qt/QtIcons.h"
#include "ui/qt/QtMenus.h"
#include "ui/qt/QtText.h"

namespace {

// Reports a top-level window's size and place to its window.
void ReportTopLevel(HWND handle, QWidget* widget, int topMargin) {
  Window* window = Window::FromHandle(handle);
  if (window == nullptr) return;
  const QRect geometry = widget->geometry();
  window->SetNonClientMargins(Rect{0, topMargin, 0, 0});
  window->SetRectFromView(Rect{geometry.left(), geometry.top(), geometry.left() + geometry.width(), geometry.top() + geometry.height()});
}

// The platform's virtual key of a Qt key; 0 for keys no accelerator uses.
UINT VirtualKey(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<UINT>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return VK_F1 + static_cast<UINT>(key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
  }
}

class FrameWidget : public QMainWindow {
 public:
  explicit FrameWidget(HWND frame) : m_frame(frame) {
    setCentralWidget(new QWidget(this));
    setAttribute(Qt::WA_DeleteOnClose, false);
  }
  int TopMargin() const { return menuBar()->isVisible() || !menuBar()->actions().isEmpty() ? menuBar()->sizeHint().height() : 0; }

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();  // the frame decides, and destroys itself when it agrees
    if (Window* frame = Window::FromHandle(m_frame)) frame->SendMessage(WM_CLOSE);
  }
  // Keys the panes leave alone reach the frame, which looks them up in its accelerators.
  void keyPressEvent(QKeyEvent* event) override {
    auto* frame = dynamic_cast<FrameWindow*>(Window::FromHandle(m_frame));
    const UINT key = VirtualKey(event->key());
    std::uint8_t modifiers = 0;
    if (event->modifiers() & Qt::ShiftModifier) modifiers |= FSHIFT;
    if (event->modifiers() & Qt::ControlModifier) modifiers |= FCONTROL;
    if (event->modifiers() & Qt::AltModifier) modifiers |= FALT;
    if (frame != nullptr && key != 0 && frame->TranslateAccelerator(key, modifiers)) {
      event->accept();
      return;
    }
    QMainWindow::keyPressEvent(event);
  }
  void resizeEvent(QResizeEvent* event) override {
    QMainWindow::resizeEvent(event);
    ReportTopLevel(m_frame, this, TopMargin());
  }
  void moveEvent(QMoveEvent* event) override {
    QMainWindow::moveEvent(event);
    ReportTopLevel(m_frame, this, TopMargin());
  }

 private:
  HWND m_frame;
};

class FrameView : public QtWindowView {
 public:
  explicit FrameView(FrameWindow& frame) : QtWindowView(frame, new FrameWidget(frame.GetSafeHwnd())) {}
  QWidget* ClientWidget() const override { return static_cast<QMainWindow*>(Widget())->centralWidget(); }

 protected:
  void SyncKind(unsigned changes) override {
    auto* main = static_cast<QMainWindow*>(Widget());
    auto* frame = dynamic_cast<FrameWindow*>(Model());
    if (changes & Window::kChangeText) main->setWindowTitle(ToQString(frame->GetWindowText()));
    if (changes & Window::kChangeMenu) BuildMenuBar(main, frame);
    if (changes & Window::kChangeIcon) main->setWindowIcon(ToQIcon(frame->GetIcon()));
  }

 private:
  static void BuildMenuBar(QMainWindow* main, FrameWindow* frame) {
    QMenuBar* bar = main->menuBar();
    bar->clear();
    Menu* menu = frame->GetMenu();
    if (menu == nullptr) return;
    const HWND owner = frame->GetSafeHwnd();
    for (int i = 0; i < menu->GetMenuItemCount(); ++i) {
      const Menu::Item& item = menu->Items()[static_cast<std::size_t>(i)];
      if (!item.popup) {
        QAction* action = bar->addAction(ToQLabel(item.text));
        const UINT id = item.id;
        QObject::connect(action, &QAction::triggered, bar, [owner, id] { ::PostMessage(owner, WM_COMMAND, id, 0); });
        continue;
      }
      QMenu* sub = bar->addMenu(ToQLabel(item.text));
      // The menu is found again by position when it opens: the frame may have replaced it.
      QObject::connect(sub, &QMenu::aboutToShow, sub, [sub, owner, i] {
        auto* window = dynamic_cast<FrameWindow*>(Window::FromHandle(owner));
        Menu* model = window != nullptr && window->GetMenu() != nullptr ? window->GetMenu()->GetSubMenu(i) : nullptr;
        if (model == nullptr) return;
        window->OnMenuOpening(*model);
        FillQMenu(sub, *model, owner);
      });
      QObject::connect(sub, &QMenu::triggered, sub, [owner](QAction* action) {
        if (action->data().isValid()) ::PostMessage(owner, WM_COMMAND, action->data().toUInt(), 0);
      });
    }
  }
};

class DialogWidget : public QDialog {
 public:
  DialogWidget(HWND dialog, QWidget* owner) : QDialog(owner), m_dialog(dialog) {}

 protected:
  Dialog* Model() const { return dynamic_cast<Dialog*>(Window::FromHandle(m_dialog)); }
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    if (Dialog* dialog = Model()) dialog->SendMessage(WM_CLOSE);
  }
  void keyPressEvent(QKeyEvent* event) override {
    Dialog* dialog = Model();
    if (dialog == nullptr) return;
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        dialog->PressEnter();
        return;
      case Qt::Key_Escape:
        dialog->PressEscape();
        return;
      case Qt::Key_F1:
        dialog->PressHelp();
        return;
      default:
        QDialog::keyPressEvent(event);
    }
  }
  void resizeEvent(QResizeEvent* event) override {
    QDialog::resizeEvent(event);
    ReportTopLevel(m_dialog, this, 0);
  }
  void moveEvent(QMoveEvent* event) override {
    QDialog::moveEvent(event);
    ReportTopLevel(m_dialog, this, 0);
  }

 private:
  HWND m_dialog;
};

class DialogView : public QtWindowView {
 public:
  DialogView(Dialog& dialog, QWidget* owner) : QtWindowView(dialog, new DialogWidget(dialog.GetSafeHwnd(), owner)) {
    auto* widget = static_cast<QDialog*>(Widget());
    widget->setModal(dialog.IsModal());
    widget->setSizeGripEnabled(false);
  }

  // A dialog without a list or a pane to grow keeps its size; one with them may grow but not
  // shrink below the size it was laid out at. The limits are lifted while the window itself
  // places the widget.
  void Sync(unsigned changes) override {
    QWidget* widget = Widget();
    const bool placing = (changes & (Window::kChangeRect | Window::kChangeStyle)) != 0 && widget != nullptr;
    if (placing) {
      widget->setMinimumSize(0, 0);
      widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    QtWindowView::Sync(changes);
    auto* dialog = dynamic_cast<Dialog*>(Model());
    if (!placing || dialog == nullptr) return;
    if (dialog->IsResizable()) {
      const Size least = dialog->MinimumClientSize();
      widget->setMinimumSize(std::min(least.cx, widget->width()), std::min(least.cy, widget->height()));
    } else {
      widget->setFixedSize(widget->size());
    }
  }

 protected:
  void SyncKind(unsigned changes) override {
    if (changes & Window::kChangeText) Widget()->setWindowTitle(ToQString(Model()->GetWindowText()));
  }
};

class StatusBarView : public QtWindowView {
 public:
  StatusBarView(StatusBar& bar, QMainWindow* frame) : QtWindowView(bar, frame->statusBar()) {}

 protected:
  bool OwnsGeometry() const override { return false; }
  void SyncKind(unsigned changes) override {
    auto* widget = static_cast<QStatusBar*>(Widget());
    auto* bar = dynamic_cast<StatusBar*>(Model());
    if ((changes & Window::kChangeContent) == 0 && (changes & Window::kChangeText) == 0) return;
    const int count = bar->GetCount();
    if (static_cast<int>(m_labels.size()) != count) {
      for (QLabel* label : m_labels) {
        widget->removeWidget(label);
        delete label;
      }
      m_labels.clear();
      for (int i = 0; i < count; ++i) {
        auto* label = new QLabel(widget);
        // A long message or figure line is cut rather than widening the frame.
        label->setMinimumWidth(1);
        if (i == 0) {
          widget->addWidget(label, 1);
        } else {
          // The keyboard indicators are shown, not tracked; a pane of the program's own is live.
          const UINT id = bar->GetItemID(i);
          label->setEnabled(id != ID_INDICATOR_CAPS && id != ID_INDICATOR_NUM && id != ID_INDICATOR_SCRL);
          widget->addPermanentWidget(label);
        }
        m_labels.push_back(label);
      }
    }
    for (int i = 0; i < count; ++i) m_labels[static_cast<std::size_t>(i)]->setText(ToQString(bar->GetPaneText(i)));
    // The strip's real height, for frames that stack panes above it.
    if (Window* parent = bar->GetParent()) {
      const Rect client = parent->GetClientRect();
      const int height = widget->sizeHint().height();
      bar->SetRectFromView(Rect{0, client.bottom - height, client.right, client.bottom});
    }
  }

 private:
  std::vector<QLabel*> m_labels;
};

}  // namespace

std::unique_ptr<QtWindowView> MakeFrameView(FrameWindow& frame) { return std::make_unique<FrameView>(frame); }

std::unique_ptr<QtWindowView> MakeDialogView(Dialog& dialog, QWidget* owner) { return std::make_unique<DialogView>(dialog, owner); }

std::unique_ptr<QtWindowView> MakeStatusBarView(StatusBar& bar, QMainWindow* frame) { return std::make_unique<StatusBarView>(bar, frame); }

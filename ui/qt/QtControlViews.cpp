#include "ui/qt/QtControlViews.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include "ui/Button.h"
#include "ui/ComboBox.h"
#include "ui/Edit.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/ProgressBar.h"
#include "ui/RichEdit.h"
#include "ui/StaticText.h"
#include "ui/qt/QtIcons.h"
#include "ui/qt/QtRichTextView.h"
#include "ui/qt/QtText.h"

namespace {

template <class T>
T* ModelAs(const QtWindowView& view) {
  return dynamic_cast<T*>(view.Model());
}

class LabelView : public QtWindowView {
 public:
  LabelView(Window& window, QWidget* parent) : QtWindowView(window, new QLabel(parent)) {
    static_cast<QLabel*>(Widget())->setWordWrap(true);
    static_cast<QLabel*>(Widget())->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }

 protected:
  void SyncKind(unsigned changes) override {
    auto* label = static_cast<QLabel*>(Widget());
    if (changes & Window::kChangeText) label->setText(ToQString(Model()->GetWindowText()));
    if (changes & Window::kChangeIcon) {
      // A label with an icon shows the picture, at the label's size.
      const auto* text = dynamic_cast<const StaticText*>(Model());
      const QIcon icon = text != nullptr ? ToQIcon(text->GetIcon()) : QIcon();
      if (!icon.isNull()) label->setPixmap(icon.pixmap(label->size()));
    }
  }
};

class GroupView : public QtWindowView {
 public:
  GroupView(Window& window, QWidget* parent) : QtWindowView(window, new QGroupBox(parent)) { Widget()->lower(); }

 protected:
  void SyncKind(unsigned changes) override {
    if (changes & Window::kChangeText) static_cast<QGroupBox*>(Widget())->setTitle(ToQLabel(Model()->GetWindowText()));
  }
};

class GenericView : public QtWindowView {
 public:
  GenericView(Window& window, QWidget* parent) : QtWindowView(window, new QWidget(parent)) {}

 protected:
  void SyncKind(unsigned) override {}
};

class LineEditView : public QtWindowView {
 public:
  LineEditView(Edit& edit, QWidget* parent) : QtWindowView(edit, new QLineEdit(parent)) {
    auto* line = static_cast<QLineEdit*>(Widget());
    if (edit.IsNumbersOnly()) line->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), line));
    const HWND handle = edit.GetSafeHwnd();
    QObject::connect(line, &QLineEdit::textEdited, line, [handle](const QString& text) {
      if (auto* model = dynamic_cast<Edit*>(Window::FromHandle(handle))) model->SetWindowText(FromQString(text));
    });
  }

 protected:
  void SyncKind(unsigned changes) override {
    auto* line = static_cast<QLineEdit*>(Widget());
    Edit* edit = ModelAs<Edit>(*this);
    if (changes & Window::kChangeText) {
      const QString text = ToQString(edit->GetWindowText());
      if (line->text() != text) {
        // A text the program sets shows from its start, as a window text does, not scrolled to
        // its end (a long IPv6 title would hide its type and size).
        line->setText(text);
        line->setCursorPosition(0);
      }
    }
    if (changes & Window::kChangeStyle) {
      line->setReadOnly(edit->IsReadOnly());
      line->setMaxLength(static_cast<int>(std::min<UINT>(edit->GetLimitText(), 32767)));
    }
  }
};

class MultiLineEditView : public QtWindowView {
 public:
  MultiLineEditView(Edit& edit, QWidget* parent) : QtWindowView(edit, new QPlainTextEdit(parent)) {
    auto* text = static_cast<QPlainTextEdit*>(Widget());
    const HWND handle = edit.GetSafeHwnd();
    QObject::connect(text, &QPlainTextEdit::textChanged, text, [this, text, handle] {
      if (Syncing()) return;
      if (auto* model = dynamic_cast<Edit*>(Window::FromHandle(handle))) model->SetWindowText(FromQString(text->toPlainText()));
    });
  }

 protected:
  void SyncKind(unsigned changes) override {
    auto* text = static_cast<QPlainTextEdit*>(Widget());
    Edit* edit = ModelAs<Edit>(*this);
    if (changes & Window::kChangeText) {
      const QString value = ToQString(edit->GetWindowText()).remove(QLatin1Char('\r'));
      if (text->toPlainText() != value) text->setPlainText(value);
    }
    if (changes & Window::kChangeStyle) text->setReadOnly(edit->IsReadOnly());
  }
};

class ButtonView : public QtWindowView {
 public:
  ButtonView(Button& button, QWidget* parent) : QtWindowView(button, Make(button, parent)) {
    auto* widget = static_cast<QAbstractButton*>(Widget());
    const HWND handle = button.GetSafeHwnd();
    QObject::connect(widget, &QAbstractButton::clicked, widget, [handle] {
      if (auto* model = dynamic_cast<Button*>(Window::FromHandle(handle))) model->Click();
    });
  }

 protected:
  static QAbstractButton* Make(Button& button, QWidget* parent) {
    if (button.IsCheckBox()) return new QCheckBox(parent);
    if (button.IsRadioButton()) {
      auto* radio = new QRadioButton(parent);
      radio->setAutoExclusive(false);  // the framework keeps the group
      return radio;
    }
    auto* push = new QPushButton(parent);
    push->setAutoDefault(false);
    push->setDefault(button.IsDefaultButton());
    return push;
  }
  void SyncKind(unsigned changes) override {
    auto* widget = static_cast<QAbstractButton*>(Widget());
    Button* button = ModelAs<Button>(*this);
    if (changes & Window::kChangeText) widget->setText(ToQLabel(button->GetWindowText()));
    if ((changes & Window::kChangeStyle) && !button->IsPushButton()) {
      widget->setCheckable(true);
      widget->setChecked(button->GetCheck() == BST_CHECKED);
    }
  }
};

class ComboView : public QtWindowView {
 public:
  ComboView(ComboBox& combo, QWidget* parent) : QtWindowView(combo, new QComboBox(parent)) {
    auto* box = static_cast<QComboBox*>(Widget());
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    const HWND handle = combo.GetSafeHwnd();
    QObject::connect(box, &QComboBox::activated, box, [handle](int index) {
      if (auto* model = dynamic_cast<ComboBox*>(Window::FromHandle(handle))) model->SelectItem(index);
    });
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box, [handle](const QString& text) {
      if (auto* model = dynamic_cast<ComboBox*>(Window::FromHandle(handle))) model->TypeText(FromQString(text));
    });
  }

 protected:
  void SyncKind(unsigned changes) override {
    auto* box = static_cast<QComboBox*>(Widget());
    ComboBox* combo = ModelAs<ComboBox>(*this);
    QSignalBlocker block(box);
    if (changes & (Window::kChangeRect | Window::kChangeFont)) {
      // The box is drawn closed at the window's height; what the template gave the dropped list
      // sets how many entries the list shows at once.
      const int listHeight = combo->GetDroppedControlRect().Height() - combo->GetRectInParent().Height();
      const int rowHeight = std::max(box->fontMetrics().height() + 4, 1);
      box->setMaxVisibleItems(std::max(listHeight / rowHeight, 1));
    }
    if (changes & (Window::kChangeContent | Window::kChangeSelection)) {
      box->clear();
      for (const std::string& entry : combo->Entries()) box->addItem(ToQString(entry));
      box->setCurrentIndex(combo->GetCurSel());
    }
    const QString text = ToQString(combo->GetWindowText());
    if (box->currentText() != text) box->setEditText(text);
  }
};

class ListBoxView : public QtWindowView {
 public:
  ListBoxView(ListBox& list, QWidget* parent) : QtWindowView(list, new QListWidget(parent)) {
    auto* widget = static_cast<QListWidget*>(Widget());
    const HWND handle = list.GetSafeHwnd();
    QObject::connect(widget, &QListWidget::currentRowChanged, widget, [this, handle](int row) {
      if (Syncing()) return;
      if (auto* model = dynamic_cast<ListBox*>(Window::FromHandle(handle))) {
        if (model->GetCurSel() != row) model->SelectItem(row);
      }
    });
    QObject::connect(widget, &QListWidget::itemDoubleClicked, widget, [widget, handle](QListWidgetItem* item) {
      if (auto* model = dynamic_cast<ListBox*>(Window::FromHandle(handle))) model->DoubleClickItem(widget->row(item));
    });
  }

 protected:
  void SyncKind(unsigned changes) override {
    auto* widget = static_cast<QListWidget*>(Widget());
    ListBox* list = ModelAs<ListBox>(*this);
    QSignalBlocker block(widget);
    if (changes & Window::kChangeContent) {
      widget->clear();
      for (const std::string& line : list->Lines()) widget->addItem(ToQString(line));
    }
    if (changes & (Window::kChangeContent | Window::kChangeSelection)) widget->setCurrentRow(list->GetCurSel());
  }
};

class ProgressView : public QtWindowView {
 public:
  ProgressView(ProgressBar& bar, QWidget* parent) : QtWindowView(bar, new QProgressBar(parent)) {
    static_cast<QProgressBar*>(Widget())->setRange(0, 100);
  }

 protected:
  void SyncKind(unsigned changes) override {
    if (changes & Window::kChangeContent) static_cast<QProgressBar*>(Widget())->setValue(ModelAs<ProgressBar>(*this)->GetPos());
  }
};

class AddressView : public QtWindowView {
 private:
  // The characters of a dotted address, or of IPv6 text (45 with a dotted tail) where allowed.
  void SetValidator(bool ipv6) {
    auto* line = static_cast<QLineEdit*>(Widget());
    if (ipv6 == m_ipv6 && line->validator() != nullptr) return;
    m_ipv6 = ipv6;
    delete line->validator();
    const QString pattern = ipv6 ? QStringLiteral("[0-9A-Fa-f.:]{0,45}") : QStringLiteral("[0-9.]{0,15}");
    line->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), line));
  }
  bool m_ipv6 = false;

 public:
  AddressView(IpAddressControl& address, QWidget* parent) : QtWindowView(address, new QLineEdit(parent)) {
    auto* line = static_cast<QLineEdit*>(Widget());
    line->setPlaceholderText(QStringLiteral("   .   .   ."));
    SetValidator(address.AllowsIpv6());
    const HWND handle = address.GetSafeHwnd();
    QObject::connect(line, &QLineEdit::editingFinished, line, [line, handle] {
      auto* model = dynamic_cast<IpAddressControl*>(Window::FromHandle(handle));
      if (model != nullptr && FromQString(line->text()) != model->GetWindowText()) model->TypeText(FromQString(line->text()));
    });
  }

 protected:
  void SyncKind(unsigned changes) override {
    auto* address = ModelAs<IpAddressControl>(*this);
    if (changes & Window::kChangeStyle) SetValidator(address->AllowsIpv6());
    if ((changes & Window::kChangeText) == 0) return;
    auto* line = static_cast<QLineEdit*>(Widget());
    line->setText(address->IsBlank() ? QString() : ToQString(address->GetWindowText()));
    line->setCursorPosition(0);  // a long IPv6 address shows from its start
  }
};

}  // namespace

std::unique_ptr<QtWindowView> MakeControlView(Window& window, QWidget* parent) {
  switch (window.Kind()) {
    case WindowKind::Static:
      return std::make_unique<LabelView>(window, parent);
    case WindowKind::GroupBox:
      return std::make_unique<GroupView>(window, parent);
    case WindowKind::Edit: {
      auto& edit = static_cast<Edit&>(window);
      if (edit.IsMultiLine()) return std::make_unique<MultiLineEditView>(edit, parent);
      return std::make_unique<LineEditView>(edit, parent);
    }
    case WindowKind::Button:
      return std::make_unique<ButtonView>(static_cast<Button&>(window), parent);
    case WindowKind::ComboBox:
      return std::make_unique<ComboView>(static_cast<ComboBox&>(window), parent);
    case WindowKind::ListBox:
      return std::make_unique<ListBoxView>(static_cast<ListBox&>(window), parent);
    case WindowKind::IpAddress:
      return std::make_unique<AddressView>(static_cast<IpAddressControl&>(window), parent);
    case WindowKind::Progress:
      return std::make_unique<ProgressView>(static_cast<ProgressBar&>(window), parent);
    case WindowKind::RichEdit:
      return std::make_unique<QtRichTextView>(static_cast<RichEdit&>(window), parent);
    case WindowKind::Generic:
      return std::make_unique<GenericView>(window, parent);
    default:
      return nullptr;
  }
}

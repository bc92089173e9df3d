#include "ui/qt/QtServices.h"

#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include "ui/Menu.h"
#include "ui/qt/QtMenus.h"
#include "ui/qt/QtText.h"
#include "ui/qt/QtWindowView.h"

namespace {

QWidget* OwnerWidget(Window* owner) {
  if (owner == nullptr) return nullptr;
  auto* view = dynamic_cast<QtWindowView*>(owner->GetTopLevelParent()->GetView());
  return view != nullptr ? view->Widget() : nullptr;
}

// "Filter Files|*.flt|All Files|*.*||" becomes "Filter Files (*.flt);;All Files (*)".
QString ToQtFilter(const std::string& filter) {
  const QStringList parts = ToQString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' ')).replace(QStringLiteral("*.*"), QStringLiteral("*"));
    filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace

int QtServices::MessageBox(Window* owner, const std::string& text, const std::string& caption, UINT type) {
  QMessageBox box(OwnerWidget(owner));
  box.setWindowTitle(ToQString(caption));
  box.setText(ToQString(text));
  switch (type & 0xF0) {
    case MB_ICONHAND:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONEXCLAMATION:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  const bool second = (type & MB_DEFBUTTON2) != 0;
  switch (type & 0xF) {
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(second ? QMessageBox::No : QMessageBox::Yes);
      break;
    case MB_YESNOCANCEL:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      box.setDefaultButton(second ? QMessageBox::No : QMessageBox::Yes);
      break;
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(second ? QMessageBox::Cancel : QMessageBox::Ok);
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    case QMessageBox::Cancel:
      return IDCANCEL;
    default:
      return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
  }
}

bool QtServices::FileDialog(Window* owner, const FileDialogRequest& request, std::string* path) {
  QString folder = ToQString(request.initialDir).replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (folder.isEmpty()) folder = QDir::currentPath();
  const QString start = request.fileName.empty() ? folder : QDir(folder).filePath(ToQString(request.fileName));
  const QString filter = ToQtFilter(request.filter);
  QString chosen;
  if (request.open) {
    chosen = QFileDialog::getOpenFileName(OwnerWidget(owner), ToQString(request.title), start, filter);
  } else {
    QFileDialog::Options options;
    if ((request.flags & OFN_OVERWRITEPROMPT) == 0) options |= QFileDialog::DontConfirmOverwrite;
    chosen = QFileDialog::getSaveFileName(OwnerWidget(owner), ToQString(request.title), start, filter, nullptr, options);
    if (!chosen.isEmpty() && !request.defaultExt.empty() && QFileInfo(chosen).suffix().isEmpty()) {
      chosen += QLatin1Char('.') + ToQString(request.defaultExt);
    }
  }
  if (chosen.isEmpty()) return false;
  if ((request.flags & OFN_FILEMUSTEXIST) && !QFileInfo::exists(chosen)) return false;
  *path = FromQString(chosen);
  return true;
}

UINT QtServices::TrackPopupMenu(Menu& menu, Point screen, Window* owner) {
  QMenu popup(OwnerWidget(owner));
  FillQMenu(&popup, menu, owner != nullptr ? owner->GetSafeHwnd() : kNoWindow);
  QAction* chosen = popup.exec(QPoint(screen.x, screen.y));
  return chosen != nullptr && chosen->data().isValid() ? chosen->data().toUInt() : 0;
}

void QtServices::SetCursor(CursorShape shape) {
  UiServices::SetCursor(shape);
  if (shape == CursorShape::Wait && !m_overridden) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    m_overridden = true;
  } else if (shape == CursorShape::Arrow && m_overridden) {
    QGuiApplication::restoreOverrideCursor();
    m_overridden = false;
  }
}

bool QtServices::OpenHelpFile(const std::string& path, UINT) {
  const QFileInfo file(ToQString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
  if (!file.exists()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
}

IconImage QtServices::ProgramIcon(const std::string& executablePath) {
  const IconImage byName = UiServices::ProgramIcon(executablePath);
  if (!byName.themeName.empty() && QIcon::hasThemeIcon(ToQString(byName.themeName))) return byName;
  return {};
}

int QtServices::TextWidth(const Font& font, const std::string& text) {
  return QFontMetrics(ToQFont(font)).horizontalAdvance(ToQString(text));
}

int QtServices::LineHeight(const Font& font) { return QFontMetrics(ToQFont(font)).height(); }

Size QtServices::DialogBaseUnits(const Font& font) {
  const QFontMetrics metrics(ToQFont(font));
  const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int width = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
  return Size{std::max(width, 1), metrics.height()};
}

int QtServices::ScreenDpi() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? static_cast<int>(screen->logicalDotsPerInchX()) : 96;
}

Rect QtServices::WorkArea() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return UiServices::WorkArea();
  const QRect area = screen->availableGeometry();
  return Rect{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()};
}

Point QtServices::GetCursorPos() {
  const QPoint pos = QCursor::pos();
  return Point{pos.x(), pos.y()};
}

void QtServices::SetClipboardText(const std::string& text) {
  if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(ToQString(text));
}

std::string QtServices::GetClipboardText() const {
  const QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard != nullptr ? FromQString(clipboard->text()) : std::string();
}

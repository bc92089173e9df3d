#include "ui/qt/QtText.h"

#include <QColor>

#include "ui/TextCompare.h"

QString ToQString(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string FromQString(const QString& text) { return text.toUtf8().toStdString(); }

QString ToQLabel(const std::string& text) { return ToQString(text).replace(QLatin1Char('\t'), QLatin1Char(' ')); }

QFont ToQFont(const Font& font) {
  if (font.IsNull()) return QFont();
  QFont result;
  if (font.IsFixedPitch()) {
    // The desktop's fixed-pitch face stands in for the platform's ("Courier New").
    result = QFont(QStringLiteral("Monospace"));
    result.setStyleHint(QFont::TypeWriter);
    result.setFixedPitch(true);
  } else if (!EqualsNoCase(font.Face(), "MS Sans Serif") && !EqualsNoCase(font.Face(), "MS Shell Dlg")) {
    result.setFamily(ToQString(font.Face()));
  }
  result.setPointSizeF(font.PointTenths() / 10.0);
  result.setBold(font.Bold());
  return result;
}

QColor ToQColor(COLORREF color) { return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF), static_cast<int>((color >> 16) & 0xFF)); }

#pragma once
#include <QFont>
#include <QString>
#include <string>

#include "ui/Font.h"
#include "ui/UiTypes.h"

// Conversions between the framework's texts, fonts and colours and Qt's.
QString ToQString(const std::string& text);
std::string FromQString(const QString& text);
// Menu and button texts: "&" marks the mnemonic in both; a tab separates an accelerator text.
QString ToQLabel(const std::string& text);
// Maps the platform's font faces to what the desktop has ("Courier New" to a fixed-pitch face).
QFont ToQFont(const Font& font);
QColor ToQColor(COLORREF color);

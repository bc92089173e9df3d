#pragma once
#include <QColor>

// How far apart two colours read, as the ratio of their relative luminances (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);

// A fixed colour as drawn on a background: itself while it reads there (kReadableContrast), else
// the same hue made lighter (on a dark background) or darker (on a light one) until it reads
// comfortably (kDerivedContrast). Panes keep their meaning-bearing colours under the desktop's
// palette, dark ones included.
QColor ReadableOn(const QColor& colour, const QColor& background);

constexpr double kReadableContrast = 3.0;  // the least ratio a drawn text colour keeps
constexpr double kDerivedContrast = 4.5;   // the ratio a colour made readable reaches

#include "ui/qt/QtColours.h"

#include <algorithm>
#include <cmath>

namespace {

double Luminance(const QColor& colour) {
  const auto channel = [](double value) { return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4); };
  const QColor rgb = colour.toRgb();
  return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double first = Luminance(a), second = Luminance(b);
  return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor ReadableOn(const QColor& colour, const QColor& background) {
  if (ContrastRatio(colour, background) >= kReadableContrast) return colour;
  const bool lighten = Luminance(background) < 0.18;  // below mid grey, text reads best lighter
  const QColor hsl = colour.toHsl();
  // The lightness nearest the colour's own that reads: a bisection between it and white or black.
  double near = hsl.lightnessF(), far = lighten ? 1.0 : 0.0;
  const auto at = [&](double lightness) { return QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), static_cast<float>(lightness)).toRgb(); };
  if (ContrastRatio(at(far), background) < kDerivedContrast) return at(far);
  for (int step = 0; step < 16; ++step) {
    const double middle = (near + far) / 2;
    if (ContrastRatio(at(middle), background) >= kDerivedContrast) {
      far = middle;
    } else {
      near = middle;
    }
  }
  return at(far);
}

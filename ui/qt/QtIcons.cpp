#include "ui/qt/QtIcons.h"

#include <QImage>
#include <QPixmap>

#include "ui/qt/QtText.h"

QIcon ToQIcon(const IconImage& icon) {
  if (!icon.themeName.empty() && QIcon::hasThemeIcon(ToQString(icon.themeName))) return QIcon::fromTheme(ToQString(icon.themeName));
  if (!icon.filePath.empty()) {
    QIcon fromFile(ToQString(icon.filePath));
    if (!fromFile.isNull()) return fromFile;
  }
  const std::size_t pixels = static_cast<std::size_t>(icon.width) * static_cast<std::size_t>(icon.height);
  if (icon.width > 0 && icon.height > 0 && icon.argb.size() >= pixels) {
    QImage image(icon.width, icon.height, QImage::Format_ARGB32);
    for (int y = 0; y < icon.height; ++y) {
      for (int x = 0; x < icon.width; ++x) image.setPixel(x, y, icon.argb[static_cast<std::size_t>(y * icon.width + x)]);
    }
    return QIcon(QPixmap::fromImage(image));
  }
  return QIcon::fromTheme(QStringLiteral("application-x-executable"));
}

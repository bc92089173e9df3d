// Writes the program icon as PNG files for the desktop's icon theme:
//   RenderProgramIcon FOLDER SIZE...   ->   FOLDER/SIZExSIZE/pelorinpro.png
// Each size is a whole multiple of the drawn icon, scaled without smoothing so its pixels stay sharp.
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "app/ProgramIcon.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: RenderProgramIcon FOLDER SIZE...\n");
    return 2;
  }
  const IconImage icon = ProgramIcon128();
  QImage image(icon.width, icon.height, QImage::Format_ARGB32);
  for (int y = 0; y < icon.height; ++y)
    for (int x = 0; x < icon.width; ++x) image.setPixel(x, y, icon.argb[static_cast<std::size_t>(y * icon.width + x)]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < icon.width || size % icon.width != 0) {
      std::fprintf(stderr, "RenderProgramIcon: %s is not a multiple of %d\n", argv[i], icon.width);
      return 2;
    }
    const QString folder = QString("%1/%2x%2").arg(argv[1]).arg(size);
    const QString file = folder + "/pelorinpro.png";
    if (!QDir().mkpath(folder) ||
        !image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(file, "PNG")) {
      std::fprintf(stderr, "RenderProgramIcon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}

#pragma once
#include <QIcon>

#include "ui/IconImage.h"

// The icon an IconImage names: from the desktop's theme, a file, or its own pixels.
QIcon ToQIcon(const IconImage& icon);

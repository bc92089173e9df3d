#pragma once
#include <string>

#include "ui/UiTypes.h"

// One column of a report list: heading, width in pixels, alignment (LVCFMT_LEFT, LVCFMT_RIGHT,
// LVCFMT_CENTER) and the sub-item whose texts it shows.
struct ListColumn {
  std::string title;
  int width = -1;  // -1: as wide as the heading
  int format = LVCFMT_LEFT;
  int subItem = -1;  // -1: the column's own index
};

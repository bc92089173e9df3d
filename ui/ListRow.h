#pragma once
#include <string>
#include <vector>

#include "ui/UiTypes.h"

// One row of a report list: a text per sub-item, an image index, states and one item data value
// (a pointer or number that the list never frees).
struct ListRow {
  std::vector<std::string> texts;
  DWORD_PTR data = 0;
  int image = -1;
  UINT state = 0;  // LVIS_SELECTED, LVIS_FOCUSED

  const std::string& Text(int subItem) const {
    static const std::string empty;
    return subItem >= 0 && subItem < static_cast<int>(texts.size()) ? texts[static_cast<std::size_t>(subItem)] : empty;
  }
};

// What a sub-item hit test answers: the row and column under a point (client coordinates).
struct ListHitTest {
  Point pt;
  UINT flags = 0;  // LVHT_ONITEMLABEL, LVHT_NOWHERE, ...
  int iItem = -1;
  int iSubItem = -1;
};

using PFNLVCOMPARE = int (*)(DWORD_PTR data1, DWORD_PTR data2, DWORD_PTR context);

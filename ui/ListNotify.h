#pragma once
#include "ui/UiTypes.h"

// A list control notification as its handlers and its parent see it: which row and column were
// hit, and for LVN_ITEMCHANGED the states before and after.
struct ListNotify {
  HWND hwndFrom = kNoWindow;
  int idFrom = 0;
  int code = 0;  // NM_CLICK, NM_DBLCLK, NM_RCLICK, NM_RETURN, LVN_COLUMNCLICK, LVN_ITEMCHANGED
  int iItem = -1;
  int iSubItem = 0;
  UINT uNewState = 0;
  UINT uOldState = 0;
  UINT uChanged = 0;  // LVIF_STATE for a state change
  Point ptAction;     // client coordinates of the click
  DWORD_PTR lParam = 0;  // the row's item data
};

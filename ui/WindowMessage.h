#pragma once
#include "ui/UiTypes.h"

// One posted window message as the pump delivers it.
struct WindowMessage {
  HWND hwnd = kNoWindow;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

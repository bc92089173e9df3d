#pragma once
#include <functional>

#include "ui/UiTypes.h"

// One mouse message as the process-wide mouse hook sees it: WM_LBUTTONDOWN, WM_RBUTTONDOWN,
// WM_NCLBUTTONDOWN, WM_NCRBUTTONDOWN or WM_MOUSEMOVE, where (screen coordinates), on which
// window and in which part of it (HTCLIENT, HTCAPTION, ...).
struct MouseHookEvent {
  UINT message = 0;
  Point pt;
  HWND hwnd = kNoWindow;
  int hitTest = HTCLIENT;
};

using HHOOK = std::uint64_t;

// The process's mouse hooks. The toolkit reports every mouse press (and move) of the
// user-interface thread through Dispatch; each installed hook sees it, newest first.
class MouseHook {
 public:
  using Proc = std::function<void(const MouseHookEvent&)>;
  static HHOOK Install(Proc proc);
  static bool Remove(HHOOK hook);
  static int Count();
  static void Dispatch(const MouseHookEvent& event);
};

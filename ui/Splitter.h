#pragma once
#include "ui/Window.h"

// A bar between two windows stacked one above the other, which the user drags up or down. The
// bar does not move itself: each drag step reaches the parent as WM_COMMAND with the code
// kMoved, and the parent reads the asked-for place with GetDragTop and lays out again.
class Splitter : public Window {
 public:
  static constexpr UINT kMoved = 1;  // notification code

  bool Create(const Rect& rect, Window* parent, UINT id) { return CreateKind(WindowKind::Generic, "", 0, rect, parent, id); }
  // The user dragged the bar so that its top is at top (parent client coordinates).
  void UserDrag(int top);
  int GetDragTop() const { return m_dragTop; }

 private:
  int m_dragTop = 0;
};

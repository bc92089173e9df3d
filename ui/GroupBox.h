#pragma once
#include "ui/Window.h"

// A frame with a caption around other controls (which remain children of the dialog).
class GroupBox : public Window {
 public:
  bool Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id = 0xFFFF) {
    return CreateKind(WindowKind::GroupBox, text, style, rect, parent, id);
  }
};

#pragma once
#include "ui/Window.h"

// A label.
class StaticText : public Window {
 public:
  bool Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id = 0xFFFF) {
    return CreateKind(WindowKind::Static, text, style, rect, parent, id);
  }
};

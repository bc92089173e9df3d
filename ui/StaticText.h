#pragma once
#include "ui/IconImage.h"
#include "ui/Window.h"

// A label, or a picture when it is given an icon.
class StaticText : public Window {
 public:
  bool Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id = 0xFFFF) {
    return CreateKind(WindowKind::Static, text, style, rect, parent, id);
  }
  void SetIcon(const IconImage& icon) {
    {
      std::lock_guard<std::mutex> lock(StateLock());
      m_icon = icon;
    }
    Changed(kChangeIcon);
  }
  IconImage GetIcon() const {
    std::lock_guard<std::mutex> lock(StateLock());
    return m_icon;
  }

 private:
  IconImage m_icon;  // under the window's state lock
};

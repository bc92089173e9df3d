#pragma once
#include <algorithm>
#include <atomic>

#include "ui/Window.h"

// A progress bar showing how far a long operation has come, in percent.
class ProgressBar : public Window {
 public:
  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id) {
    return CreateKind(WindowKind::Progress, "", style, rect, parent, id);
  }
  void SetPos(int percent) {
    m_percent.store(std::clamp(percent, 0, 100));
    Changed(kChangeContent);
  }
  int GetPos() const { return m_percent.load(); }

 private:
  std::atomic<int> m_percent{0};
};

#pragma once
#include <vector>

#include "ui/UiTypes.h"
#include "ui/Window.h"

// How a resizable dialog's controls follow its size. The lists and text panes grow: where they
// are stacked they share the extra room in proportion to their size. A control past a growing
// one moves with it; one that encloses it (a group box, a status line across the dialog)
// stretches with it; one beside it follows its far edge when it sits in the last third of it
// (the buttons at the right or at the bottom) and stays put otherwise.
class DialogLayout {
 public:
  // Notes where the dialog's controls are at its present client size; leaves the layout empty
  // when the dialog has nothing to grow.
  void Capture(const Window& dialog);
  bool Empty() const { return m_controls.empty(); }
  // The client size the places were noted at: the smallest the dialog is laid out for.
  Size BaseSize() const { return m_base; }
  // Places the controls for a client size.
  void Apply(int cx, int cy) const;

  struct Span {
    int start = 0;
    int end = 0;
  };
  // Along one axis: where each span goes when the growing ones share extra pixels.
  static std::vector<Span> Follow(const std::vector<Span>& spans, const std::vector<bool>& grows, int extra);

 private:
  struct Placed {
    HWND hwnd = kNoWindow;
    Rect rect;
    bool grows = false;
  };
  std::vector<Placed> m_controls;
  Size m_base;
};

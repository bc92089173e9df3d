#pragma once
#include <string>

#include "ui/Font.h"
#include "ui/RichEdit.h"

// A read-only text pane of the packet windows: a multi-line rich edit with a border and both
// scroll bars, created hidden, in 8-point "Courier New".
//
// Wrapping on sets the target line width (twips) to the pane's client width * 1440 / the
// screen's dots per inch, minus six times the dots per inch; wrapping off sets
// RichEdit::kNoWrapWidth.
class PelorinCRichEditView : public RichEdit {
 public:
  static constexpr int kFontPoints = 8;
  static constexpr char kFontFace[] = "Courier New";

  PelorinCRichEditView(Window* owner, const Rect& rect, UINT id, int wrap);

  void PelorinCRichEditViewSetWrap(int on);
  void PelorinCRichEditViewWrapOn();
  void PelorinCRichEditViewWrapOff();
  bool IsWrapOn() const { return m_wrap; }
  // Makes the pane's font; false for an empty face or a size below 1.
  bool PelorinCRichEditViewCreateFont(int points, const std::string& face);
  // Gives the pane its font: the window's font and the size and face of all its text.
  void PelorinCRichEditViewSetFont();

 private:
  Font m_font;
  bool m_wrap = false;
};

#pragma once
#include <string>

#include "ui/Edit.h"
#include "ui/Font.h"

// The plain-edit twin of PelorinCRichEditView: a read-only multi-line edit with a border and
// both scroll bars, created hidden, in 8-point "Courier New". Without wrapping its lines scroll
// sideways (ES_AUTOHSCROLL); with wrapping they break at the pane's width.
class PelorinCEditView : public Edit {
 public:
  static constexpr int kFontPoints = 8;
  static constexpr char kFontFace[] = "Courier New";

  PelorinCEditView(Window* owner, const Rect& rect, UINT id, int wrap);

  void PelorinCEditViewSetWrap(int on);
  void PelorinCEditViewWrapOn() { ModifyStyle(ES_AUTOHSCROLL, 0); }
  void PelorinCEditViewWrapOff() { ModifyStyle(0, ES_AUTOHSCROLL); }
  bool IsWrapOn() const { return (GetStyle() & ES_AUTOHSCROLL) == 0; }
  bool PelorinCEditViewCreateFont(int points, const std::string& face) { return m_font.CreatePointFont(points * 10, face); }
  void PelorinCEditViewSetFont() {
    if (!m_font.IsNull()) SetFont(m_font);
  }

 private:
  Font m_font;
};

#include "controls/inspect/PelorinCRichEditView.h"

#include "ui/UiServices.h"

namespace {
constexpr LONG kTwipsPerInch = 1440;
constexpr LONG kWrapMarginInches = 6;  // times the dots per inch, taken off the line width
}  // namespace

PelorinCRichEditView::PelorinCRichEditView(Window* owner, const Rect& rect, UINT id, int wrap) {
  Create(ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_HSCROLL, rect, owner, id);
  if (PelorinCRichEditViewCreateFont(kFontPoints, kFontFace)) PelorinCRichEditViewSetFont();
  PelorinCRichEditViewSetWrap(wrap);
}

void PelorinCRichEditView::PelorinCRichEditViewSetWrap(int on) {
  if (on) {
    PelorinCRichEditViewWrapOn();
  } else {
    PelorinCRichEditViewWrapOff();
  }
}

void PelorinCRichEditView::PelorinCRichEditViewWrapOn() {
  const LONG dpi = UiServices::Current().ScreenDpi();
  const LONG width = GetClientRect().Width() * kTwipsPerInch / (dpi > 0 ? dpi : 96) - kWrapMarginInches * dpi;
  // A pane too narrow for the margin wraps at its own width.
  SetTargetDevice(width > 0 ? width : 0);
  m_wrap = true;
}

void PelorinCRichEditView::PelorinCRichEditViewWrapOff() {
  SetTargetDevice(kNoWrapWidth);
  m_wrap = false;
}

bool PelorinCRichEditView::PelorinCRichEditViewCreateFont(int points, const std::string& face) {
  return m_font.CreatePointFont(points * 10, face);
}

void PelorinCRichEditView::PelorinCRichEditViewSetFont() {
  if (m_font.IsNull()) return;
  SetFont(m_font);
  CharFormat format;
  format.dwMask = CFM_FACE | CFM_SIZE;
  format.szFaceName = m_font.Face();
  format.yHeight = m_font.PointTenths() * 2;  // twips
  SetDefaultCharFormat(format);
}

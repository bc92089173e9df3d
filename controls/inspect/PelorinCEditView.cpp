#include "controls/inspect/PelorinCEditView.h"

PelorinCEditView::PelorinCEditView(Window* owner, const Rect& rect, UINT id, int wrap) {
  Create(ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_HSCROLL, rect, owner, id);
  if (PelorinCEditViewCreateFont(kFontPoints, kFontFace)) PelorinCEditViewSetFont();
  PelorinCEditViewSetWrap(wrap);
}

void PelorinCEditView::PelorinCEditViewSetWrap(int on) {
  if (on) {
    PelorinCEditViewWrapOn();
  } else {
    PelorinCEditViewWrapOff();
  }
}

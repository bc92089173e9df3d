#include "ui/DialogLayout.h"

#include <algorithm>

#include "ui/Edit.h"

namespace {

bool Grows(const Window& control) {
  switch (control.Kind()) {
    case WindowKind::ListControl:
    case WindowKind::ListBox:
    case WindowKind::RichEdit:
      return true;
    case WindowKind::Edit:
      return static_cast<const Edit&>(control).IsMultiLine();
    default:
      return false;
  }
}

// Only a report list or a text pane makes a dialog resizable: a small list box of choices
// (a folder list, a filter list) is fine at the size it was drawn.
bool MakesResizable(const Window& control) { return control.Kind() == WindowKind::ListControl || control.Kind() == WindowKind::RichEdit; }

// Rounding of dialog units may put an enclosing control's edge a pixel inside its content's.
constexpr int kTolerance = 2;  // pixels

}  // namespace

void DialogLayout::Capture(const Window& dialog) {
  m_controls.clear();
  bool resizable = false;
  for (Window* child : dialog.Children()) {
    if (child->Kind() == WindowKind::Dialog || child->Kind() == WindowKind::StatusBar) continue;
    m_controls.push_back(Placed{child->GetSafeHwnd(), child->GetRectInParent(), Grows(*child)});
    resizable = resizable || MakesResizable(*child);
  }
  if (!resizable) m_controls.clear();
  const Rect client = dialog.GetClientRect();
  m_base = Size{client.Width(), client.Height()};
}

std::vector<DialogLayout::Span> DialogLayout::Follow(const std::vector<Span>& spans, const std::vector<bool>& grows, int extra) {
  // The growing spans, merged where they overlap, are the bands that take the extra pixels.
  std::vector<Span> bands;
  for (std::size_t i = 0; i < spans.size(); ++i)
    if (grows[i]) bands.push_back(spans[i]);
  std::sort(bands.begin(), bands.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
  std::vector<Span> merged;
  for (const Span& band : bands) {
    if (!merged.empty() && band.start < merged.back().end) {
      merged.back().end = std::max(merged.back().end, band.end);
    } else {
      merged.push_back(band);
    }
  }
  long long total = 0;
  for (const Span& band : merged) total += std::max(band.end - band.start, 1);
  std::vector<int> shares;
  int given = 0;
  for (std::size_t k = 0; k < merged.size(); ++k) {
    const int share = k + 1 == merged.size() ? extra - given : static_cast<int>(extra * std::max(merged[k].end - merged[k].start, 1) / total);
    shares.push_back(share);
    given += share;
  }

  std::vector<Span> placed;
  for (const Span& span : spans) {
    int shift = 0;
    int stretch = 0;
    for (std::size_t k = 0; k < merged.size(); ++k) {
      const Span& band = merged[k];
      if (band.end <= span.start + kTolerance) {
        shift += shares[k];  // the band lies before the control
      } else if (band.start >= span.start - kTolerance && band.end <= span.end + kTolerance) {
        stretch += shares[k];  // the control encloses the band
      } else if (band.start < span.end && 3 * (span.start + span.end) >= 6 * band.start + 4 * (band.end - band.start)) {
        shift += shares[k];  // beside the band, in its last third
      }
    }
    placed.push_back(Span{span.start + shift, span.end + shift + stretch});
  }
  return placed;
}

void DialogLayout::Apply(int cx, int cy) const {
  if (m_controls.empty()) return;
  std::vector<Span> across, down;
  std::vector<bool> grows;
  for (const Placed& control : m_controls) {
    across.push_back(Span{control.rect.left, control.rect.right});
    down.push_back(Span{control.rect.top, control.rect.bottom});
    grows.push_back(control.grows);
  }
  // Below its noted size the dialog keeps its noted places: it is never laid out tighter.
  const std::vector<Span> x = Follow(across, grows, std::max(cx - m_base.cx, 0));
  const std::vector<Span> y = Follow(down, grows, std::max(cy - m_base.cy, 0));
  for (std::size_t i = 0; i < m_controls.size(); ++i) {
    Window* control = Window::FromHandle(m_controls[i].hwnd);
    const Rect rect{x[i].start, y[i].start, x[i].end, y[i].end};
    if (control != nullptr && control->GetRectInParent() != rect) control->MoveWindow(rect);
  }
}

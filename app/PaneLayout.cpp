#include "app/PaneLayout.h"

#include <cstdlib>

std::vector<Pane> PanesOfLayout(const std::string& layoutText) {
  const long layout = std::strtol(layoutText.c_str(), nullptr, 10);
  std::vector<Pane> panes;
  for (Pane pane : kLayoutOrder)
    if (layout & LayoutBit(pane)) panes.push_back(pane);
  return panes;
}

std::string LayoutOfVisible(const std::array<bool, kPaneCount>& visible) {
  int layout = 0;
  for (Pane pane : kScreenOrder)
    if (visible[static_cast<int>(pane)]) layout += LayoutBit(pane);
  return layout == 0 ? kDefaultLayout : std::to_string(layout);
}

std::array<Rect, kPaneCount> StackPanes(const Rect& client, int statusBarHeight,
                                        const std::array<bool, kPaneCount>& visible) {
  std::array<Rect, kPaneCount> rects{};
  int count = 0;
  for (bool v : visible) count += v ? 1 : 0;
  if (count == 0) return rects;
  const int height = static_cast<int>(static_cast<double>(client.Height()) / count);
  int top = 0;
  int placed = 0;
  for (Pane pane : kScreenOrder) {
    const int i = static_cast<int>(pane);
    if (!visible[i]) continue;
    ++placed;
    const int h = placed == count ? height - statusBarHeight : height;
    rects[i] = Rect{0, top, client.Width(), top + h};
    top += height;
  }
  return rects;
}

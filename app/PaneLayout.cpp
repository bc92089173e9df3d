#include "app/PaneLayout.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

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

PaneShares SharesOfText(const std::string& text) {
  constexpr long kMaxShare = 100000;
  PaneShares shares{};
  std::istringstream in(text);
  std::string item;
  std::size_t count = 0;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    const long value = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || value < 0 || value > kMaxShare || count == shares.size()) return PaneShares{};
    shares[count++] = static_cast<int>(value);
  }
  return count == shares.size() ? shares : PaneShares{};
}

std::string TextOfShares(const PaneShares& shares) {
  std::string text;
  for (int share : shares) {
    if (!text.empty()) text += ',';
    text += std::to_string(share);
  }
  return text;
}

bool HasShares(const PaneShares& shares) {
  return std::any_of(shares.begin(), shares.end(), [](int share) { return share > 0; });
}

std::array<Rect, kPaneCount> StackPanes(const Rect& client, int statusBarHeight,
                                        const std::array<bool, kPaneCount>& visible, const PaneShares& shares) {
  long long given = 0;
  int withShare = 0, count = 0;
  for (Pane pane : kScreenOrder) {
    const int i = static_cast<int>(pane);
    if (!visible[i]) continue;
    ++count;
    if (shares[i] > 0) {
      given += shares[i];
      ++withShare;
    }
  }
  if (withShare == 0) return StackPanes(client, statusBarHeight, visible);
  const long long mean = given / withShare;
  long long total = 0;
  for (int i = 0; i < kPaneCount; ++i)
    if (visible[i]) total += shares[i] > 0 ? shares[i] : mean;
  std::array<Rect, kPaneCount> rects{};
  const long long height = client.Height();
  long long before = 0;
  int placed = 0;
  for (Pane pane : kScreenOrder) {
    const int i = static_cast<int>(pane);
    if (!visible[i]) continue;
    const long long share = shares[i] > 0 ? shares[i] : mean;
    const int top = static_cast<int>(height * before / total);
    before += share;
    const int bottom = ++placed == count ? client.Height() - statusBarHeight : static_cast<int>(height * before / total);
    rects[i] = Rect{0, top, client.Width(), std::max(top, bottom)};
  }
  return rects;
}

PaneShares DragBoundary(PaneShares shares, const std::array<Rect, kPaneCount>& places,
                        const std::array<bool, kPaneCount>& visible, int statusBarHeight, Pane below, int y) {
  int above = -1, last = -1;
  for (Pane pane : kScreenOrder) {
    const int i = static_cast<int>(pane);
    if (!visible[i]) continue;
    if (pane == below) break;
    above = i;
  }
  for (int i = 0; i < kPaneCount; ++i)
    if (visible[i]) last = i;
  std::array<Rect, kPaneCount> moved = places;
  const int lower = static_cast<int>(below);
  if (above >= 0 && visible[lower]) {
    const int highest = places[above].top + kMinPaneHeight;
    const int lowest = places[lower].bottom - kMinPaneHeight;
    if (highest <= lowest) {
      const int boundary = std::clamp(y, highest, lowest);
      moved[above].bottom = boundary;
      moved[lower].top = boundary;
    }
  }
  // The last pane's share counts the status bar strip too, as the stacking takes it off again.
  for (int i = 0; i < kPaneCount; ++i)
    if (visible[i]) shares[i] = std::max(1, moved[i].Height() + (i == last ? statusBarHeight : 0));
  return shares;
}

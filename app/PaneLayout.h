#pragma once
#include <array>
#include <string>
#include <vector>

#include "ui/UiTypes.h"

// The four panes in their screen order, top to bottom.
enum class Pane { Connections = 0, Packets = 1, ProtocolStats = 2, IpStats = 3 };
constexpr int kPaneCount = 4;
constexpr std::array<Pane, kPaneCount> kScreenOrder{Pane::Connections, Pane::Packets, Pane::ProtocolStats,
                                                    Pane::IpStats};

// Bits of the profile value "Layout", and the order in which they are applied.
constexpr int LayoutBit(Pane pane) {
  switch (pane) {
    case Pane::Connections: return 2;
    case Pane::Packets: return 16;
    case Pane::ProtocolStats: return 4;
    case Pane::IpStats: return 8;
  }
  return 0;
}
constexpr std::array<Pane, kPaneCount> kLayoutOrder{Pane::Connections, Pane::Packets, Pane::ProtocolStats,
                                                    Pane::IpStats};
constexpr char kDefaultLayout[] = "18";  // connections and packets

// The panes a "Layout" text asks for, in the order they are created.
std::vector<Pane> PanesOfLayout(const std::string& layoutText);

// The "Layout" text of what is visible now; nothing visible saves the default.
std::string LayoutOfVisible(const std::array<bool, kPaneCount>& visible);

// Places the visible panes one above the other, each client height / count tall (truncated),
// the last one shortened by the status bar. Panes not visible get an empty rectangle.
std::array<Rect, kPaneCount> StackPanes(const Rect& client, int statusBarHeight,
                                        const std::array<bool, kPaneCount>& visible);

// The heights the user gave the panes with the splitters, in screen order, as shares of the
// client height; 0 = none given. Kept in the profile value "LayoutSizes" as "a,b,c,d".
using PaneShares = std::array<int, kPaneCount>;
constexpr char kLayoutSizesValue[] = "LayoutSizes";
constexpr int kMinPaneHeight = 24;  // px a dragged splitter leaves each pane
constexpr int kSplitterHalf = 3;    // px of a splitter bar on each side of the panes' boundary
// Shares read from their text; a text that is not four numbers of at most 100000 gives none.
PaneShares SharesOfText(const std::string& text);
std::string TextOfShares(const PaneShares& shares);
bool HasShares(const PaneShares& shares);

// As above while no pane has a share. Otherwise each visible pane's height follows its share (a
// visible pane without one takes the mean of the others'), the last one ending above the status
// bar.
std::array<Rect, kPaneCount> StackPanes(const Rect& client, int statusBarHeight,
                                        const std::array<bool, kPaneCount>& visible, const PaneShares& shares);

// The shares after the user dragged the boundary above the visible pane `below` to y: the
// visible panes' shares become their heights, each of the two beside the boundary keeping at
// least kMinPaneHeight; hidden panes keep theirs for when they are shown again.
PaneShares DragBoundary(PaneShares shares, const std::array<Rect, kPaneCount>& places,
                        const std::array<bool, kPaneCount>& visible, int statusBarHeight, Pane below, int y);

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

#include <gtest/gtest.h>

#include "app/PaneLayout.h"

TEST(PaneLayout, LayoutTextsAndTheirOrder) {
  EXPECT_EQ(PanesOfLayout("18"), (std::vector<Pane>{Pane::Connections, Pane::Packets}));
  EXPECT_EQ(PanesOfLayout("30"), (std::vector<Pane>{Pane::Connections, Pane::Packets, Pane::ProtocolStats,
                                                    Pane::IpStats}));
  EXPECT_EQ(PanesOfLayout("12"), (std::vector<Pane>{Pane::ProtocolStats, Pane::IpStats}));
  EXPECT_TRUE(PanesOfLayout("0").empty());
  EXPECT_TRUE(PanesOfLayout("1").empty());  // other bits are ignored
  EXPECT_TRUE(PanesOfLayout("junk").empty());
  EXPECT_EQ(LayoutOfVisible({false, false, false, false}), "18");
  EXPECT_EQ(LayoutOfVisible({true, false, false, true}), "10");
  EXPECT_EQ(LayoutOfVisible({false, true, true, false}), "20");
}

TEST(PaneLayout, StackingTruncatesAndShortensTheLastPane) {
  const Rect client{0, 0, 792, 553};
  const int status = 20;
  for (int visibleCount = 1; visibleCount <= 4; ++visibleCount) {
    std::array<bool, kPaneCount> visible{};
    for (int i = 0; i < visibleCount; ++i) visible[static_cast<std::size_t>(3 - i)] = true;  // the lower panes
    const auto rects = StackPanes(client, status, visible);
    const int h = 553 / visibleCount;
    int top = 0;
    int seen = 0;
    for (Pane pane : kScreenOrder) {
      const Rect& r = rects[static_cast<int>(pane)];
      if (!visible[static_cast<int>(pane)]) {
        EXPECT_EQ(r, Rect{}) << visibleCount;
        continue;
      }
      ++seen;
      EXPECT_EQ(r.top, top);
      EXPECT_EQ(r.Width(), 792);
      EXPECT_EQ(r.Height(), seen == visibleCount ? h - status : h) << visibleCount;
      top += h;
    }
  }
  // Nothing visible places nothing.
  for (const Rect& r : StackPanes(client, status, {false, false, false, false})) EXPECT_EQ(r, Rect{});
}

TEST(PaneLayout, SplitterHeightsAreReadStrictly) {
  EXPECT_EQ(SharesOfText(TextOfShares({150, 0, 300, 0})), (PaneShares{150, 0, 300, 0}));
  for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "-1,0,0,0", "100001,0,0,0", "1,,2,3", "1,2,3,4x"})
    EXPECT_FALSE(HasShares(SharesOfText(bad))) << bad;
}

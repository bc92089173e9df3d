// The orders a column click sorts cells in: numbers, addresses of both families and times by
// value, with cells that are no address or time after the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/CellOrder.h"

namespace {

std::vector<std::string> Sorted(CellKind kind, std::vector<std::string> cells) {
  std::stable_sort(cells.begin(), cells.end(),
                   [kind](const std::string& a, const std::string& b) { return CompareCells(kind, a, b) < 0; });
  return cells;
}

}  // namespace

TEST(CellOrder, NumbersAddressesAndTimesSortByValueWithOtherTextsLast) {
  EXPECT_EQ(Sorted(CellKind::Number, {"100", "", "9", "-1", "10", "x"}),
            (std::vector<std::string>{"-1", "", "x", "9", "10", "100"}));
  EXPECT_EQ(Sorted(CellKind::Address, {"fe80::1", "10.0.0.10", "::1", "*", "10.0.0.9", "2001:db8::a", "9.1.1.1"}),
            (std::vector<std::string>{"9.1.1.1", "10.0.0.9", "10.0.0.10", "::1", "2001:db8::a", "fe80::1", "*"}));
  // Month/day/year: a new year comes after December; milliseconds count; a text that is no
  // time goes last.
  EXPECT_EQ(Sorted(CellKind::DateTime, {"01/02/27 00:00:00:000", "12/31/26 23:59:59:999", "n/a",
                                        "12/31/26 23:59:59:100", "12/31/26 23:59:59"}),
            (std::vector<std::string>{"12/31/26 23:59:59", "12/31/26 23:59:59:100", "12/31/26 23:59:59:999",
                                      "01/02/27 00:00:00:000", "n/a"}));
  EXPECT_EQ(Sorted(CellKind::Text, {"b", "B", "a", "A"}), (std::vector<std::string>{"a", "A", "b", "B"}));
  EXPECT_EQ(CompareCells(CellKind::Number, "99999999999999999999999", "99999999999999999999998"), 0);
}

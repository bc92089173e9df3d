#pragma once
#include <string_view>

// How a list column's cells sort when its heading is clicked: negative, zero or positive.
//   Text      case-blind (ASCII letters), then by character code
//   Number    by the decimal number the cell begins with; a cell without one counts as 0 (the
//             port of a packet that has none)
//   Address   IPv4 before IPv6 addresses, each by its bytes; other cells after, as text
//   DateTime  "mm/dd/yy hh:mm:ss" with an optional ":mmm", by the moment it names (years 00-99
//             taken as 2000-2099); other cells after, as text
enum class CellKind { Text, Number, Address, DateTime };

int CompareCells(CellKind kind, std::string_view a, std::string_view b);

#pragma once

// One column of a statistics list: its heading, the sub-item it shows and the pixels added to
// the width of as many capital X as the heading has characters.
struct StatColumn {
  const char* title;
  int subItem;
  int margin;  // px
};

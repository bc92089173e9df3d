#include "app/ProgramIcon.h"

#include <cmath>
#include <cstdint>

IconImage ProgramIcon128() {
  constexpr int kSize = 32;  // px
  constexpr std::uint32_t kClear = 0x00000000;
  constexpr std::uint32_t kScreen = 0xFF12324A;
  constexpr std::uint32_t kFrame = 0xFF8FA9BF;
  constexpr std::uint32_t kGrid = 0xFF1F4A66;
  constexpr std::uint32_t kTrace = 0xFF3CE67A;
  IconImage icon;
  icon.width = kSize;
  icon.height = kSize;
  icon.argb.assign(kSize * kSize, kClear);
  auto at = [&](int x, int y) -> std::uint32_t& { return icon.argb[static_cast<std::size_t>(y * kSize + x)]; };
  for (int y = 2; y < kSize - 2; ++y)
    for (int x = 1; x < kSize - 1; ++x) {
      const bool border = y == 2 || y == kSize - 3 || x == 1 || x == kSize - 2;
      at(x, y) = border ? kFrame : (x % 6 == 0 || y % 6 == 0 ? kGrid : kScreen);
    }
  // A burst of packets: a wave whose height grows toward the right.
  for (int x = 3; x < kSize - 3; ++x) {
    const double height = 2.0 + 9.0 * (x - 3) / (kSize - 6);
    const int y = kSize / 2 - static_cast<int>(std::lround(height * std::sin(x * 0.9)));
    for (int dy = 0; dy < 2; ++dy)
      if (y + dy > 2 && y + dy < kSize - 3) at(x, y + dy) = kTrace;
  }
  return icon;
}

#pragma once
#include <cstdint>
#include <vector>

#include "ui/UiTypes.h"

// One coloured run of a packet text: [start, end) in the text's characters and its colour.
struct DiffRun {
  std::uint32_t start;
  std::uint32_t end;
  COLORREF colour;
};

// Where a packet's rendered text differs from the base packet's, character by character.
//
// The text handed in is the part of the packet's rendered text that is shown, beginning at the
// rendered offset start; its character i is compared with the base character at start + i, so
// characters at the same rendered offset meet whatever range is shown. Differing characters form
// red runs; characters at offsets past the base's end are blue, the one at the base's very end
// excepted (it differs from the end of the base, so it is red). In hex and decimal mode blanks
// and line breaks are passed over: they never start or end a run.
class PacketDiff {
 public:
  static constexpr COLORREF kDiffers = RGB(255, 0, 0);
  static constexpr COLORREF kBeyondBase = RGB(0, 0, 255);
  static constexpr std::size_t kInitialRuns = 128;

  // Fills runs (emptied first) for text[0, length) against base[0, baseLength).
  static void Get(const char* base, long baseLength, const char* text, long length, long start, bool skipBlanks,
                  std::vector<DiffRun>& runs);
};

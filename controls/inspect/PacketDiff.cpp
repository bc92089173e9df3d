#include "controls/inspect/PacketDiff.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\r' || c == '\n'; }
}  // namespace

void PacketDiff::Get(const char* base, long baseLength, const char* text, long length, long start, bool skipBlanks,
                     std::vector<DiffRun>& runs) {
  runs.clear();
  if (base == nullptr || text == nullptr || length < 0 || start < 0) return;
  bool open = false;
  long openedAt = 0;
  auto close = [&](long end) {
    if (end > openedAt) runs.push_back(DiffRun{static_cast<std::uint32_t>(openedAt), static_cast<std::uint32_t>(end), kDiffers});
    open = false;
  };
  // One step past the text's end, where its end meets the base's character.
  for (long i = 0; i <= length; ++i) {
    const long j = start + i;  // the same rendered offset in the base
    if (j > baseLength) {
      if (open) close(i);
      if (i < length)
        runs.push_back(DiffRun{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(length), kBeyondBase});
      return;
    }
    const char t = i < length ? text[i] : 0;
    if (skipBlanks && IsBlank(t)) continue;
    const char b = j < baseLength ? base[j] : 0;
    if (!open && b != t) {
      open = true;
      openedAt = i;
    } else if (open && b == t) {
      close(i);
    }
  }
  if (open) close(length);
}

#include "wincap/PayloadTrim.h"

#include <algorithm>
#include <cstring>

#include "wincap/PacketBytes.h"

PayloadTrim TrimPayloadToRange(std::uint8_t* frame, std::uint32_t capturedLength,
                               std::uint32_t ipOffset, std::uint32_t payloadOffset,
                               std::int32_t payloadLength, std::uint32_t start, std::uint32_t end,
                               bool ipv6) {
  PayloadTrim result;
  result.frameLength = capturedLength;
  const PacketBytes bytes(frame, capturedLength);
  // Where the length field lies and where the bytes it counts begin.
  const std::uint64_t sizeAt = static_cast<std::uint64_t>(ipOffset) + (ipv6 ? 4 : 2);
  const std::uint64_t counted = static_cast<std::uint64_t>(ipOffset) + (ipv6 ? 40 : 0);
  std::uint16_t total = 0;
  if (!bytes.Be16(sizeAt, total)) return result;
  result.size = total;

  if (payloadLength < 1 || (start == 0 && end == 0)) return result;
  // The decoded payload must lie inside the captured bytes, after the counted bytes start.
  const std::uint64_t held = static_cast<std::uint64_t>(payloadLength);
  if (payloadOffset < counted || !bytes.Has(payloadOffset, held)) return result;
  const std::uint64_t headers = payloadOffset - counted;
  if (total <= headers) return result;
  const std::uint64_t logical = total - headers;  // what the total length says the payload is
  if (held > logical) return result;               // not the payload of this header

  std::uint64_t last = end;
  if (last < 1 || last > logical) last = logical;
  if (start >= logical || last <= start) return result;
  const std::uint64_t kept = last - start;

  // Only the captured part of [start, last) can be moved.
  const std::uint64_t heldEnd = std::min(last, held);
  const std::uint64_t keptHeld = heldEnd > start ? heldEnd - start : 0;
  std::uint8_t* payload = frame + payloadOffset;
  if (keptHeld > 0 && start > 0) std::memmove(payload, payload + start, keptHeld);

  const std::uint64_t newTotal = headers + kept;  // <= total, so it fits 16 bits
  frame[sizeAt] = static_cast<std::uint8_t>(newTotal >> 8);
  frame[sizeAt + 1] = static_cast<std::uint8_t>(newTotal & 0xFF);
  result.size = static_cast<std::int32_t>(newTotal);
  result.frameLength = static_cast<std::uint32_t>(payloadOffset + keptHeld);
  result.trimmed = true;
  return result;
}

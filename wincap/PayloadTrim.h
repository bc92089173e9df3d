#pragma once
#include <cstdint>

// Outcome of trimming a packet's payload to the log range.
struct PayloadTrim {
  std::uint32_t frameLength = 0;  // the frame length to go on with (the input length when untouched)
  std::int32_t size = 0;          // the length field now in the header (0 when not captured)
  bool trimmed = false;           // payload bytes were moved and the total length rewritten
};

// Keeps only the payload bytes [start, end) of a decoded packet and moves them to the start of
// the payload; the capture thread applies it to live packets while a log range is in force.
//
//   frame, capturedLength   the frame bytes, writable (copy the capture library's bytes first);
//   ipOffset                where the IP header starts (14 after an Ethernet header);
//   payloadOffset, payloadLength
//                           the payload as decoded (DecodedPacket::payload - frame and its
//                           length), already within the captured bytes;
//   start, end              the range in payload bytes. 0 means "no use of that bound": (0, 0)
//                           leaves the packet alone and an end of 0 means the end of the
//                           payload; an end beyond the payload counts as the payload's end.
//                           Both are unsigned, so a range stored as -1 can never reach before
//                           the payload.
//
// The range applies to the payload the total length describes (total length - fixed headers).
// Nothing happens when there is no payload, when start is not below that payload length or when
// end - start is below 1. Otherwise the total length becomes fixed headers + kept bytes (written
// back in network byte order; the header checksum is left as it was) and the frame length becomes
// payloadOffset + the kept bytes that were actually captured, which is ipOffset + the new total
// length unless the frame was captured short. The returned frame length never exceeds the
// captured length.
//
// For an IPv6 packet (ipv6 set) the payload length field (IP header bytes 4-5, which counts from
// the end of the 40-byte header) takes the place of the total length, and the extension headers
// count among the headers before the payload.
PayloadTrim TrimPayloadToRange(std::uint8_t* frame, std::uint32_t capturedLength,
                               std::uint32_t ipOffset, std::uint32_t payloadOffset,
                               std::int32_t payloadLength, std::uint32_t start, std::uint32_t end,
                               bool ipv6 = false);

#pragma once
#include <cstdint>
#include <string>

// The header fields of one frame, decoded at fixed offsets: the IPv4 header at the given offset
// with 20 bytes, the TCP header with 20 and the UDP and ICMP headers with 8; the IHL and
// data-offset fields are not read.
//
// Every read is bounded by the captured length. A field whose bytes were not captured reads as 0
// with an empty text, so a short frame shows what it holds and nothing else:
//   - protocol byte (IP + 9) missing: type "IP", code 2;
//   - size (IP + 2..3), addresses (IP + 12..15, 16..19), ports (IP + 20..21, 22..23) missing:
//     0 and "";
//   - the payload is clipped to the captured bytes: a frame whose total length claims more than
//     was captured gets only the captured part (payloadLength <= bytes left after the header).
struct DecodedPacket {
  std::string typeText;            // "TCP", "UDP", "ICMP" or "IP"
  std::int32_t typeCode = 0;       // 1 ICMP, 2 other IP, 3 TCP, 4 UDP
  std::int32_t size = 0;           // IPv4 total length (header bytes 2-3)
  std::string sizeText;
  std::uint32_t source = 0;        // network byte order
  std::string sourceText;          // dotted
  std::uint32_t destination = 0;   // network byte order
  std::string destinationText;
  std::int32_t sourcePort = 0;     // host order; 0 for ICMP and other IP
  std::string sourcePortText;      // empty for ICMP and other IP
  std::int32_t destinationPort = 0;
  std::string destinationPortText;
  const std::uint8_t* payload = nullptr;  // into the frame; null when there is none
  std::int32_t payloadLength = 0;
  // Which numbers were captured (their texts are empty otherwise).
  bool hasSize = false;
  bool hasSource = false;
  bool hasDestination = false;
  bool hasSourcePort = false;
  bool hasDestinationPort = false;

  // What each text was last made from (FormatDecodedTexts makes a text again only when its
  // number changed; a frame of the same flow as the one before keeps its texts).
  struct TextSource {
    std::int64_t size = -1, source = -1, destination = -1, sourcePort = -1, destinationPort = -1;
  } madeFrom;
};

// Bytes of the fixed headers after the start of the IPv4 header, by type code.
std::uint32_t FixedHeaderLength(std::int32_t typeCode);

// Decodes a frame: dispatches on the protocol byte (IP header byte 9): 6 TCP, 17 UDP, 1 ICMP,
// anything else IP. The frame is frame[0 .. capturedLength); the IPv4 header starts ipOffset
// bytes in (14 after an Ethernet header). Overwrites every field of out.
void DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset,
                 DecodedPacket& out);
DecodedPacket DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength,
                          std::uint32_t ipOffset);

// Decodes as the given type whatever the protocol byte says (the per-protocol decoders of the
// capture thread). A type code other than 1, 3 or 4 decodes as other IP.
void DecodeFrameAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                   std::uint32_t ipOffset, DecodedPacket& out);

// DecodeFrameAs in two steps, for the capture thread, which formats texts only for the packets
// that get a row: the numbers, the payload and the has-flags, leaving the texts as they were;
// then the texts of those numbers.
void DecodeFieldsAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                    std::uint32_t ipOffset, DecodedPacket& out);
void FormatDecodedTexts(DecodedPacket& packet);

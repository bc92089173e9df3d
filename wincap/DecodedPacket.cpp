#include "wincap/DecodedPacket.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "common/ShowPacketReceivePackIp.h"
#include "wincap/PacketBytes.h"

namespace {

constexpr std::uint32_t kSizeOffset = 2;
constexpr std::uint32_t kProtocolOffset = 9;
constexpr std::uint32_t kSourceOffset = 12;
constexpr std::uint32_t kDestinationOffset = 16;
constexpr std::uint32_t kTransportOffset = 20;

// The payload is only looked at in frames of at least this many bytes.
constexpr std::uint32_t kMinPayloadFrame = 21;

void SetDecimal(std::string& text, long value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.assign(digits, result.ptr);
}

// The decimal texts of 0..255, for the dotted addresses.
struct OctetTexts {
  char text[256][3];
  std::uint8_t length[256];
  constexpr OctetTexts() : text(), length() {
    for (unsigned v = 0; v < 256; ++v) {
      unsigned n = 0;
      if (v >= 100) text[v][n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) text[v][n++] = static_cast<char>('0' + v / 10 % 10);
      text[v][n++] = static_cast<char>('0' + v % 10);
      length[v] = static_cast<std::uint8_t>(n);
    }
  }
};
constexpr OctetTexts kOctets;

// "a.b.c.d" of an address in network byte order, as the sockets library writes it; done by
// hand because every frame needs two of them.
void SetDotted(std::string& text, std::uint32_t address) {
  std::uint8_t parts[4];
  std::memcpy(parts, &address, sizeof parts);
  char dotted[16];
  char* p = dotted;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t v = parts[i];
    std::memcpy(p, kOctets.text[v], 3);  // the bytes past the length are overwritten next
    p += kOctets.length[v];
    *p++ = '.';
  }
  text.assign(dotted, p - 1);
}

std::string_view TypeText(std::int32_t typeCode) {
  switch (typeCode) {
    case kPacketTypeTcp: return "TCP";
    case kPacketTypeUdp: return "UDP";
    case kPacketTypeIcmp: return "ICMP";
    default: return "IP";
  }
}

}  // namespace

std::uint32_t FixedHeaderLength(std::int32_t typeCode) {
  switch (typeCode) {
    case kPacketTypeTcp: return 40;
    case kPacketTypeUdp:
    case kPacketTypeIcmp: return 28;
    default: return 20;
  }
}

void DecodeFieldsAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                    std::uint32_t ipOffset, DecodedPacket& out) {
  if (typeCode != kPacketTypeTcp && typeCode != kPacketTypeUdp && typeCode != kPacketTypeIcmp)
    typeCode = kPacketTypeIp;
  const PacketBytes bytes(frame, capturedLength);
  out.typeCode = typeCode;

  // Offsets are added in 64 bits: an IP offset near the top of the range cannot wrap.
  const std::uint64_t ip = ipOffset;
  std::uint16_t size = 0;
  out.hasSize = bytes.Be16(ip + kSizeOffset, size);
  out.size = out.hasSize ? size : 0;
  std::uint32_t address = 0;
  out.hasSource = bytes.Raw32(ip + kSourceOffset, address);
  out.source = out.hasSource ? address : 0;
  out.hasDestination = bytes.Raw32(ip + kDestinationOffset, address);
  out.destination = out.hasDestination ? address : 0;

  out.sourcePort = 0;
  out.destinationPort = 0;
  out.hasSourcePort = false;
  out.hasDestinationPort = false;
  if (typeCode == kPacketTypeTcp || typeCode == kPacketTypeUdp) {
    std::uint16_t port = 0;
    if (bytes.Be16(ip + kTransportOffset, port)) {
      out.sourcePort = port;
      out.hasSourcePort = true;
    }
    if (bytes.Be16(ip + kTransportOffset + 2, port)) {
      out.destinationPort = port;
      out.hasDestinationPort = true;
    }
  }

  // The payload follows the fixed headers and runs for the total length less those headers,
  // but never past the captured bytes.
  out.payload = nullptr;
  out.payloadLength = 0;
  const std::uint32_t header = FixedHeaderLength(typeCode);
  if (bytes.Size() >= kMinPayloadFrame && out.size > static_cast<std::int32_t>(header)) {
    const std::uint64_t start = ip + header;
    const std::uint64_t claimed = static_cast<std::uint64_t>(out.size) - header;
    const std::uint64_t held = bytes.Left(static_cast<std::size_t>(start));
    const std::uint64_t length = claimed < held ? claimed : held;
    if (length >= 1) {
      out.payload = bytes.At(static_cast<std::size_t>(start));
      out.payloadLength = static_cast<std::int32_t>(length);
    }
  }
}

namespace {

// Makes text from value (-1: not captured, an empty text) unless it was made from it already.
template <typename Format>
void MakeText(std::string& text, std::int64_t& madeFrom, bool has, std::int64_t value, Format format) {
  const std::int64_t from = has ? value : -1;
  if (from == madeFrom) return;
  if (has) format(text, value);
  else text.clear();
  madeFrom = from;
}

}  // namespace

void FormatDecodedTexts(DecodedPacket& packet) {
  packet.typeText = TypeText(packet.typeCode);
  auto decimal = [](std::string& text, std::int64_t v) { SetDecimal(text, static_cast<long>(v)); };
  auto dotted = [](std::string& text, std::int64_t v) { SetDotted(text, static_cast<std::uint32_t>(v)); };
  DecodedPacket::TextSource& from = packet.madeFrom;
  MakeText(packet.sizeText, from.size, packet.hasSize, packet.size, decimal);
  MakeText(packet.sourceText, from.source, packet.hasSource, packet.source, dotted);
  MakeText(packet.destinationText, from.destination, packet.hasDestination, packet.destination, dotted);
  MakeText(packet.sourcePortText, from.sourcePort, packet.hasSourcePort, packet.sourcePort, decimal);
  MakeText(packet.destinationPortText, from.destinationPort, packet.hasDestinationPort, packet.destinationPort,
           decimal);
}

void DecodeFrameAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                   std::uint32_t ipOffset, DecodedPacket& out) {
  DecodeFieldsAs(typeCode, frame, capturedLength, ipOffset, out);
  FormatDecodedTexts(out);
}

void DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset,
                 DecodedPacket& out) {
  const PacketBytes bytes(frame, capturedLength);
  std::uint8_t protocol = 0;  // not captured: decoded as other IP
  bytes.U8(static_cast<std::uint64_t>(ipOffset) + kProtocolOffset, protocol);
  std::int32_t typeCode = kPacketTypeIp;
  if (protocol == 6) typeCode = kPacketTypeTcp;
  else if (protocol == 17) typeCode = kPacketTypeUdp;
  else if (protocol == 1) typeCode = kPacketTypeIcmp;
  DecodeFrameAs(typeCode, frame, capturedLength, ipOffset, out);
}

DecodedPacket DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength,
                          std::uint32_t ipOffset) {
  DecodedPacket out;
  DecodeFrame(frame, capturedLength, ipOffset, out);
  return out;
}

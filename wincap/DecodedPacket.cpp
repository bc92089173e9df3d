#include "wincap/DecodedPacket.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/AddressText.h"
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

// The decimal text of a size or port (below 100,000,000) into out (8 bytes).
std::size_t FormatDecimal(std::uint32_t value, char* out) {
  char digits[8];
  char* end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && p != digits);
  std::memcpy(out, p, static_cast<std::size_t>(end - p));
  return static_cast<std::size_t>(end - p);
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

// "a.b.c.d" of an address in network byte order into out (16 bytes), as the sockets library
// writes it; done by hand because every frame needs two of them.
std::size_t FormatDotted(std::uint32_t address, char* out) {
  std::uint8_t parts[4];
  std::memcpy(parts, &address, sizeof parts);
  char* p = out;
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t v = parts[i];
    std::memcpy(p, kOctets.text[v], 3);  // the bytes past the length are overwritten next
    p += kOctets.length[v];
    *p++ = '.';
  }
  return static_cast<std::size_t>(p - 1 - out);
}

// The IPv6 header and the headers its next-header fields name.
constexpr std::uint32_t kIpv6Header = 40;
constexpr std::uint32_t kIpv6PayloadLengthOffset = 4;
constexpr std::uint32_t kIpv6NextHeaderOffset = 6;
constexpr std::uint32_t kIpv6SourceOffset = 8;
constexpr std::uint32_t kIpv6DestinationOffset = 24;
constexpr std::uint16_t kEthernetTypeIpv6 = 0x86DD;
enum : std::uint8_t {
  kHopByHop = 0,
  kTcp = 6,
  kUdp = 17,
  kRouting = 43,
  kFragment = 44,
  kAuthentication = 51,
  kIcmpv6 = 58,
  kNoNextHeader = 59,
  kDestinationOptions = 60,
};

void DecodeIpv6Fields(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset,
                      DecodedPacket& out) {
  const PacketBytes bytes(frame, capturedLength);
  const std::uint64_t ip = ipOffset;
  out.ipv6 = true;
  out.source = 0;
  out.destination = 0;
  out.typeCode = kPacketTypeIp;
  std::uint16_t payloadLength = 0;
  out.hasSize = bytes.Be16(ip + kIpv6PayloadLengthOffset, payloadLength);
  out.size = out.hasSize ? payloadLength + static_cast<std::int32_t>(kIpv6Header) : 0;
  out.hasSource = bytes.Has(ip + kIpv6SourceOffset, 16);
  if (out.hasSource) std::memcpy(out.source6.data(), bytes.At(ip + kIpv6SourceOffset), 16);
  else out.source6.fill(0);
  out.hasDestination = bytes.Has(ip + kIpv6DestinationOffset, 16);
  if (out.hasDestination) std::memcpy(out.destination6.data(), bytes.At(ip + kIpv6DestinationOffset), 16);
  else out.destination6.fill(0);
  out.sourcePort = 0;
  out.destinationPort = 0;
  out.hasSourcePort = false;
  out.hasDestinationPort = false;
  out.payload = nullptr;
  out.payloadLength = 0;

  std::uint8_t next = 0;
  if (!out.hasSize || !bytes.U8(ip + kIpv6NextHeaderOffset, next)) return;
  // Everything past the fixed header is bounded by the payload length too.
  const std::uint64_t end = std::min<std::uint64_t>(bytes.Size(), ip + kIpv6Header + payloadLength);
  const PacketBytes layer(frame, static_cast<std::size_t>(end));
  std::uint64_t at = ip + kIpv6Header;
  // Each extension header takes at least 8 bytes, so the walk ends within the layer.
  for (;;) {
    std::uint8_t length = 0;
    if (next == kHopByHop || next == kRouting || next == kDestinationOptions || next == kAuthentication) {
      if (!layer.U8(at + 1, length)) return;
      const std::uint64_t skip = next == kAuthentication ? (length + 2u) * 4u : (length + 1u) * 8u;
      if (!layer.U8(at, next) || !layer.Has(at, skip)) return;
      at += skip;
    } else if (next == kFragment) {
      std::uint16_t offsetAndFlags = 0;
      if (!layer.Has(at, 8) || !layer.U8(at, next) || !layer.Be16(at + 2, offsetAndFlags)) return;
      at += 8;
      // A later fragment: its data has no upper header and is all payload.
      if ((offsetAndFlags >> 3) != 0) next = kNoNextHeader;
    } else {
      break;
    }
  }

  std::uint64_t payloadAt = at;
  if (next == kTcp || next == kUdp) {
    out.typeCode = next == kTcp ? kPacketTypeTcp : kPacketTypeUdp;
    std::uint16_t port = 0;
    if (layer.Be16(at, port)) {
      out.sourcePort = port;
      out.hasSourcePort = true;
    }
    if (layer.Be16(at + 2, port)) {
      out.destinationPort = port;
      out.hasDestinationPort = true;
    }
    std::uint8_t dataOffset = 5;  // words; a header that claims fewer still takes 20 bytes
    if (next == kTcp && layer.U8(at + 12, dataOffset)) dataOffset = std::max<std::uint8_t>(dataOffset >> 4, 5);
    payloadAt = at + (next == kTcp ? dataOffset * 4u : 8u);
  } else if (next == kIcmpv6) {
    out.typeCode = kPacketTypeIcmp;
    payloadAt = at + 8;
  }
  const std::uint64_t length = layer.Left(static_cast<std::size_t>(std::min(payloadAt, end)));
  if (length >= 1) {
    out.payload = layer.At(static_cast<std::size_t>(payloadAt));
    out.payloadLength = static_cast<std::int32_t>(length);
  }
}

}  // namespace

const char* PacketTypeText(std::int32_t typeCode, bool ipv6) {
  switch (typeCode) {
    case kPacketTypeTcp: return ipv6 ? "TCP6" : "TCP";
    case kPacketTypeUdp: return ipv6 ? "UDP6" : "UDP";
    case kPacketTypeIcmp: return ipv6 ? "ICMP6" : "ICMP";
    default: return ipv6 ? "IP6" : "IP";
  }
}

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
  out.ipv6 = false;
  out.source6.fill(0);
  out.destination6.fill(0);

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
// The recent entry of key, formatted into the oldest entry (format(key, text) gives its length)
// when none holds it.
template <typename Key, std::size_t Entries, std::size_t Capacity, typename Format>
const typename DecodedPacket::RecentTexts<Key, Entries, Capacity>::Entry& Recent(
    DecodedPacket::RecentTexts<Key, Entries, Capacity>& recent, const Key& key, Format format) {
  for (const auto& entry : recent.entries)
    if (entry.valid && entry.key == key) return entry;
  auto& entry = recent.entries[recent.next];
  recent.next = static_cast<std::uint8_t>((recent.next + 1) % Entries);
  entry.length = format(key, entry.text);
  entry.key = key;
  entry.valid = true;
  return entry;
}

// The text of a number unless it was made from it already.
template <typename Cache, typename Format>
void MakeText(std::string& text, std::int64_t& madeFrom, bool has, std::int64_t value, Cache& recent,
              Format format) {
  const std::int64_t from = has ? value : -1;
  if (from == madeFrom) return;
  if (has) {
    const auto& entry = Recent(recent, static_cast<std::uint32_t>(value), format);
    text.assign(entry.text, entry.length);
  } else {
    text.clear();
  }
  madeFrom = from;
}

// The RFC 5952 text of an IPv6 address into out (46 bytes), as inet_ntop writes it; done by hand
// for the capture thread. The addresses it writes with a dotted tail (their first 80 bits zero:
// ::ffff:a.b.c.d and the like) are left to it.
std::uint8_t FormatIpv6(const std::uint8_t* address, char* out) {
  static constexpr std::uint8_t kZero[10] = {};
  if (std::memcmp(address, kZero, sizeof kZero) == 0) {
    const std::string text = Inet6Ntop(address);
    std::memcpy(out, text.data(), text.size());
    return static_cast<std::uint8_t>(text.size());
  }
  unsigned words[8];
  for (int i = 0; i < 8; ++i) words[i] = static_cast<unsigned>(address[2 * i] << 8 | address[2 * i + 1]);
  // The first longest run of two or more zero words becomes "::".
  int best = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && words[j] == 0) ++j;
    if (j - i > bestLength) {
      best = i;
      bestLength = j - i;
    }
    i = j > i ? j : i + 1;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  char* p = out;
  for (int i = 0; i < 8; ++i) {
    if (best >= 0 && i >= best && i < best + bestLength) {
      if (i == best) *p++ = ':';
      continue;
    }
    if (i != 0) *p++ = ':';
    bool digits = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned nibble = (words[i] >> shift) & 0xF;
      if (nibble != 0 || digits || shift == 0) {
        *p++ = kHex[nibble];
        digits = true;
      }
    }
  }
  if (best >= 0 && best + bestLength == 8) *p++ = ':';
  return static_cast<std::uint8_t>(p - out);
}

// The text of an IPv6 address unless it was made from it already; formatted only when none of
// the recent addresses is it.
void MakeText6(std::string& text, std::int64_t& madeFrom, std::array<std::uint8_t, 16>& madeFrom6,
               DecodedPacket::TextSource& recent, bool has, const std::array<std::uint8_t, 16>& address) {
  if (!has) {
    text.clear();
    madeFrom = -1;
    return;
  }
  if (madeFrom == DecodedPacket::kMadeFromIpv6 && madeFrom6 == address) return;
  const auto& entry = Recent(recent.recent6, address, [](const std::array<std::uint8_t, 16>& a, char* out) {
    return std::size_t{FormatIpv6(a.data(), out)};
  });
  text.assign(entry.text, entry.length);
  madeFrom = DecodedPacket::kMadeFromIpv6;
  madeFrom6 = address;
}

}  // namespace

void FormatAddressTexts(DecodedPacket& packet) {
  DecodedPacket::TextSource& from = packet.madeFrom;
  if (packet.ipv6) {
    MakeText6(packet.sourceText, from.source, from.source6, from, packet.hasSource, packet.source6);
    MakeText6(packet.destinationText, from.destination, from.destination6, from, packet.hasDestination,
              packet.destination6);
  } else {
    MakeText(packet.sourceText, from.source, packet.hasSource, packet.source, from.recent4, FormatDotted);
    MakeText(packet.destinationText, from.destination, packet.hasDestination, packet.destination, from.recent4,
             FormatDotted);
  }
}

void FormatDecodedTexts(DecodedPacket& packet) {
  packet.typeText = PacketTypeText(packet.typeCode, packet.ipv6);
  DecodedPacket::TextSource& from = packet.madeFrom;
  MakeText(packet.sizeText, from.size, packet.hasSize, packet.size, from.recentNumbers, FormatDecimal);
  FormatAddressTexts(packet);
  MakeText(packet.sourcePortText, from.sourcePort, packet.hasSourcePort, packet.sourcePort, from.recentNumbers,
           FormatDecimal);
  MakeText(packet.destinationPortText, from.destinationPort, packet.hasDestinationPort, packet.destinationPort,
           from.recentNumbers, FormatDecimal);
}

void DecodeFrameAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                   std::uint32_t ipOffset, DecodedPacket& out) {
  DecodeFieldsAs(typeCode, frame, capturedLength, ipOffset, out);
  FormatDecodedTexts(out);
}

bool IsIpv6TypeText(std::string_view typeText) {
  for (std::int32_t code : {kPacketTypeIcmp, kPacketTypeIp, kPacketTypeTcp, kPacketTypeUdp})
    if (typeText == PacketTypeText(code, true)) return true;
  return false;
}

bool IsIpv6Frame(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset) {
  std::uint16_t type = 0;
  return ipOffset >= 2 && PacketBytes(frame, capturedLength).Be16(ipOffset - 2u, type) && type == kEthernetTypeIpv6;
}

void DecodeFields(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset, DecodedPacket& out) {
  if (IsIpv6Frame(frame, capturedLength, ipOffset)) {
    DecodeIpv6Fields(frame, capturedLength, ipOffset, out);
    return;
  }
  const PacketBytes bytes(frame, capturedLength);
  std::uint8_t protocol = 0;  // not captured: decoded as other IP
  bytes.U8(static_cast<std::uint64_t>(ipOffset) + kProtocolOffset, protocol);
  std::int32_t typeCode = kPacketTypeIp;
  if (protocol == 6) typeCode = kPacketTypeTcp;
  else if (protocol == 17) typeCode = kPacketTypeUdp;
  else if (protocol == 1) typeCode = kPacketTypeIcmp;
  DecodeFieldsAs(typeCode, frame, capturedLength, ipOffset, out);
}

void DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset,
                 DecodedPacket& out) {
  DecodeFields(frame, capturedLength, ipOffset, out);
  FormatDecodedTexts(out);
}

DecodedPacket DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength,
                          std::uint32_t ipOffset) {
  DecodedPacket out;
  DecodeFrame(frame, capturedLength, ipOffset, out);
  return out;
}

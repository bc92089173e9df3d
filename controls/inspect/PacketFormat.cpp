#include "controls/inspect/PacketFormat.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "wincap/DecodedPacket.h"
#include "wincap/PacketBytes.h"

namespace {

constexpr int kProtocolOffset = 9;      // in the IPv4 header
constexpr int kTotalLengthOffset = 2;   // in the IPv4 header
constexpr LONG kBytesPerLine = 16;
constexpr char kInterface[] = "INTERFACE->( ";
constexpr char kInterfaceEnd[] = " )\r\n";

// The text of every byte value in one mode: its cell (digits and a blank) and the cell's width.
struct CellTable {
  std::array<std::array<char, 4>, 256> cells{};
  LONG width = 0;
};

constexpr CellTable MakeHexTable() {
  constexpr char digits[] = "0123456789ABCDEF";
  CellTable table;
  table.width = 3;
  for (int b = 0; b < 256; ++b) table.cells[b] = {digits[b >> 4], digits[b & 15], ' ', 0};
  return table;
}

constexpr CellTable MakeDecimalTable() {
  CellTable table;
  table.width = 4;
  for (int b = 0; b < 256; ++b)
    table.cells[b] = {static_cast<char>('0' + b / 100), static_cast<char>('0' + b / 10 % 10), static_cast<char>('0' + b % 10),
                      ' '};
  return table;
}

constexpr CellTable kHexCells = MakeHexTable();
constexpr CellTable kDecimalCells = MakeDecimalTable();

void Terminate(char* out, LONG length, LONG capacity) {
  if (length < capacity) out[length] = 0;
}

// Writes bytes as cells with a CR LF after every 16th byte of a line; with linkBreak, also after
// the byte at index 13, where the line count starts again. Stops at the first byte whose cell
// and line break do not fit.
LONG WriteCells(const CellTable& table, const std::uint8_t* bytes, LONG count, char* out, LONG capacity,
                bool linkBreak) {
  const LONG width = table.width;
  LONG at = 0;
  LONG i = 0;
  LONG inLine = 0;
  if (linkBreak) {
    for (; i < count && i < PacketFormat::kLinkHeader; ++i) {
      const bool last = i == PacketFormat::kLinkHeader - 1;
      if (width + (last ? 2 : 0) > capacity - at) return at;
      std::memcpy(out + at, table.cells[bytes[i]].data(), static_cast<std::size_t>(width));
      at += width;
      if (last) {
        out[at++] = '\r';
        out[at++] = '\n';
      }
    }
  }
  // Whole lines while they fit, without a check per byte; each cell is copied as 4 bytes, the
  // spare one overwritten by what follows (room for it is part of the check).
  const LONG lineChars = kBytesPerLine * width + 2;
  while (count - i >= kBytesPerLine && lineChars + 4 <= capacity - at) {
    for (LONG k = 0; k < kBytesPerLine; ++k, at += width) std::memcpy(out + at, table.cells[bytes[i + k]].data(), 4);
    out[at++] = '\r';
    out[at++] = '\n';
    i += kBytesPerLine;
  }
  for (; i < count; ++i) {
    const bool lineEnd = ++inLine == kBytesPerLine;
    if (width + (lineEnd ? 2 : 0) > capacity - at) return at;
    std::memcpy(out + at, table.cells[bytes[i]].data(), static_cast<std::size_t>(width));
    at += width;
    if (lineEnd) {
      out[at++] = '\r';
      out[at++] = '\n';
      inLine = 0;
    }
  }
  return at;
}

char Shown(std::uint8_t byte) { return byte == 0 ? '0' : static_cast<char>(byte); }

LONG WriteCharacters(const std::uint8_t* bytes, LONG count, char* out, LONG capacity) {
  const LONG n = count < capacity ? count : capacity;
  for (LONG i = 0; i < n; ++i) out[i] = Shown(bytes[i]);
  return n;
}

// The text-mode header: the literal opens with the first byte and closes with the 14th.
LONG WriteTextHeader(const std::uint8_t* bytes, LONG count, char* out, LONG capacity) {
  constexpr LONG open = sizeof kInterface - 1;
  constexpr LONG close = sizeof kInterfaceEnd - 1;
  LONG at = 0;
  for (LONG i = 0; i < count; ++i) {
    const LONG before = i == 0 ? open : 0;
    const LONG after = i == PacketFormat::kLinkHeader - 1 ? close : 0;
    if (before + 1 + after > capacity - at) return at;
    if (before) {
      std::memcpy(out + at, kInterface, open);
      at += open;
    }
    out[at++] = Shown(bytes[i]);
    if (after) {
      std::memcpy(out + at, kInterfaceEnd, close);
      at += close;
    }
  }
  return at;
}

struct Split {
  const std::uint8_t* payload = nullptr;
  LONG payloadLength = 0;
  const std::uint8_t* header = nullptr;
  LONG headerLength = 0;
};

Split SplitPacket(const char* protocol, const std::uint8_t* packet, LONG packetLength) {
  Split split;
  PacketFormat::displayGetPointers(protocol, packet, packetLength, &split.payload, &split.payloadLength, &split.header,
                                   &split.headerLength);
  return split;
}

bool Usable(const std::uint8_t* packet, LONG packetLength, char* data, LONG dataCapacity, char* header,
            LONG headerCapacity) {
  return packet != nullptr && packetLength >= 1 && data != nullptr && header != nullptr && dataCapacity >= 1 &&
         headerCapacity >= 1;
}

PacketFormat::Written FormatCells(const CellTable& table, const char* protocol, const std::uint8_t* packet,
                                  LONG packetLength, char* data, LONG dataCapacity, char* header, LONG headerCapacity) {
  PacketFormat::Written written;
  if (!Usable(packet, packetLength, data, dataCapacity, header, headerCapacity)) return written;
  const Split split = SplitPacket(protocol, packet, packetLength);
  written.header = WriteCells(table, split.header, split.headerLength, header, headerCapacity, true);
  written.data = WriteCells(table, split.payload, split.payloadLength, data, dataCapacity, false);
  Terminate(header, written.header, headerCapacity);
  Terminate(data, written.data, dataCapacity);
  return written;
}

}  // namespace

const char* PacketFormat::ProtocolName(int ipProtocol) {
  switch (ipProtocol) {
    case 6: return "TCP";
    case 17: return "UDP";
    case 1: return "ICMP";
    default: return "IP";
  }
}

namespace {

// An IPv6 frame's fields as the packet pane decodes them; false for any other frame.
bool DecodeIpv6(const std::uint8_t* packet, LONG length, DecodedPacket& out) {
  if (packet == nullptr || length < 1) return false;
  const auto captured = static_cast<std::uint32_t>(length);
  if (!IsIpv6Frame(packet, captured, PacketFormat::kLinkHeader)) return false;
  DecodeFields(packet, captured, PacketFormat::kLinkHeader, out);
  return true;
}

}  // namespace

const char* PacketFormat::ProtocolOf(const std::uint8_t* packet, LONG length) {
  if (DecodedPacket ipv6; DecodeIpv6(packet, length, ipv6)) return PacketTypeText(ipv6.typeCode, true);
  std::uint8_t protocol = 0;
  if (length < 1 || !PacketBytes(packet, static_cast<std::size_t>(length)).U8(kLinkHeader + kProtocolOffset, protocol))
    return "IP";
  return ProtocolName(protocol);
}

LONG PacketFormat::IpTotalLength(const std::uint8_t* packet, LONG length) {
  if (DecodedPacket ipv6; DecodeIpv6(packet, length, ipv6)) return ipv6.size;
  std::uint16_t total = 0;
  if (length < 1) return 0;
  PacketBytes(packet, static_cast<std::size_t>(length)).Be16(kLinkHeader + kTotalLengthOffset, total);
  return total;
}

LONG PacketFormat::HeaderLengthAfterLink(const char* protocol) {
  if (protocol == nullptr) return 20;
  if (std::strcmp(protocol, "TCP") == 0) return 40;
  if (std::strcmp(protocol, "UDP") == 0 || std::strcmp(protocol, "ICMP") == 0) return 28;
  return 20;
}

void PacketFormat::displayGetPointers(const char* protocol, const std::uint8_t* packet, LONG packetLength,
                                      const std::uint8_t** payload, LONG* payloadLength, const std::uint8_t** header,
                                      LONG* headerLength) {
  if (packet == nullptr || packetLength <= 0 || payload == nullptr || payloadLength == nullptr || header == nullptr ||
      headerLength == nullptr)
    return;
  *header = packet;
  if (DecodedPacket ipv6; DecodeIpv6(packet, packetLength, ipv6)) {
    // The headers are every byte before the upper layer's payload: the IPv6 header, its extension
    // headers and the TCP, UDP or ICMPv6 header. Without a payload they end where the packet's
    // own length does (an Ethernet trailer is not part of them).
    *payload = ipv6.payload;
    *payloadLength = ipv6.payload != nullptr ? ipv6.payloadLength : 0;
    const LONG end = ipv6.payload != nullptr ? static_cast<LONG>(ipv6.payload - packet) : kLinkHeader + ipv6.size;
    *headerLength = std::min(end, packetLength);
    return;
  }
  const LONG after = HeaderLengthAfterLink(protocol);
  *headerLength = kLinkHeader + after < packetLength ? kLinkHeader + after : packetLength;
  // The total-length field says how much payload there is; the bytes given bound it.
  LONG length = IpTotalLength(packet, packetLength) - after;
  const LONG present = packetLength - kLinkHeader - after;
  if (length > present) length = present;
  *payload = length > 0 ? packet + kLinkHeader + after : nullptr;
  *payloadLength = length > 0 ? length : 0;
}

char* PacketFormat::displayFormat(int mode, const char* protocol, const std::uint8_t* packet, LONG packetLength,
                                  char* data, LONG dataCapacity, char* header, LONG headerCapacity, int,
                                  Written* written) {
  if (mode < kHex || mode > kText || !Usable(packet, packetLength, data, dataCapacity, header, headerCapacity))
    return nullptr;
  Written result;
  switch (mode) {
    case kHex:
      result = displayFormatHex(protocol, packet, packetLength, data, dataCapacity, header, headerCapacity);
      break;
    case kDecimal:
      result = displayFormatDec(protocol, packet, packetLength, data, dataCapacity, header, headerCapacity);
      break;
    default:
      result = displayFormatChr(protocol, packet, packetLength, data, dataCapacity, header, headerCapacity, 0);
      break;
  }
  if (written != nullptr) *written = result;
  return data;
}

PacketFormat::Written PacketFormat::displayFormatHex(const char* protocol, const std::uint8_t* packet,
                                                     LONG packetLength, char* data, LONG dataCapacity, char* header,
                                                     LONG headerCapacity) {
  return FormatCells(kHexCells, protocol, packet, packetLength, data, dataCapacity, header, headerCapacity);
}

PacketFormat::Written PacketFormat::displayFormatDec(const char* protocol, const std::uint8_t* packet,
                                                     LONG packetLength, char* data, LONG dataCapacity, char* header,
                                                     LONG headerCapacity) {
  return FormatCells(kDecimalCells, protocol, packet, packetLength, data, dataCapacity, header, headerCapacity);
}

PacketFormat::Written PacketFormat::displayFormatChr(const char* protocol, const std::uint8_t* packet,
                                                     LONG packetLength, char* data, LONG dataCapacity, char* header,
                                                     LONG headerCapacity, int) {
  Written written;
  if (!Usable(packet, packetLength, data, dataCapacity, header, headerCapacity)) return written;
  const Split split = SplitPacket(protocol, packet, packetLength);
  written.header = WriteTextHeader(split.header, split.headerLength, header, headerCapacity);
  written.data = WriteCharacters(split.payload, split.payloadLength, data, dataCapacity);
  Terminate(header, written.header, headerCapacity);
  Terminate(data, written.data, dataCapacity);
  return written;
}

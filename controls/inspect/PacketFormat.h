#pragma once
#include <cstdint>

#include "common/WinTypes.h"

// Turns the bytes of one logged packet (a 14-byte Ethernet header, the IPv4 header, the transport
// header and the payload) into the two texts every packet window shows: a header text and a data
// text, in hex, decimal or text mode.
//
// The split between header and payload is fixed by the protocol name alone ("TCP": 40 bytes after
// the link header, "UDP" and "ICMP": 28, anything else: 20); the payload runs for the IPv4
// total length minus that. Every length is also bounded by the bytes actually given, so a
// truncated record or a lying total-length field renders what is there and nothing beyond.
//
// Each text is written into a caller's buffer of a given capacity: the text of a byte, with its
// blank, a CR LF that follows it and a literal written with it, is written only when all of it
// fits; the section stops at the first that does not. A zero byte follows each text when the
// capacity leaves room for it.
class PacketFormat {
 public:
  static constexpr int kHex = 1;
  static constexpr int kDecimal = 2;
  static constexpr int kText = 3;
  static constexpr LONG kLinkHeader = 14;  // bytes before the IPv4 header

  // Characters written into each buffer (the terminating zero not counted).
  struct Written {
    LONG data = 0;
    LONG header = 0;
  };

  // "TCP", "UDP", "ICMP" for the IP protocol numbers 6, 17, 1; "IP" for any other.
  static const char* ProtocolName(int ipProtocol);
  // The protocol name from IP header byte 9 of a packet ("IP" when it was not captured); for an
  // IPv6 frame its type text as the packet pane shows it ("TCP6", "UDP6", "ICMP6", "IP6").
  static const char* ProtocolOf(const std::uint8_t* packet, LONG length);
  // The IPv4 total-length field (IP header bytes 2-3); 0 when it was not captured. For an IPv6
  // frame, its payload length + 40.
  static LONG IpTotalLength(const std::uint8_t* packet, LONG length);
  // Bytes of headers after the link header, by protocol name: 40, 28, 28 or 20.
  static LONG HeaderLengthAfterLink(const char* protocol);

  // Splits a packet into its header (from the first byte) and its payload. Does nothing when the
  // packet is missing, its length is not positive or an out argument is missing. A payload of no
  // bytes gives a null start and length 0. An IPv6 frame is split where the packet pane's decoding
  // puts its payload, whatever the protocol name says.
  static void displayGetPointers(const char* protocol, const std::uint8_t* packet, LONG packetLength,
                                 const std::uint8_t** payload, LONG* payloadLength, const std::uint8_t** header,
                                 LONG* headerLength);

  // Renders in mode 1 (hex), 2 (decimal) or 3 (text) and returns data; null when the mode is
  // another, a buffer is missing or a capacity is below 1, or the packet is missing or its length
  // below 1. The flag is accepted and ignored; text mode never wraps.
  static char* displayFormat(int mode, const char* protocol, const std::uint8_t* packet, LONG packetLength, char* data,
                             LONG dataCapacity, char* header, LONG headerCapacity, int flag, Written* written = nullptr);

  // Hex: two upper-case digits and a blank per byte. Header text: CR LF after the byte at index
  // 13 (the link header), then after every 16th byte of a line; data text: after every 16th byte.
  static Written displayFormatHex(const char* protocol, const std::uint8_t* packet, LONG packetLength, char* data,
                                  LONG dataCapacity, char* header, LONG headerCapacity);
  // Decimal: three digits (leading zeros) and a blank per byte; line breaks as in hex.
  static Written displayFormatDec(const char* protocol, const std::uint8_t* packet, LONG packetLength, char* data,
                                  LONG dataCapacity, char* header, LONG headerCapacity);
  // Text: the header as "INTERFACE->( ", the link header's 14 bytes, " )", CR LF and the rest;
  // the data with no breaks; a zero byte shows as "0", every other byte as itself.
  static Written displayFormatChr(const char* protocol, const std::uint8_t* packet, LONG packetLength, char* data,
                                  LONG dataCapacity, char* header, LONG headerCapacity, int wrap);
};

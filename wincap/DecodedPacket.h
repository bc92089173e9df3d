#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The header fields of one frame. A frame whose Ethernet type (the two bytes before the IP
// header) is 0x86DD is an IPv6 packet; every other frame is read as IPv4 at fixed offsets: the
// IPv4 header at the given offset with 20 bytes, the TCP header with 20 and the UDP and ICMP
// headers with 8; the IHL and data-offset fields are not read.
//
// An IPv6 packet has its 40-byte header at the IP offset; its extension headers (hop-by-hop,
// routing, fragment, destination options, authentication) are walked to TCP, UDP or ICMPv6 and
// stop at ESP, no-next-header and any other value, which decode as other IP. A fragment other
// than the first has no upper header. The size is the payload length + 40, the addresses are
// kept whole in source6 and destination6 (the 32-bit ones are 0) with their RFC 5952 texts, the
// type texts are "TCP6", "UDP6", "ICMP6" and "IP6" (type codes as for IPv4). Its layers are
// bounded by the payload length as well as by the captured bytes, and the payload is what
// follows the upper header (TCP by its data offset).
//
// Every read is bounded by the captured length. A field whose bytes were not captured reads as 0
// with an empty text, so a short frame shows what it holds and nothing else:
//   - protocol byte (IP + 9) missing: type "IP", code 2;
//   - size (IP + 2..3), addresses (IP + 12..15, 16..19), ports (IP + 20..21, 22..23) missing:
//     0 and "";
//   - the payload is clipped to the captured bytes: a frame whose total length claims more than
//     was captured gets only the captured part (payloadLength <= bytes left after the header).
struct DecodedPacket {
  std::string typeText;            // "TCP", "UDP", "ICMP" or "IP"; IPv6: "TCP6", ... "IP6"
  std::int32_t typeCode = 0;       // 1 ICMP, 2 other IP, 3 TCP, 4 UDP
  std::int32_t size = 0;           // IPv4 total length (header bytes 2-3); IPv6 payload length + 40
  std::string sizeText;
  bool ipv6 = false;
  std::uint32_t source = 0;        // network byte order; 0 for IPv6
  std::string sourceText;          // dotted, or the IPv6 text
  std::uint32_t destination = 0;   // network byte order
  std::string destinationText;
  std::array<std::uint8_t, 16> source6{};  // IPv6 addresses, network order; zero for IPv4
  std::array<std::uint8_t, 16> destination6{};
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
  // kMadeFromIpv6: an address text made from the IPv6 address in source6 or destination6.
  static constexpr std::int64_t kMadeFromIpv6 = -2;
  // Values formatted lately and their texts, shared by the fields of a kind (the ends of a
  // conversation trade places packet by packet) and kept across packets of the other family; the
  // oldest goes first. A text is copied from here, not from bytes just stored, which a copy
  // would wait for.
  template <typename Key, std::size_t Entries, std::size_t Capacity>
  struct RecentTexts {
    struct Entry {
      Key key{};
      bool valid = false;
      // Wider than it need be: a length the compiler knows to be small makes its copy an inline
      // string move, slower for a few bytes than the library's copy.
      std::size_t length = 0;
      char text[Capacity] = {};
    };
    Entry entries[Entries];
    std::uint8_t next = 0;
  };
  struct TextSource {
    std::int64_t size = -1, source = -1, destination = -1, sourcePort = -1, destinationPort = -1;
    std::array<std::uint8_t, 16> source6{}, destination6{};
    RecentTexts<std::array<std::uint8_t, 16>, 4, 46> recent6;
    RecentTexts<std::uint32_t, 4, 16> recent4;
    RecentTexts<std::uint32_t, 8, 8> recentNumbers;  // sizes and ports
} madeFrom;
};

// Bytes of the fixed headers after the start of the IPv4 header, by type code.
std::uint32_t FixedHeaderLength(std::int32_t typeCode);

// The type text of a packet: "TCP", "UDP", "ICMP", "IP", or for IPv6 "TCP6", "UDP6", "ICMP6", "IP6".
const char* PacketTypeText(std::int32_t typeCode, bool ipv6);
// Whether a type text is one of an IPv6 packet ("TCP6", "UDP6", "ICMP6", "IP6").
bool IsIpv6TypeText(std::string_view typeText);

// Whether the two bytes before the IP header hold the Ethernet type 0x86DD.
bool IsIpv6Frame(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset);

// Decodes a frame: an IPv6 frame as told above; any other dispatches on the protocol byte (IP
// header byte 9): 6 TCP, 17 UDP, 1 ICMP, anything else IP. The frame is frame[0 ..
// capturedLength); the IP header starts ipOffset bytes in (14 after an Ethernet header).
// Overwrites every field of out.
void DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset,
                 DecodedPacket& out);
DecodedPacket DecodeFrame(const std::uint8_t* frame, std::uint32_t capturedLength,
                          std::uint32_t ipOffset);

// Decodes as an IPv4 packet of the given type whatever the protocol byte and the Ethernet type
// say (the per-protocol decoders of the capture thread). A type code other than 1, 3 or 4
// decodes as other IP.
void DecodeFrameAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                   std::uint32_t ipOffset, DecodedPacket& out);

// DecodeFrame and DecodeFrameAs in two steps, for the capture thread, which formats texts only
// for the packets that get a row: the numbers, the payload and the has-flags, leaving the texts
// as they were; then the texts of those numbers.
void DecodeFields(const std::uint8_t* frame, std::uint32_t capturedLength, std::uint32_t ipOffset, DecodedPacket& out);
void DecodeFieldsAs(std::int32_t typeCode, const std::uint8_t* frame, std::uint32_t capturedLength,
                    std::uint32_t ipOffset, DecodedPacket& out);
void FormatDecodedTexts(DecodedPacket& packet);
// The address texts alone: the packet log's header holds them, while a pane row makes its texts
// when they are read.
void FormatAddressTexts(DecodedPacket& packet);

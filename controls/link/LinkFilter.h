#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "common/LinkAddresses6.h"
#include "common/MonListMonItemDataIp.h"
#include "common/WinTypes.h"

struct DecodedPacket;

// What a link monitor keeps: the packets of one link (a protocol and two end points, A and B)
// in either direction, optionally only those within a size range. Each filter flag makes one
// part of the link a condition; a flag whose part of the link is 0 (not defined) is no
// condition at all, so ticking "From Port" for a link without ports keeps what it kept before.
//
// A link between IPv6 end points compares their 16-byte addresses, an IPv4 link its 32-bit ones,
// so an address of one family never matches a packet of the other. The "Type" texts name the
// family too: "TCP" keeps TCP over IPv4, "TCP6" TCP over IPv6.
//
// Plain data: the capture thread keeps one under its lock and asks it once per packet.
class LinkFilter {
 public:
  static constexpr DWORD kType = 1;
  static constexpr DWORD kFromAddr = 2;
  static constexpr DWORD kFromPort = 4;
  static constexpr DWORD kToAddr = 8;
  static constexpr DWORD kToPort = 16;
  static constexpr DWORD kAllFlags = kType | kFromAddr | kFromPort | kToAddr | kToPort;

  // localAddr/localPort are end point A, remoteAddr/remotePort end point B (addresses in network
  // byte order, ports in host order); state and connectTime are carried, never read. link6 holds
  // the addresses of an IPv6 link, whose record then has 0 in its address fields.
  void SetLink(const _MonListMonItemDataIp& link, const std::optional<LinkAddresses6>& link6 = std::nullopt) {
    m_link = link;
    m_link6 = link6;
  }
  const _MonListMonItemDataIp& GetLink() const { return m_link; }
  const std::optional<LinkAddresses6>& GetLink6() const { return m_link6; }
  const std::string& GetProtocol() const { return m_protocol; }

  // Takes the protocol text and sets exactly the flags of the defined parts: "Type" for a
  // protocol text, each address and port that is not 0. Returns the flags.
  DWORD InitMonFlags(const std::string& protocol);
  // On sets the flag, off clears it (a flag that is not set stays clear).
  void SetMonFlags(DWORD flag, int on);
  DWORD GetMonFlags() const { return m_flags; }

  // Sizes in bytes of IP total length (IPv6: payload length + 40); 0 = no limit.
  void SetPacketSize(LONG minimum, LONG maximum) {
    m_minimum = minimum;
    m_maximum = maximum;
  }
  LONG GetMinimum() const { return m_minimum; }
  LONG GetMaximum() const { return m_maximum; }

  // The link rule: type, then addresses and ports, each in either direction and the ports
  // independently of the addresses.
  bool Passes(const DecodedPacket& packet) const;
  // The size rule. A maximum below the minimum (both set) keeps exactly those two sizes.
  bool SizePasses(LONG size) const;
  bool HasSizeRule() const { return m_minimum > 0 || m_maximum > 0; }

  // The IP total length of a frame whose IP header starts ipOffset bytes in (of an IPv6 frame its
  // payload length + 40); 0 when the length field was not captured.
  static LONG FrameSize(const std::uint8_t* frame, LONG length, LONG ipOffset);

 private:
  // The flags of the link's defined parts: "Type" for a protocol text, each address and port
  // that is not 0.
  DWORD Defined() const;

  _MonListMonItemDataIp m_link{};
  std::optional<LinkAddresses6> m_link6;
  std::string m_protocol;
  DWORD m_flags = 0;
  LONG m_minimum = 0;
  LONG m_maximum = 0;
};

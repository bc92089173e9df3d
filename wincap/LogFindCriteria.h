#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/LogRecMarker.h"
#include "wincap/LogFindPattern.h"

// What the "Find" dialog looks for, as the user typed it, and the four tests a logged record is
// put to. A record matches when any test that is set matches; each test gives the "Matched" text
// of its result row.
struct LogFindTexts {
  std::string text;     // looked for without regard to the case of ASCII letters
  std::string hex;      // as typed: pairs of hex digits, blanks allowed
  std::string ipFrom;   // dotted or IPv6 text; empty or "0.0.0.0" = not set
  std::string ipTo;
  std::string sizeMin;  // decimal; empty = not set
  std::string sizeMax;
};

class LogFindCriteria {
 public:
  LogFindCriteria() = default;
  explicit LogFindCriteria(const LogFindTexts& texts);

  const LogFindTexts& Texts() const { return m_texts; }
  bool IsIpSet() const { return m_ipSet; }
  // IP from is an IPv6 address: the address test is FindIp6's, and no IPv4 record matches it.
  bool IsIp6() const { return m_ip6; }
  bool IsTextSet() const { return !m_texts.text.empty(); }
  bool IsHexSet() const { return !m_texts.hex.empty(); }
  bool IsSizeSet() const { return m_sizeSet; }
  // The hex text with its blanks removed, which is what is looked for.
  const std::string& HexText() const { return m_hexText; }

  // The source or destination text equals IP from (matched: IP from); or, when IP to is not
  // 0.0.0.0, the source (matched: its text) or else the destination lies in IP from .. IP to,
  // compared as numbers in host order.
  bool FindIp(const _LogRecMarker& header, std::string* matched) const;
  // The same for an IPv6 packet's addresses (16 bytes each, network order), a range compared as
  // 128-bit numbers; matched: the address's shortest text. An IPv4 criterion matches nothing here.
  bool FindIp6(const std::uint8_t* source, const std::uint8_t* destination, std::string* matched) const;
  // The text occurs in the record's bytes (link header included); matched: those bytes as stored.
  bool FindTextA(const std::uint8_t* data, std::size_t length, std::string* matched) const;
  // The hex bytes occur in the record's bytes; matched: the hex text without blanks. A hex text
  // with a character that is not a hex digit in one of its pairs matches nothing; an odd last
  // digit is ignored.
  bool FindHex(const std::uint8_t* data, std::size_t length, std::string* matched) const;
  // With min and max (-1 when not given): min > max > 0 means either exact size; min alone is a
  // lower bound, max alone an upper bound, both a closed range. Matched: the size in decimal.
  bool FindPktSize(std::int32_t size, std::string* matched) const;

  std::int32_t SizeMin() const { return m_sizeMin; }
  std::int32_t SizeMax() const { return m_sizeMax; }

  // Dotted decimal a.b.c.d as it stands in a record header (at most width characters), in host
  // order; false for anything else.
  static bool ParseDotted(const char* text, std::size_t width, std::uint32_t& hostOrder);

 private:
  LogFindTexts m_texts;
  bool m_ipSet = false;
  std::uint32_t m_ipFrom = 0;  // host order
  std::uint32_t m_ipTo = 0;
  bool m_ip6 = false;
  bool m_ip6Range = false;  // IP to is an IPv6 address too
  std::uint8_t m_ip6From[16] = {};
  std::uint8_t m_ip6To[16] = {};
  LogFindPattern m_textPattern;
  std::string m_hexText;
  LogFindPattern m_hexPattern;  // not set when the hex text is not valid
  bool m_sizeSet = false;
  std::int32_t m_sizeMin = -1;
  std::int32_t m_sizeMax = -1;
};

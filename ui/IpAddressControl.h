#pragma once
#include <array>
#include <string>

#include "ui/Window.h"

// An IPv4 address field of four parts. An empty field reads "0.0.0.0" as text, as on the
// platform. A field that allows IPv6 also holds an IPv6 address, read back in RFC 5952 text.
// Numeric addresses are in host order (first part in the high byte), as the platform's control
// takes them; use ntohl/htonl for addresses in network order.
class IpAddressControl : public Window {
 public:
  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id);

  // Whether IPv6 text is taken (off unless allowed).
  void AllowIpv6(bool allow);
  bool AllowsIpv6() const;

  // Dotted text (or IPv6 text where allowed); any other text empties the field.
  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;

  void SetAddress(DWORD hostOrder);
  void SetAddress(int b0, int b1, int b2, int b3);
  int GetAddress(DWORD& hostOrder) const;  // number of parts that are filled in (0 for IPv6)
  void ClearAddress();
  bool IsBlank() const;

  // What the user types: the same as SetWindowText, then EN_CHANGE to the parent.
  bool TypeText(const std::string& text);

 private:
  std::array<int, 4> m_fields{-1, -1, -1, -1};  // -1 = empty part
  std::string m_ipv6;                           // the IPv6 address held, else empty
  bool m_allowIpv6 = false;
};

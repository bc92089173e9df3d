#pragma once
#include <array>
#include <string>

#include "ui/Window.h"

// An IPv4 address field of four parts. An empty field reads "0.0.0.0" as text, as on the
// platform. Numeric addresses are in host order (first part in the high byte), as the platform's
// control takes them; use ntohl/htonl for addresses in network order.
class IpAddressControl : public Window {
 public:
  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id);

  // Dotted text; a text that is not a dotted address of four parts 0..255 empties the field.
  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;

  void SetAddress(DWORD hostOrder);
  void SetAddress(int b0, int b1, int b2, int b3);
  int GetAddress(DWORD& hostOrder) const;  // number of parts that are filled in
  void ClearAddress();
  bool IsBlank() const;

  // What the user types: the same as SetWindowText, then EN_CHANGE to the parent.
  bool TypeText(const std::string& text);

 private:
  std::array<int, 4> m_fields{-1, -1, -1, -1};  // -1 = empty part
};

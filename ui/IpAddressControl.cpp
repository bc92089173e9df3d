#include "ui/IpAddressControl.h"

#include <cctype>

#include "common/AddressText.h"

bool IpAddressControl::Create(DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::IpAddress, "", style, rect, parent, id);
}

namespace {

bool ParseDotted(const std::string& text, std::array<int, 4>& fields) {
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    int value = 0;
    int digits = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && digits < 3) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    fields[static_cast<std::size_t>(part)] = value;
  }
  return pos == text.size();
}

}  // namespace

void IpAddressControl::AllowIpv6(bool allow) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_allowIpv6 = allow;
  }
  Changed(kChangeStyle);
}

bool IpAddressControl::AllowsIpv6() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_allowIpv6;
}

void IpAddressControl::SetWindowText(const std::string& text) {
  std::array<int, 4> fields{-1, -1, -1, -1};
  std::string ipv6;
  std::uint8_t address[16];
  if (!ParseDotted(text, fields)) {
    fields = {-1, -1, -1, -1};
    if (AllowsIpv6() && Inet6Pton(text.c_str(), address)) ipv6 = Inet6Ntop(address);
  }
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (m_fields == fields && m_ipv6 == ipv6) return;
    m_fields = fields;
    m_ipv6 = ipv6;
  }
  Changed(kChangeText);
}

std::string IpAddressControl::GetWindowText() const {
  std::lock_guard<std::mutex> lock(StateLock());
  if (!m_ipv6.empty()) return m_ipv6;
  std::string text;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(m_fields[i] < 0 ? 0 : m_fields[i]);
  }
  return text;
}

void IpAddressControl::SetAddress(DWORD hostOrder) {
  SetAddress(static_cast<int>(hostOrder >> 24), static_cast<int>((hostOrder >> 16) & 0xFF), static_cast<int>((hostOrder >> 8) & 0xFF),
             static_cast<int>(hostOrder & 0xFF));
}

void IpAddressControl::SetAddress(int b0, int b1, int b2, int b3) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_fields = {b0 & 0xFF, b1 & 0xFF, b2 & 0xFF, b3 & 0xFF};
    m_ipv6.clear();
  }
  Changed(kChangeText);
}

int IpAddressControl::GetAddress(DWORD& hostOrder) const {
  std::lock_guard<std::mutex> lock(StateLock());
  hostOrder = 0;
  int filled = 0;
  for (int field : m_fields) {
    hostOrder = (hostOrder << 8) | static_cast<DWORD>(field < 0 ? 0 : field);
    if (field >= 0) ++filled;
  }
  return filled;
}

void IpAddressControl::ClearAddress() {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_fields = {-1, -1, -1, -1};
    m_ipv6.clear();
  }
  Changed(kChangeText);
}

bool IpAddressControl::IsBlank() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_ipv6.empty() && m_fields[0] < 0 && m_fields[1] < 0 && m_fields[2] < 0 && m_fields[3] < 0;
}

bool IpAddressControl::TypeText(const std::string& text) {
  if (!IsWindowVisible() || !IsWindowEnabled()) return false;
  SetWindowText(text);
  NotifyParentCommand(EN_CHANGE);
  return true;
}

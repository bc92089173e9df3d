#include "platform/RegistryTree.h"

#include <cstdio>

namespace {

constexpr char kHeader[] = "PelorinPro registry 1";

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text starting at line[pos] == '"'; on success pos is just past the closing quote.
bool ReadQuoted(std::string_view line, std::size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < line.size()) {
    const char c = line[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos >= line.size()) return false;
    const char e = line[pos++];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (pos + 2 > line.size()) return false;
        const int hi = HexDigit(line[pos]), lo = HexDigit(line[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default: out += e;
    }
  }
  return false;
}

bool ReadValue(std::string_view text, RegistryValue& value) {
  if (!text.empty() && text.front() == '"') {
    std::size_t pos = 0;
    std::string s;
    if (!ReadQuoted(text, pos, s) || pos != text.size()) return false;
    value = RegistryValue::String(std::move(s));
    return true;
  }
  if (text.starts_with("dword:")) {
    text.remove_prefix(6);
    if (text.empty() || text.size() > 8) return false;
    std::uint32_t n = 0;
    for (char c : text) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      n = n * 16 + static_cast<std::uint32_t>(d);
    }
    value = RegistryValue::Dword(n);
    return true;
  }
  if (text.starts_with("hex:")) {
    text.remove_prefix(4);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 3 + 1);
    std::size_t pos = 0;
    while (pos < text.size()) {
      if (pos + 2 > text.size()) return false;
      const int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      pos += 2;
      if (pos < text.size()) {
        if (text[pos] != ',') return false;
        ++pos;
      }
    }
    value = RegistryValue::Binary(std::move(bytes));
    return true;
  }
  return false;
}

}  // namespace

std::string RegistryTree::Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string RegistryTree::NormalizeKey(std::string_view key) {
  std::string out;
  std::size_t pos = 0;
  while (pos < key.size()) {
    std::size_t end = key.find('\\', pos);
    if (end == std::string_view::npos) end = key.size();
    if (end > pos) {
      if (!out.empty()) out += '\\';
      out += key.substr(pos, end - pos);
    }
    pos = end + 1;
  }
  return out;
}

RegistryTree::Key* RegistryTree::FindKey(std::string_view key) {
  auto it = m_keys.find(Fold(NormalizeKey(key)));
  return it == m_keys.end() ? nullptr : &it->second;
}

const RegistryTree::Key* RegistryTree::FindKey(std::string_view key) const {
  auto it = m_keys.find(Fold(NormalizeKey(key)));
  return it == m_keys.end() ? nullptr : &it->second;
}

bool RegistryTree::HasKey(std::string_view key) const { return FindKey(key) != nullptr; }

void RegistryTree::CreateKey(std::string_view key) {
  const std::string path = NormalizeKey(key);
  std::size_t pos = 0;
  while (pos <= path.size() && !path.empty()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(0, end);
    auto [it, added] = m_keys.try_emplace(Fold(part));
    if (added) it->second.path = part;
    pos = end + 1;
  }
}

bool RegistryTree::DeleteKey(std::string_view key) {
  const std::string folded = Fold(NormalizeKey(key));
  if (folded.empty()) return false;
  auto it = m_keys.find(folded);
  if (it == m_keys.end()) return false;
  const std::string prefix = folded + '\\';
  it = m_keys.erase(it);
  while (it != m_keys.end() && it->first.starts_with(prefix)) it = m_keys.erase(it);
  return true;
}

const RegistryValue* RegistryTree::GetValue(std::string_view key, std::string_view name) const {
  const Key* k = FindKey(key);
  if (!k) return nullptr;
  const std::string folded = Fold(name);
  for (const auto& [n, v] : k->values)
    if (Fold(n) == folded) return &v;
  return nullptr;
}

void RegistryTree::SetValue(std::string_view key, std::string_view name, RegistryValue value) {
  CreateKey(key);
  Key* k = FindKey(key);
  if (!k) return;  // an empty key path holds no values
  const std::string folded = Fold(name);
  for (auto& [n, v] : k->values) {
    if (Fold(n) == folded) {
      v = std::move(value);
      return;
    }
  }
  k->values.emplace_back(std::string(name), std::move(value));
}

bool RegistryTree::DeleteValue(std::string_view key, std::string_view name) {
  Key* k = FindKey(key);
  if (!k) return false;
  const std::string folded = Fold(name);
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (Fold(it->first) == folded) {
      k->values.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::string> RegistryTree::ValueNames(std::string_view key) const {
  std::vector<std::string> names;
  if (const Key* k = FindKey(key))
    for (const auto& [n, v] : k->values) names.push_back(n);
  return names;
}

std::vector<std::string> RegistryTree::SubKeyNames(std::string_view key) const {
  std::vector<std::string> names;
  const std::string folded = Fold(NormalizeKey(key));
  const std::string prefix = folded.empty() ? std::string() : folded + '\\';
  for (auto it = m_keys.lower_bound(prefix); it != m_keys.end() && it->first.starts_with(prefix); ++it) {
    const std::string rest = it->second.path.substr(prefix.size());
    if (!rest.empty() && rest.find('\\') == std::string::npos) names.push_back(rest);
  }
  return names;
}

std::string RegistryTree::Serialize() const {
  std::string out = kHeader;
  out += "\n";
  for (const auto& [folded, key] : m_keys) {
    out += "\n[";
    out += key.path;
    out += "]\n";
    for (const auto& [name, value] : key.values) {
      AppendQuoted(out, name);
      out += '=';
      switch (value.type) {
        case RegistryValue::Type::String: AppendQuoted(out, value.text); break;
        case RegistryValue::Type::Dword: {
          char hex[16];
          std::snprintf(hex, sizeof hex, "dword:%08x", value.number);
          out += hex;
          break;
        }
        case RegistryValue::Type::Binary: {
          out += "hex:";
          static const char digits[] = "0123456789abcdef";
          for (std::size_t i = 0; i < value.bytes.size(); ++i) {
            if (i) out += ',';
            out += digits[value.bytes[i] >> 4];
            out += digits[value.bytes[i] & 15];
          }
          break;
        }
      }
      out += '\n';
    }
  }
  return out;
}

RegistryTree RegistryTree::Parse(std::string_view text) {
  RegistryTree tree;
  std::string currentKey;
  bool inKey = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line == kHeader) continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      inKey = close != std::string_view::npos && close > 1;
      if (inKey) {
        currentKey = NormalizeKey(line.substr(1, close - 1));
        inKey = !currentKey.empty();
        if (inKey) tree.CreateKey(currentKey);
      }
      continue;
    }
    if (!inKey || line.front() != '"') continue;
    std::size_t p = 0;
    std::string name;
    if (!ReadQuoted(line, p, name) || p >= line.size() || line[p] != '=') continue;
    RegistryValue value;
    if (ReadValue(line.substr(p + 1), value)) tree.SetValue(currentKey, name, std::move(value));
  }
  return tree;
}

#pragma once
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/RegistryValue.h"

// The whole content of the registry store in memory, and its text form:
//
//   [Software\DunmereIncProducts\Setup\PelorinPro]
//   "Layout"="18"
//   "AdapterCurr"=dword:ffffffff
//   "OrIp"=hex:
//
// Key paths use backslashes and, like value names, compare without regard to case.
class RegistryTree {
 public:
  // Reads the text form. Lines it cannot understand are skipped, so a damaged store still
  // yields every value that can be read.
  static RegistryTree Parse(std::string_view text);
  std::string Serialize() const;

  bool HasKey(std::string_view key) const;
  void CreateKey(std::string_view key);  // parents too
  bool DeleteKey(std::string_view key);  // with its sub-keys
  const RegistryValue* GetValue(std::string_view key, std::string_view name) const;
  void SetValue(std::string_view key, std::string_view name, RegistryValue value);
  bool DeleteValue(std::string_view key, std::string_view name);
  std::vector<std::string> ValueNames(std::string_view key) const;
  std::vector<std::string> SubKeyNames(std::string_view key) const;  // direct children only

  // "a\\b\\" -> "a\b": no empty parts.
  static std::string NormalizeKey(std::string_view key);

 private:
  struct Key {
    std::string path;  // as first written
    std::vector<std::pair<std::string, RegistryValue>> values;
  };
  static std::string Fold(std::string_view text);  // ASCII lower case
  Key* FindKey(std::string_view key);
  const Key* FindKey(std::string_view key) const;

  std::map<std::string, Key> m_keys;  // by folded path
};

#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One typed value of the registry store: text, 32-bit number or binary (possibly zero-length).
struct RegistryValue {
  enum class Type { String, Dword, Binary };

  Type type = Type::String;
  std::string text;
  std::uint32_t number = 0;
  std::vector<std::uint8_t> bytes;

  static RegistryValue String(std::string text) {
    RegistryValue v;
    v.type = Type::String;
    v.text = std::move(text);
    return v;
  }
  static RegistryValue Dword(std::uint32_t number) {
    RegistryValue v;
    v.type = Type::Dword;
    v.number = number;
    return v;
  }
  static RegistryValue Binary(std::vector<std::uint8_t> bytes) {
    RegistryValue v;
    v.type = Type::Binary;
    v.bytes = std::move(bytes);
    return v;
  }

  bool operator==(const RegistryValue&) const = default;
};

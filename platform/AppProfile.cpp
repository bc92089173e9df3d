#include "platform/AppProfile.h"

void AppProfile::SetRegistryKey(std::string companyKey, std::string profileName) {
  m_appKey = RegistryTree::NormalizeKey("Software\\" + companyKey + "\\" + profileName);
}

std::string AppProfile::SectionKey(std::string_view section) const {
  if (section.empty()) return m_appKey;
  return m_appKey + "\\" + std::string(section);
}

std::int32_t AppProfile::GetProfileInt(std::string_view section, std::string_view entry,
                                       std::int32_t defaultValue) const {
  const auto v = Store().GetValue(SectionKey(section), entry);
  if (!v || v->type != RegistryValue::Type::Dword) return defaultValue;
  return static_cast<std::int32_t>(v->number);
}

bool AppProfile::WriteProfileInt(std::string_view section, std::string_view entry, std::int32_t value) const {
  return Store().SetValue(SectionKey(section), entry, RegistryValue::Dword(static_cast<std::uint32_t>(value)));
}

std::string AppProfile::GetProfileString(std::string_view section, std::string_view entry,
                                         std::string_view defaultValue) const {
  const auto v = Store().GetValue(SectionKey(section), entry);
  if (!v || v->type != RegistryValue::Type::String) return std::string(defaultValue);
  return v->text;
}

bool AppProfile::WriteProfileString(std::string_view section, std::string_view entry,
                                    std::string_view value) const {
  return Store().SetValue(SectionKey(section), entry, RegistryValue::String(std::string(value)));
}

std::optional<std::vector<std::uint8_t>> AppProfile::GetProfileBinary(std::string_view section,
                                                                      std::string_view entry) const {
  const auto v = Store().GetValue(SectionKey(section), entry);
  if (!v || v->type != RegistryValue::Type::Binary) return std::nullopt;
  return v->bytes;
}

bool AppProfile::WriteProfileBinary(std::string_view section, std::string_view entry,
                                    std::vector<std::uint8_t> bytes) const {
  return Store().SetValue(SectionKey(section), entry, RegistryValue::Binary(std::move(bytes)));
}

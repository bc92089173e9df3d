#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

// The application's profile: values under "Software\<company key>\<profile name>", addressed by
// section and value name; an empty section names the application key itself. Every read gives
// its own default, used when the value is missing or has another type.
class AppProfile {
 public:
  AppProfile() = default;
  AppProfile(std::string companyKey, std::string profileName) {
    SetRegistryKey(std::move(companyKey), std::move(profileName));
  }

  void SetRegistryKey(std::string companyKey, std::string profileName);
  const std::string& AppKey() const { return m_appKey; }
  std::string SectionKey(std::string_view section) const;

  std::int32_t GetProfileInt(std::string_view section, std::string_view entry, std::int32_t defaultValue) const;
  bool WriteProfileInt(std::string_view section, std::string_view entry, std::int32_t value) const;
  std::string GetProfileString(std::string_view section, std::string_view entry,
                               std::string_view defaultValue = {}) const;
  bool WriteProfileString(std::string_view section, std::string_view entry, std::string_view value) const;
  std::optional<std::vector<std::uint8_t>> GetProfileBinary(std::string_view section, std::string_view entry) const;
  bool WriteProfileBinary(std::string_view section, std::string_view entry, std::vector<std::uint8_t> bytes) const;

  Registry& Store() const { return Registry::Current(); }

 private:
  std::string m_appKey = "Software\\DunmereIncProducts\\Setup\\PelorinPro";
};

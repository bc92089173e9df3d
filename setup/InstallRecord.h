#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What an installation put on the machine, kept in the prefix so that uninstall removes exactly
// that. One entry a line, fields separated by tabs:
//   file   PATH                          a file install placed
//   folder PATH                          a folder install created (removed when empty)
//   user   UID GID REGISTRY WORKFOLDER   the user whose registry and folders follow
//   store  CREATED                       1 when install created the user's registry file
//   key    KEY                           a registry key install created
//   value  KEY NAME TEXT                 a registry text value install wrote
struct InstallRecord {
  struct RegistryValueEntry {
    std::string key;
    std::string name;
    std::string text;
    bool operator==(const RegistryValueEntry&) const = default;
  };
  struct UserPart {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string registry;
    std::string workFolder;
    bool storeCreated = false;
    std::vector<std::string> keys;
    std::vector<RegistryValueEntry> values;
  };

  std::vector<std::string> files;
  std::vector<std::string> folders;
  std::vector<UserPart> users;

  static constexpr char kFileName[] = "setup-record.txt";
  // PREFIX/share/PelorinPro/setup-record.txt
  static std::string PathIn(const std::string& prefix);

  // Nothing when there is no record; lines that cannot be read are skipped, and so is a last
  // line without its line end.
  static std::optional<InstallRecord> Load(const std::string& path);
  static InstallRecord Parse(std::string_view text);
  std::string Serialize() const;

  // Takes in what an earlier installation recorded that this one does not, so that a
  // re-install still removes everything on uninstall. This record's values win.
  void Merge(const InstallRecord& earlier);
  UserPart& User(const UserPart& like);  // the part of the same user and registry, added when missing
};

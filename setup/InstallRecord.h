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

    // The folder the working folder lies in: the menu entry and the icons are below it.
    std::string DataFolder() const;
    // Whether the path is one of the files or folders install writes for this user.
    bool HoldsFile(const std::string& path) const;
    bool HoldsFolder(const std::string& path) const;
  };

  std::vector<std::string> files;
  std::vector<std::string> folders;
  std::vector<UserPart> users;

  static constexpr char kFileName[] = "setup-record.txt";
  // PREFIX/share/PelorinPro/setup-record.txt
  static std::string PathIn(const std::string& prefix);

  // Nothing when there is no record (error left empty) or when it cannot be read whole (error
  // says why). A line that cannot be read, a last line without its line end included, refuses
  // the whole record: uninstall removes what was recorded, and part of a record is not that.
  static std::optional<InstallRecord> Load(const std::string& path, std::string& error);
  static std::optional<InstallRecord> Parse(std::string_view text, std::string& error);
  std::string Serialize() const;

  // Whether uninstall may act on it, for an installation in prefix: no part of root, every path
  // absolute and plain, each file and folder within the prefix (or a folder above it) or one of
  // a recorded user's, and every working folder, where it still exists, its user's own folder.
  bool Check(const std::string& prefix, std::string& error) const;
  // The recorded user whose file or folder the path is; nothing for the prefix's own.
  const UserPart* UserOf(const std::string& path, bool folder, const std::string& prefix) const;

  // Takes in what an earlier installation recorded that this one does not, so that a
  // re-install still removes everything on uninstall. This record's values win.
  void Merge(const InstallRecord& earlier);
  UserPart& User(const UserPart& like);  // the part of the same user and registry, added when missing
};

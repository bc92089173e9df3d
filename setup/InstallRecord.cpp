#include "setup/InstallRecord.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/FileContents.h"

namespace {

constexpr char kHeader[] = "PelorinPro installation record 1";

std::vector<std::string> SplitTabs(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.emplace_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

void AddOnce(std::vector<std::string>& list, const std::string& item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// A user or group number as Serialize writes it: decimal digits only, within range.
template <typename Id>
bool ReadId(const std::string& text, Id& id) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value >= static_cast<Id>(-1)) return false;  // -1 stands for "no change" to the kernel
  id = static_cast<Id>(value);
  return true;
}

// Absolute, not "/" itself, and without empty, "." or ".." parts or control characters, so that
// the text alone tells where the path lies.
bool IsPlainPath(const std::string& path) {
  if (path.size() < 2 || path.front() != '/' || path.back() == '/') return false;
  for (const char c : path)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return path.find("//") == std::string::npos && path.find("/./") == std::string::npos &&
         path.find("/../") == std::string::npos && !path.ends_with("/.") && !path.ends_with("/..");
}

bool IsBelow(const std::string& path, const std::string& folder) { return path.starts_with(folder + "/"); }

// What root removes itself: the prefix's files, and folders made for it in or above it.
bool IsPrefixOwn(const std::string& path, bool folder, const std::string& prefix) {
  return IsBelow(path, prefix) || (folder && (path == prefix || IsBelow(prefix, path)));
}

}  // namespace

std::string InstallRecord::PathIn(const std::string& prefix) { return prefix + "/share/PelorinPro/" + kFileName; }

std::optional<InstallRecord> InstallRecord::Load(const std::string& path, std::string& error) {
  error.clear();
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return std::nullopt;
  const auto text = ReadFileContents(path);
  if (!text) {
    error = path + " cannot be read: " + std::strerror(errno);
    return std::nullopt;
  }
  auto record = Parse(*text, error);
  if (!record) error = path + " " + error;
  return record;
}

std::optional<InstallRecord> InstallRecord::Parse(std::string_view text, std::string& error) {
  error.clear();
  InstallRecord record;
  UserPart* user = nullptr;
  std::size_t start = 0;
  for (std::size_t number = 1; start < text.size(); ++number) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    const auto damaged = [&] {
      error = "is damaged at line " + std::to_string(number) + " (\"" + std::string(line.substr(0, 80)) + "\")";
      return std::nullopt;
    };
    // Every line is written with its end: one without is a record cut short, whose last path may
    // be cut short too (a cut working folder could name a user's home).
    if (end == std::string_view::npos) return damaged();
    start = end + 1;
    const std::vector<std::string> f = SplitTabs(line);
    const std::string& kind = f[0];
    if (number == 1) {
      if (line != kHeader) return damaged();
    } else if (kind == "file" && f.size() == 2) {
      AddOnce(record.files, f[1]);
    } else if (kind == "folder" && f.size() == 2) {
      AddOnce(record.folders, f[1]);
    } else if (kind == "user" && f.size() == 5) {
      UserPart part;
      if (!ReadId(f[1], part.uid) || !ReadId(f[2], part.gid)) return damaged();
      part.registry = f[3];
      part.workFolder = f[4];
      user = &record.User(part);
    } else if (user && kind == "store" && f.size() == 2 && (f[1] == "0" || f[1] == "1")) {
      user->storeCreated = f[1] == "1";
    } else if (user && kind == "key" && f.size() == 2) {
      AddOnce(user->keys, f[1]);
    } else if (user && kind == "value" && f.size() == 4) {
      user->values.push_back({f[1], f[2], f[3]});
    } else {
      return damaged();
    }
  }
  if (start == 0) {
    error = "is empty";
    return std::nullopt;
  }
  return record;
}

std::string InstallRecord::Serialize() const {
  std::string out = std::string(kHeader) + "\n";
  for (const std::string& file : files) out += "file\t" + file + "\n";
  for (const std::string& folder : folders) out += "folder\t" + folder + "\n";
  for (const UserPart& user : users) {
    out += "user\t" + std::to_string(user.uid) + "\t" + std::to_string(user.gid) + "\t" + user.registry + "\t" +
           user.workFolder + "\n";
    out += std::string("store\t") + (user.storeCreated ? "1" : "0") + "\n";
    for (const std::string& key : user.keys) out += "key\t" + key + "\n";
    for (const RegistryValueEntry& v : user.values) out += "value\t" + v.key + "\t" + v.name + "\t" + v.text + "\n";
  }
  return out;
}

InstallRecord::UserPart& InstallRecord::User(const UserPart& like) {
  for (UserPart& user : users)
    if (user.uid == like.uid && user.registry == like.registry) return user;
  users.push_back(like);
  return users.back();
}

void InstallRecord::Merge(const InstallRecord& earlier) {
  for (const std::string& file : earlier.files) AddOnce(files, file);
  for (const std::string& folder : earlier.folders) AddOnce(folders, folder);
  for (const UserPart& old : earlier.users) {
    const bool known = std::any_of(users.begin(), users.end(),
                                   [&](const UserPart& u) { return u.uid == old.uid && u.registry == old.registry; });
    UserPart& user = User(old);
    if (!known) continue;  // added whole
    user.storeCreated = user.storeCreated || old.storeCreated;
    for (const std::string& key : old.keys) AddOnce(user.keys, key);
    for (const RegistryValueEntry& v : old.values) {
      const bool written = std::any_of(user.values.begin(), user.values.end(), [&](const RegistryValueEntry& mine) {
        return mine.key == v.key && mine.name == v.name;
      });
      if (!written) user.values.push_back(v);
    }
  }
}

std::string InstallRecord::UserPart::DataFolder() const { return workFolder.substr(0, workFolder.rfind('/')); }

bool InstallRecord::UserPart::HoldsFile(const std::string& path) const {
  const std::string data = DataFolder();
  return path == data + "/applications/pelorinpro.desktop" || IsBelow(path, data + "/icons");
}

bool InstallRecord::UserPart::HoldsFolder(const std::string& path) const {
  // The data folder with what is below it, and the folders made to hold it or the registry.
  const std::string data = DataFolder();
  return path == data || IsBelow(path, data) || IsBelow(data, path) || IsBelow(registry, path);
}

const InstallRecord::UserPart* InstallRecord::UserOf(const std::string& path, bool folder,
                                                     const std::string& prefix) const {
  if (IsPrefixOwn(path, folder, prefix)) return nullptr;
  for (const UserPart& user : users)
    if (folder ? user.HoldsFolder(path) : user.HoldsFile(path)) return &user;
  return nullptr;
}

bool InstallRecord::Check(const std::string& prefix, std::string& error) const {
  for (const UserPart& user : users) {
    const std::string who = "the user part of uid " + std::to_string(user.uid);
    if (user.uid == 0) {
      error = who + " is root's: uninstall acts as the recorded user, and root may reach anything";
      return false;
    }
    for (const std::string* path : {&user.registry, &user.workFolder}) {
      if (!IsPlainPath(*path)) {
        error = who + " names \"" + *path + "\", which is not an absolute plain path";
        return false;
      }
    }
    if (!user.workFolder.ends_with("/PelorinPro") || user.DataFolder().empty()) {
      error = who + " names the working folder " + user.workFolder + ", which install never makes";
      return false;
    }
    // Gone is fine (nothing of it is left to remove); there, it must be the user's own folder.
    struct stat info {};
    if (::lstat(user.workFolder.c_str(), &info) == 0 && (!S_ISDIR(info.st_mode) || info.st_uid != user.uid)) {
      error = who + " names the working folder " + user.workFolder + ", which is " +
              (S_ISLNK(info.st_mode)    ? std::string("a symbolic link")
               : !S_ISDIR(info.st_mode) ? std::string("not a folder")
                                        : "owned by uid " + std::to_string(info.st_uid));
      return false;
    }
  }
  for (const bool folder : {false, true}) {
    for (const std::string& path : folder ? folders : files) {
      const char* what = folder ? "the folder " : "the file ";
      if (!IsPlainPath(path)) {
        error = std::string(what) + "\"" + path + "\" is not an absolute plain path";
        return false;
      }
      if (!IsPrefixOwn(path, folder, prefix) && UserOf(path, folder, prefix) == nullptr) {
        error = std::string(what) + path + " lies outside " + prefix + " and is none of a recorded user's";
        return false;
      }
    }
  }
  return true;
}

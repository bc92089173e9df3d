#include "setup/InstallRecord.h"

#include <algorithm>
#include <cstdlib>

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

}  // namespace

std::string InstallRecord::PathIn(const std::string& prefix) { return prefix + "/share/PelorinPro/" + kFileName; }

std::optional<InstallRecord> InstallRecord::Load(const std::string& path) {
  const auto text = ReadFileContents(path);
  if (!text) return std::nullopt;
  return Parse(*text);
}

InstallRecord InstallRecord::Parse(std::string_view text) {
  InstallRecord record;
  UserPart* user = nullptr;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    // Every line is written with its end: one without is a record cut short, and a path cut
    // short must not reach the uninstall (a cut working folder could name a user's home).
    if (end == std::string_view::npos) break;
    const std::vector<std::string> f = SplitTabs(text.substr(start, end - start));
    start = end + 1;
    const std::string& kind = f[0];
    if (kind == "file" && f.size() == 2) {
      AddOnce(record.files, f[1]);
    } else if (kind == "folder" && f.size() == 2) {
      AddOnce(record.folders, f[1]);
    } else if (kind == "user" && f.size() == 5) {
      UserPart part;
      part.uid = static_cast<uid_t>(std::strtoul(f[1].c_str(), nullptr, 10));
      part.gid = static_cast<gid_t>(std::strtoul(f[2].c_str(), nullptr, 10));
      part.registry = f[3];
      part.workFolder = f[4];
      user = &record.User(part);
    } else if (user && kind == "store" && f.size() == 2) {
      user->storeCreated = f[1] == "1";
    } else if (user && kind == "key" && f.size() == 2) {
      AddOnce(user->keys, f[1]);
    } else if (user && kind == "value" && f.size() == 4) {
      user->values.push_back({f[1], f[2], f[3]});
    }
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

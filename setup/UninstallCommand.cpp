#include "setup/UninstallCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/FileContents.h"
#include "setup/FileTransaction.h"
#include "setup/RegistryEntries.h"
#include "setup/SetupLayout.h"
#include "setup/UserProcess.h"

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

// The file, and what a stopped installation left beside it; false, said so, when it stays.
bool RemoveInstalledFile(const std::string& file, std::size_t& removed) {
  RemoveFile(FileTransaction::StagedName(file));
  RemoveFile(FileTransaction::OldName(file));
  if (!Exists(file)) return true;
  if (RemoveFile(file)) {
    ++removed;
    return true;
  }
  std::fprintf(stderr, "Setup: cannot remove %s: %s\n", file.c_str(), std::strerror(errno));
  return false;
}

// The empty ones, deepest first; one that holds files that were not installed stays.
void RemoveFolders(std::vector<std::string> folders) {
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::vector<std::string> kept;
  for (const std::string& folder : folders) {
    if (::rmdir(folder.c_str()) == 0 || errno == ENOENT) continue;
    // Its parents stay too; the innermost is the one to name.
    const bool inner =
        std::none_of(kept.begin(), kept.end(), [&](const std::string& k) { return k.starts_with(folder + "/"); });
    if (inner) std::printf("  kept %s: it holds files that were not installed\n", folder.c_str());
    kept.push_back(folder);
  }
}

// Done as the user: the registry values, with purge the working folder, the files and, when all
// of that went, the folders. What stays comes back as a record of the user for another try.
InstallRecord RemoveUserPart(const InstallRecord::UserPart& user, const std::vector<std::string>& files,
                             const std::vector<std::string>& folders, bool purge) {
  InstallRecord left;
  bool stays = false;
  if (RegistryEntries::Remove(user, purge)) {
    std::printf("  registry values removed from %s\n", user.registry.c_str());
  } else {
    std::fprintf(stderr, "Setup: cannot change the registry file %s\n", user.registry.c_str());
    stays = true;
  }
  if (purge && Exists(user.workFolder)) {
    std::error_code failure;
    std::filesystem::remove_all(user.workFolder, failure);
    if (failure)
      std::fprintf(stderr, "Setup: cannot remove %s: %s\n", user.workFolder.c_str(), failure.message().c_str());
    else
      std::printf("  removed the working folder %s with its logs\n", user.workFolder.c_str());
  }
  std::size_t removed = 0;
  for (const std::string& file : files)
    if (!RemoveInstalledFile(file, removed)) left.files.push_back(file);
  std::printf("  removed %zu files from %s\n", removed, user.DataFolder().c_str());
  if (stays || !left.files.empty()) {
    left.users.push_back(user);
    left.folders = folders;
  } else {
    RemoveFolders(folders);
  }
  return left;
}

}  // namespace

UninstallCommand::UninstallCommand(std::string prefix, bool purge) : m_prefix(std::move(prefix)), m_purge(purge) {}

bool UninstallCommand::Fail(const std::string& message) {
  std::fprintf(stderr, "Setup: %s\n", message.c_str());
  return false;
}

int UninstallCommand::Run() {
  std::string error;
  const std::string prefix = SetupLayout::CheckPrefix(m_prefix, error);
  if (prefix.empty()) return Fail(error + "; nothing was removed"), 2;
  m_prefix = prefix;
  if (::geteuid() != 0) return Fail("uninstalling needs root, to remove what install put under " + m_prefix), 1;
  const std::string recordPath = InstallRecord::PathIn(m_prefix);
  auto record = InstallRecord::Load(recordPath, error);
  if (!record && error.empty()) return Fail("nothing was installed in " + m_prefix + ": there is no " + recordPath), 1;
  if (record && !record->Check(m_prefix, error)) error = recordPath + " cannot be used: " + error;
  if (!error.empty()) return Fail("the installation record " + error + "; nothing was removed"), 1;

  std::printf("Uninstalling PelorinPro from %s:\n", m_prefix.c_str());
  InstallRecord left;
  // Each user's files by a process of that user; root removes only what lies in the prefix.
  for (const InstallRecord::UserPart& user : record->users) {
    InstallRecord part;
    for (const std::string& file : record->files)
      if (record->UserOf(file, false, m_prefix) == &user) part.files.push_back(file);
    for (const std::string& folder : record->folders)
      if (record->UserOf(folder, true, m_prefix) == &user) part.folders.push_back(folder);
    const auto report = UserProcess::Run(
        user.uid, user.gid, [&] { return RemoveUserPart(user, part.files, part.folders, m_purge).Serialize(); });
    std::string damaged;
    auto rest = report ? InstallRecord::Parse(*report, damaged) : std::nullopt;
    if (!rest) {
      Fail("the part of uid " + std::to_string(user.uid) + " could not be removed as that user");
      part.users.push_back(user);
      rest = part;
    }
    left.Merge(*rest);
  }
  std::size_t removed = 0;
  for (const std::string& file : record->files)
    if (record->UserOf(file, false, m_prefix) == nullptr && !RemoveInstalledFile(file, removed))
      left.files.push_back(file);
  std::printf("  removed %zu files from %s\n", removed, m_prefix.c_str());
  std::vector<std::string> folders;
  for (const std::string& folder : record->folders)
    if (record->UserOf(folder, true, m_prefix) == nullptr) folders.push_back(folder);
  if (!left.files.empty() || !left.users.empty()) {
    // Another try removes the rest.
    left.folders.insert(left.folders.end(), folders.begin(), folders.end());
    ReplaceFileContents(recordPath, left.Serialize());
    Fail("some parts of the installation are still there; the record lists them");
    return 1;
  }
  RemoveFile(recordPath);
  RemoveFolders(folders);
  std::printf("Removed.\n");
  return 0;
}

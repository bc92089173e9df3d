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

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

}  // namespace

UninstallCommand::UninstallCommand(std::string prefix, bool purge) : m_prefix(std::move(prefix)), m_purge(purge) {}

bool UninstallCommand::Fail(const std::string& message) {
  std::fprintf(stderr, "Setup: %s\n", message.c_str());
  return false;
}

int UninstallCommand::Run() {
  std::string error;
  const std::string prefix = SetupLayout::CheckPrefix(m_prefix, error);
  if (prefix.empty()) return Fail(error), 2;
  m_prefix = prefix;
  if (::geteuid() != 0) return Fail("uninstalling needs root, to remove what install put under " + m_prefix), 1;
  const std::string recordPath = InstallRecord::PathIn(m_prefix);
  auto record = InstallRecord::Load(recordPath);
  if (!record) return Fail("nothing was installed in " + m_prefix + ": there is no " + recordPath), 1;

  std::printf("Uninstalling PelorinPro from %s:\n", m_prefix.c_str());
  InstallRecord left;
  for (InstallRecord::UserPart& user : record->users) {
    if (RegistryEntries::Remove(user, m_purge)) {
      std::printf("  registry values removed from %s\n", user.registry.c_str());
    } else {
      Fail("cannot change the registry file " + user.registry);
      left.users.push_back(user);
    }
    if (m_purge && Exists(user.workFolder)) {
      std::error_code failure;
      std::filesystem::remove_all(user.workFolder, failure);
      if (failure)
        Fail("cannot remove " + user.workFolder + ": " + failure.message());
      else
        std::printf("  removed the working folder %s with its logs\n", user.workFolder.c_str());
    }
  }
  std::size_t removed = 0;
  for (const std::string& file : record->files) {
    // Also what a stopped installation left beside the file.
    RemoveFile(FileTransaction::StagedName(file));
    RemoveFile(FileTransaction::OldName(file));
    if (!Exists(file)) continue;
    if (RemoveFile(file)) {
      ++removed;
    } else {
      Fail("cannot remove " + file + ": " + std::strerror(errno));
      left.files.push_back(file);
    }
  }
  std::printf("  removed %zu files\n", removed);
  if (!left.files.empty() || !left.users.empty()) {
    // Another try removes the rest.
    left.folders = record->folders;
    ReplaceFileContents(recordPath, left.Serialize());
    Fail("some parts of the installation are still there; the record lists them");
    return 1;
  }
  RemoveFile(recordPath);
  std::vector<std::string> folders = record->folders;
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
  std::printf("Removed.\n");
  return 0;
}

#include "setup/InstallCommand.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/FileContents.h"
#include "setup/ExternalTool.h"
#include "setup/RegistryEntries.h"
#include "setup/SetupLayout.h"
#include "setup/UserProcess.h"

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

mode_t InstalledMode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0111) != 0 ? 0755 : 0644;
}

bool IsSetupLeftover(const std::string& name) {
  return name.ends_with(".setup-new") || name.ends_with(".setup-old") || name == InstallRecord::kFileName;
}

// The files of the tree below root, relative to it, in a stable order.
std::vector<std::string> TreeFiles(const std::string& root) {
  std::vector<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file() || IsSetupLeftover(it->path().filename())) continue;
    files.push_back(it->path().lexically_relative(root));
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Parent(const std::string& path) { return fs::path(path).parent_path(); }

// File capabilities do nothing where the file system is mounted nosuid.
bool OnNosuidMount(std::string path) {
  while (!Exists(path) && path.size() > 1) path = Parent(path);
  struct statvfs info {};
  return ::statvfs(path.c_str(), &info) == 0 && (info.f_flag & ST_NOSUID) != 0;
}

bool SameFolder(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace

InstallCommand::InstallCommand(std::string payloadRoot, std::string prefix)
    : m_root(std::move(payloadRoot)), m_prefix(std::move(prefix)) {}

bool InstallCommand::Fail(const std::string& message) {
  std::fprintf(stderr, "Setup: %s\n", message.c_str());
  return false;
}

bool InstallCommand::Check() {
  if (::geteuid() != 0)
    return Fail("installing needs root, to write under " + m_prefix + " and set file capabilities: run it with sudo");
  const auto desktopTemplate = ReadFileContents(m_root + "/" + SetupLayout::kDesktopTemplate);
  if (!desktopTemplate)
    return Fail("the program's files are not beside this Setup (" + m_root + "/" + SetupLayout::kDesktopTemplate +
                " is missing): run the Setup of an installed tree");
  m_desktopTemplate = *desktopTemplate;
  const auto setcap = ExternalTool::Find("setcap");
  if (!setcap) return Fail("setcap was not found in /usr/sbin or /sbin; it grants the capture rights (Debian package libcap2-bin)");
  m_setcap = *setcap;
  if (m_prefix != PELORIN_DEFAULT_PREFIX) {
    const auto patchelf = ExternalTool::Find("patchelf");
    if (!patchelf)
      return Fail("patchelf was not found in /usr/bin; a prefix other than " PELORIN_DEFAULT_PREFIX
                  " needs it to point the engine at " +
                  m_prefix + "/lib (Debian package patchelf)");
    m_patchelf = *patchelf;
  }
  std::string error;
  const auto user = InstallUser::Resolve(error);
  if (!user) return Fail(error);
  m_user = *user;
  return true;
}

bool InstallCommand::StagePrefixFiles() {
  if (!m_files.MakeFolder(Parent(InstallRecord::PathIn(m_prefix)), 0755)) return Fail(m_files.Error());
  if (SameFolder(m_root, m_prefix)) {
    // Setup of an installed tree: the files are there; only the privileged programs are redone.
    for (const SetupLayout::PrivilegedProgram& privileged : SetupLayout::kPrivilegedPrograms) {
      const std::string program = m_prefix + "/bin/" + privileged.name;
      if (!m_files.StageCopy(program, program, 0700)) return Fail(m_files.Error());
    }
    return true;
  }
  const std::vector<std::string> files = TreeFiles(m_root);
  for (const std::string& file : files) {
    const std::string source = m_root + "/" + file;
    const std::string target = m_prefix + "/" + file;
    if (!m_files.MakeFolder(Parent(target), 0755) || !m_files.StageCopy(source, target, InstalledMode(source)))
      return Fail(m_files.Error());
    m_record.files.push_back(target);
  }
  m_report.push_back("copied " + std::to_string(files.size()) + " files from " + m_root + " to " + m_prefix);
  return true;
}

bool InstallCommand::PrepareGroup() {
  const std::string groupName = SetupLayout::kGroup;
  if (::getgrnam(groupName.c_str()) == nullptr) {
    const auto groupadd = ExternalTool::Find("groupadd");
    const auto result = groupadd ? ExternalTool::Run(*groupadd, {"--system", groupName}) : ExternalTool::Result{};
    if (result.status != 0) return Fail("could not make the system group " + groupName + ": " + result.output);
    m_report.push_back("made the system group " + groupName + ", whose members may capture and run the firewall engine");
  }
  const struct group* entry = ::getgrnam(groupName.c_str());
  if (entry == nullptr) return Fail("the group " + groupName + " cannot be found");
  m_gid = entry->gr_gid;
  bool member = m_user.uid == 0 || m_user.gid == m_gid;  // root runs them anyway
  for (char** name = entry->gr_mem; !member && name && *name; ++name) member = m_user.name == *name;
  if (!member) {
    const auto usermod = ExternalTool::Find("usermod");
    const auto result =
        usermod ? ExternalTool::Run(*usermod, {"--append", "--groups", groupName, m_user.name}) : ExternalTool::Result{};
    if (result.status != 0) return Fail("could not add " + m_user.name + " to the group " + groupName + ": " + result.output);
    m_report.push_back("added " + m_user.name + " to the group " + groupName + " (it takes effect at the next log-in)");
  }
  return true;
}

bool InstallCommand::PreparePrivilegedPrograms() {
  // Owner and mode first: changing the owner takes a file's capabilities away.
  for (const SetupLayout::PrivilegedProgram& privileged : SetupLayout::kPrivilegedPrograms) {
    const std::string program = m_prefix + "/bin/" + privileged.name;
    const std::string staged = FileTransaction::StagedName(program);
    if (privileged.ownLibraries && !m_patchelf.empty()) {
      const auto result = ExternalTool::Run(m_patchelf, {"--set-rpath", m_prefix + "/lib", staged});
      if (result.status != 0)
        return Fail("patchelf could not set the library path of " + program + ": " + result.output);
    }
    if (::chown(staged.c_str(), 0, m_gid) != 0 || ::chmod(staged.c_str(), SetupLayout::kPrivilegedMode) != 0)
      return Fail("cannot give " + program + " to root:" + SetupLayout::kGroup);
    const auto result = ExternalTool::Run(m_setcap, {privileged.capabilities, staged});
    if (result.status != 0) return Fail("setcap could not grant " + program + " its capabilities: " + result.output);
    m_report.push_back("capabilities " + privileged.capabilities + " on " + program + " (root:" + SetupLayout::kGroup +
                       ", mode 0750)");
  }
  m_report.push_back(m_prefix + "/bin/PelorinPro holds no capability");
  if (!m_patchelf.empty()) m_report.push_back("the engine loads its libraries from " + m_prefix + "/lib");
  if (OnNosuidMount(m_prefix))
    m_report.push_back("warning: " + m_prefix +
                       " is on a file system mounted nosuid, where file capabilities "
                       "have no effect: capturing will need root");
  return true;
}

bool InstallCommand::StageUserFiles() {
  // Read as root: the tree Setup comes from need not be readable by the user.
  std::vector<std::pair<std::string, std::string>> icons;
  for (const std::string& file : TreeFiles(m_root + "/" + SetupLayout::kIcons)) {
    const auto bytes = ReadFileContents(m_root + "/" + SetupLayout::kIcons + "/" + file);
    if (!bytes) return Fail("cannot read the icon " + file);
    icons.emplace_back(m_user.dataHome + "/icons/" + file, *bytes);
  }
  const std::string work = m_user.WorkFolder();
  const std::string desktop = m_user.dataHome + "/" + SetupLayout::kDesktopFile;

  UserIdentity identity(m_user.uid, m_user.gid);
  if (!identity.IsTaken()) return Fail("cannot act as user " + m_user.name);
  bool made = m_files.MakeFolder(m_user.dataHome, 0755) && m_files.MakeFolder(work, 0700);
  for (const std::string& sub : SetupLayout::kWorkSubfolders) made = made && m_files.MakeFolder(work + "/" + sub, 0700);
  made = made && m_files.MakeFolder(Parent(desktop), 0755) &&
         m_files.StageBytes(desktop, SetupLayout::DesktopEntry(m_desktopTemplate, m_prefix + "/bin/PelorinPro", work),
                            0644);
  for (const auto& [target, bytes] : icons)
    made = made && m_files.MakeFolder(Parent(target), 0755) && m_files.StageBytes(target, bytes, 0644);
  made = made && m_files.MakeFolder(Parent(m_user.registry), 0700);
  if (!made) return Fail(m_files.Error());
  m_record.files.push_back(desktop);
  for (const auto& icon : icons) m_record.files.push_back(icon.first);
  m_report.push_back("menu entry " + desktop + " (started in " + work + ")");
  m_report.push_back("icons in " + m_user.dataHome + "/icons");
  return true;
}

int InstallCommand::Run() {
  std::string error;
  const std::string prefix = SetupLayout::CheckPrefix(m_prefix, error);
  if (prefix.empty()) return Fail(error), 2;
  m_prefix = prefix;
  if (!Check()) return 1;
  const std::string recordPath = InstallRecord::PathIn(m_prefix);
  // An earlier record that uninstall would refuse is not built on: its parts would be lost.
  std::string refused;
  const InstallRecord earlier = InstallRecord::Load(recordPath, refused).value_or(InstallRecord{});
  if (refused.empty() && !earlier.Check(m_prefix, refused)) refused = recordPath + " cannot be used: " + refused;
  if (!refused.empty()) return Fail("the installation record " + refused + "; nothing was installed"), 1;
  // Root's own files are not taken on: uninstall removes a user's files as that user.
  const bool forUser = m_user.uid != 0;
  if (!StagePrefixFiles() || !PrepareGroup() || !PreparePrivilegedPrograms() || (forUser && !StageUserFiles())) {
    std::fprintf(stderr, "Setup: nothing was installed\n");
    return 1;
  }

  // The registry goes last but one: a single change of the store, taken back if placing the
  // files fails.
  m_userPart.uid = m_user.uid;
  m_userPart.gid = m_user.gid;
  m_userPart.registry = m_user.registry;
  m_userPart.workFolder = m_user.WorkFolder();
  if (forUser && !RegistryEntries::Write(m_prefix + "/bin", m_userPart)) {
    Fail("cannot write the registry file " + m_user.registry + "; nothing was installed");
    return 1;
  }

  // Files an older installation copied and this one does not are taken away with it; an
  // installed tree set up again keeps what it has.
  std::vector<std::string> stale;
  if (!SameFolder(m_root, m_prefix))
    for (const std::string& file : earlier.files)
      if (std::find(m_record.files.begin(), m_record.files.end(), file) == m_record.files.end()) stale.push_back(file);
  InstallRecord kept = earlier;
  std::erase_if(kept.files,
                [&](const std::string& f) { return std::find(stale.begin(), stale.end(), f) != stale.end(); });
  m_record.folders = m_files.CreatedFolders();
  if (forUser) m_record.users.push_back(m_userPart);
  m_record.Merge(kept);
  if (!m_files.StageBytes(recordPath, m_record.Serialize(), 0644) || !m_files.Commit()) {
    const std::string failure = m_files.Error();
    m_files.Rollback();
    if (forUser)
      UserProcess::Run(m_user.uid, m_user.gid, [&] {
        RegistryEntries::Remove(m_userPart, false);
        return std::string();
      });
    Fail(failure + "; nothing was installed");
    return 1;
  }
  m_files.Finish();
  for (const std::string& file : stale) ::unlink(file.c_str());

  std::printf("Installed PelorinPro in %s for user %s:\n", m_prefix.c_str(), m_user.name.c_str());
  for (const std::string& line : m_report) std::printf("  %s\n", line.c_str());
  if (!forUser)
    std::printf(
        "  no menu entry, working folder or registry values for root: \"sudo %s/bin/Setup install\" from "
        "a user's account adds them for that user\n",
        m_prefix.c_str());
  if (forUser) std::printf("  registry %s:\n", m_user.registry.c_str());
  for (const auto& value : m_userPart.values)
    std::printf("    %s \"%s\" = \"%s\"\n", value.key.c_str(), value.name.c_str(), value.text.c_str());
  std::printf("  record of the installation %s (\"%s/bin/Setup uninstall\" removes it all)\n", recordPath.c_str(),
              m_prefix.c_str());
  return 0;
}

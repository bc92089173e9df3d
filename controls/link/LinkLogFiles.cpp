#include "controls/link/LinkLogFiles.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "common/LogRecMarker.h"
#include "platform/CreateTempFileBeside.h"
#include "platform/FileLock.h"
#include "wincap/PacketLogFile.h"

namespace fs = std::filesystem;

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

std::string LinkLogFiles::DefaultName(const std::string& title) {
  std::string name;
  // An IPv6 end point's brackets go too ("[fd00::1]:80" gives "fd00pp1p80").
  for (char c : title)
    if (c != ' ' && c != '[' && c != ']') name += c;
  ReplaceAll(name, ".", "-");
  ReplaceAll(name, "ConnectionsLink-", "");
  ReplaceAll(name, ":", "p");
  ReplaceAll(name, "->", "-To-");
  return name + kExtension;
}

std::string LinkLogFiles::UnheldName(const std::string& folder, const std::string& name, const std::string& ownLog) {
  const std::string stem = name.ends_with(kExtension) ? name.substr(0, name.size() - (sizeof kExtension - 1)) : name;
  for (int number = 1; number <= kMaxNameNumber; ++number) {
    const std::string candidate = number == 1 ? name : stem + "-" + std::to_string(number) + kExtension;
    const std::string path = folder.empty() ? candidate : (fs::path(folder) / candidate).string();
    if (IsSameFile(path, ownLog) || !FileLock::IsLockedExclusive(path)) return candidate;
  }
  return name;
}

std::string LinkLogFiles::MakeCnlFileName(const std::string& name) {
  return IsCnlName(name) ? name : name + kExtension;
}

bool LinkLogFiles::IsCnlName(const std::string& name) { return name.find(kExtension) != std::string::npos; }

bool LinkLogFiles::IsPacketLog(const std::string& path) {
  PacketLogFile file;
  if (!file.OpenReadOnly(path)) return false;
  _LogRecMarker header;
  while (file.ReadNextHeader(&header) == 1) {
  }
  return file.Tell() == file.Length();
}

bool LinkLogFiles::IsSameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && fs::equivalent(a, b, error);
}

std::unique_ptr<FileLock> LinkLogFiles::Copy(const std::string& from, const std::string& to) {
  const int source = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return nullptr;
  struct stat info {};
  std::string part;
  const int fd = ::fstat(source, &info) == 0 ? CreateTempFileBeside(to, ".part", 0600, part) : -1;
  bool copied = fd >= 0 && ::fchmod(fd, info.st_mode & 07777) == 0;  // the source's permissions, as a copy has
  for (ssize_t n = 1; copied && n != 0;) {
    n = ::sendfile(fd, source, nullptr, 1 << 30);
    copied = n >= 0 || errno == EINTR;
  }
  copied = copied && ::fsync(fd) == 0;
  if (fd >= 0) copied = ::close(fd) == 0 && copied;
  ::close(source);
  std::unique_ptr<FileLock> lock;
  if (copied) {
    lock = std::make_unique<FileLock>(part, FileLock::Mode::TryExclusive);
    copied = lock->IsHeld() && ::rename(part.c_str(), to.c_str()) == 0;
  }
  if (!copied) {
    if (!part.empty()) ::unlink(part.c_str());
    return nullptr;
  }
  return lock;
}

#include "controls/link/LinkLogFiles.h"

#include <filesystem>
#include <system_error>

#include "common/LogRecMarker.h"
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
  for (char c : title)
    if (c != ' ') name += c;
  ReplaceAll(name, ".", "-");
  ReplaceAll(name, "ConnectionsLink-", "");
  ReplaceAll(name, ":", "p");
  ReplaceAll(name, "->", "-To-");
  return name + kExtension;
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

bool LinkLogFiles::Copy(const std::string& from, const std::string& to) {
  std::error_code error;
  if (fs::equivalent(from, to, error)) return true;  // saving a file onto itself
  const std::string part = to + ".part";
  if (!fs::copy_file(from, part, fs::copy_options::overwrite_existing, error)) {
    fs::remove(part, error);
    return false;
  }
  fs::rename(part, to, error);
  if (error) {
    std::error_code ignored;
    fs::remove(part, ignored);
    return false;
  }
  return true;
}

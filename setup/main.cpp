// Setup: installs PelorinPro from the tree it comes with, and removes it again.
#include <cstdio>
#include <cstring>
#include <string>

#include "setup/InstallCommand.h"
#include "setup/InstallRecord.h"
#include "setup/SetupLayout.h"
#include "setup/UninstallCommand.h"

namespace {

constexpr char kUsage[] =
    "Usage: Setup install [--prefix DIR]\n"
    "       Setup uninstall [--prefix DIR] [--purge]\n"
    "\n"
    "install    copies the program, the capture helper, the engine and their libraries and data\n"
    "           from the tree this Setup belongs to into DIR (default " PELORIN_DEFAULT_PREFIX
    "), grants the\n"
    "           capture helper cap_net_raw and the engine cap_net_admin (both root:pelorinpro,\n"
    "           mode 0750; the program itself holds no capability), makes the system group\n"
    "           pelorinpro and adds for the user who called sudo the membership of that group,\n"
    "           a menu entry, the icon, the working folder ~/.local/share/PelorinPro and the\n"
    "           registry values that locate the engine (run by root itself: none of these).\n"
    "uninstall  removes exactly what install added (default DIR: the installation this Setup\n"
    "           belongs to, else " PELORIN_DEFAULT_PREFIX
    "); the logs and settings stay unless --purge\n"
    "           is given. The user's files are removed by a process of that user.\n"
    "Both need root, and a prefix whose every existing folder is root's alone.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  const std::string root = SetupLayout::PayloadRoot();
  std::string prefix;
  bool purge = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--prefix") == 0 && i + 1 < argc) {
      prefix = argv[++i];
    } else if (std::strcmp(argv[i], "--purge") == 0 && command == "uninstall") {
      purge = true;
    } else {
      std::fprintf(stderr, "Setup: unknown argument \"%s\"\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (command == "install") return InstallCommand(root, prefix.empty() ? PELORIN_DEFAULT_PREFIX : prefix).Run();
  if (command == "uninstall") {
    // The Setup of an installation removes that installation.
    if (prefix.empty()) {
      FILE* own = std::fopen(InstallRecord::PathIn(root).c_str(), "r");
      prefix = own ? root : PELORIN_DEFAULT_PREFIX;
      if (own) std::fclose(own);
    }
    return UninstallCommand(prefix, purge).Run();
  }
  std::fprintf(stderr, "Setup: unknown command \"%s\"\n%s", command.c_str(), kUsage);
  return 2;
}

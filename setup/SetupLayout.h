#pragma once
#include <string>
#include <string_view>
#include <vector>

// Where an installation's parts go: under the prefix the tree that Setup itself comes from
// (bin/, lib/, share/), and in the user's data folder the menu entry, the icons and the
// working folder.
namespace SetupLayout {

// The programs that hold a capability, each only the one it needs; they are installed
// root:kGroup with mode kPrivilegedMode, so only members of the group may run them. The window
// program PelorinPro holds none: the capture helper opens its capture and ICMP sockets.
struct PrivilegedProgram {
  std::string name;
  std::string capabilities;  // as setcap takes them
  bool ownLibraries;         // loads the prefix's libraries: needs their folder named absolutely
};
inline const std::vector<PrivilegedProgram> kPrivilegedPrograms = {
    {"PelorinCaptureHelper", "cap_net_raw+ep", false},
    {"RamparoThreadApp", "cap_net_admin+ep", true},
};
inline constexpr char kGroup[] = "pelorinpro";
inline constexpr unsigned kPrivilegedMode = 0750;
inline constexpr char kDesktopTemplate[] = "share/PelorinPro/pelorinpro.desktop.in";
inline constexpr char kDesktopFile[] = "applications/pelorinpro.desktop";  // under the data folder
inline constexpr char kIcons[] = "share/icons";                            // copied to the data folder's icons/
inline const std::vector<std::string> kWorkSubfolders = {"SessionLogs", "Cfg", "ConnLogs"};

// The tree Setup runs from: the folder above its own.
std::string PayloadRoot();
// The prefix made absolute, without a trailing "/"; empty, with the reason, when it cannot be
// used. Only characters that a menu entry's command line takes unquoted are accepted, and every
// folder of it that exists, from / down, must be root's alone: owned by root, no symbolic link
// and writable by neither group nor others, so no one else can move what Setup acts on.
std::string CheckPrefix(const std::string& prefix, std::string& error);
// The menu entry's text: the template with the program, started in the working folder.
std::string DesktopEntry(std::string_view desktopTemplate, const std::string& program, const std::string& workFolder);

}  // namespace SetupLayout

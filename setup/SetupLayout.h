#pragma once
#include <string>
#include <string_view>
#include <vector>

// Where an installation's parts go: under the prefix the tree that Setup itself comes from
// (bin/, lib/, share/), and in the user's data folder the menu entry, the icons and the
// working folder.
namespace SetupLayout {

// The programs that capture and filter: they get the capabilities and an absolute library path.
inline const std::vector<std::string> kCapturePrograms = {"PelorinPro", "RamparoThreadApp"};
inline constexpr char kCapabilities[] = "cap_net_raw,cap_net_admin+eip";
inline constexpr char kDesktopTemplate[] = "share/PelorinPro/pelorinpro.desktop.in";
inline constexpr char kDesktopFile[] = "applications/pelorinpro.desktop";  // under the data folder
inline constexpr char kIcons[] = "share/icons";                            // copied to the data folder's icons/
inline const std::vector<std::string> kWorkSubfolders = {"SessionLogs", "Cfg", "ConnLogs"};

// The tree Setup runs from: the folder above its own.
std::string PayloadRoot();
// The prefix made absolute, without a trailing "/"; empty, with the reason, when it cannot be
// used. Only characters that a menu entry's command line takes unquoted are accepted.
std::string CheckPrefix(const std::string& prefix, std::string& error);
// The menu entry's text: the template with the program, started in the working folder.
std::string DesktopEntry(std::string_view desktopTemplate, const std::string& program, const std::string& workFolder);

}  // namespace SetupLayout

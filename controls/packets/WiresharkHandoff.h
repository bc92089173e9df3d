#pragma once
#include <functional>
#include <string>
#include <vector>

#include "ui/UiTypes.h"

#include "controls/packets/MonListIpMon.h"

class Menu;
class MonListIpMonCWinThread;
class Window;

// "Open in Wireshark": the chosen packets of a packet log are written as pcapng to a folder that
// only the user can enter, and the dissector is started on that file in a session of its own.
// The folder goes when the dissector ends (it keeps reading the file while it is open), even when
// the monitor has ended before.
class WiresharkHandoff {
 public:
  static constexpr char kProgram[] = "wireshark";
  static constexpr char kMenuText[] = "Open in Wireshark";
  static constexpr char kSelectedText[] = "Selected Packet";
  static constexpr char kPageText[] = "Page";
  static constexpr char kLogText[] = "Whole Log";
  static constexpr char kNotInstalledTip[] =
      "Wireshark is not installed: install the package \"wireshark\" to open packets in it.";
  static constexpr char kCaption[] = "Open in Wireshark";
  // The sub-menu's commands, the same in every window that offers it.
  static constexpr UINT kSelectedId = 32830;
  static constexpr UINT kPageId = 32831;
  static constexpr UINT kLogId = 32832;

  // Appends the "Open in Wireshark" sub-menu to a packet list's context menu: grayed, with a
  // tooltip that says why, when the dissector is not installed.
  static void AppendMenu(Menu& menu);
  // Maps the sub-menu's commands and their enabled states on owner, for the packet list that
  // pane gives at the time (null when there is none).
  static void MapCommands(Window& owner, std::function<MonListIpMon*()> pane);
  // The command on a pane; a failure is told in a message box over parent.
  static void Open(Window* parent, MonListIpMon& pane, UINT command);

  // The dissector's path found on PATH; empty when it is not installed.
  static std::string FindProgram();

  // Writes the records, in that order, of the thread's log set and opens them; name becomes the
  // file's name (and so the dissector's title). Records that are gone (a file the ring removed)
  // are passed over. An empty text on success, else why nothing was opened.
  static std::string OpenRecords(MonListIpMonCWinThread& thread, const std::vector<MonListIpMon::LoggedRecord>& records,
                                 const std::string& name);
  // The whole log, exported with the export dialog's progress.
  static std::string OpenLog(Window* parent, MonListIpMonCWinThread& thread);

 private:
  // A new folder only the user can enter, below the user's runtime folder or the temporary one.
  static std::string MakePrivateFolder(std::string* error);
  // Starts program on file; folder is removed when the program ends.
  static std::string Launch(const std::string& program, const std::string& file, const std::string& folder);
};

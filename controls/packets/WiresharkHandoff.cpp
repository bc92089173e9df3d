#include "controls/packets/WiresharkHandoff.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>
#include <thread>

#include "controls/packets/DlgPacketLogExport.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "wincap/PacketLogExport.h"
#include "wincap/PacketLogFile.h"
#include "wincap/PacketLogSet.h"
#include "ui/Menu.h"
#include "ui/UiServices.h"
#include "wincap/PcapngWriter.h"

extern char** environ;

std::string WiresharkHandoff::FindProgram() {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    if (dir.empty()) continue;  // the working folder is never searched
    const std::string candidate = std::string(dir) + "/" + kProgram;
    struct stat info{};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

std::string WiresharkHandoff::MakePrivateFolder(std::string* error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* temp = std::getenv("TMPDIR");
  std::string base = runtime != nullptr && *runtime == '/' ? runtime : (temp != nullptr && *temp == '/' ? temp : "/tmp");
  std::string pattern = base + "/pelorinpro-wireshark-XXXXXX";
  // mkdtemp makes the folder with mode 0700 whatever the umask.
  if (::mkdtemp(pattern.data()) == nullptr) {
    *error = "No private folder could be made in " + base + ": " + std::strerror(errno) + ".";
    return {};
  }
  return pattern;
}

std::string WiresharkHandoff::OpenRecords(MonListIpMonCWinThread& thread,
                                          const std::vector<MonListIpMon::LoggedRecord>& records,
                                          const std::string& name) {
  const std::string program = FindProgram();
  if (program.empty()) return kNotInstalledTip;
  std::string error;
  const std::string folder = MakePrivateFolder(&error);
  if (folder.empty()) return error;
  const std::string file = folder + "/" + name + ".pcapng";
  PcapngWriter writer;
  if (!writer.Open(file, PcapngWriter::kLinkTypeEthernet, PacketLogFile::kMaxDataLength)) {
    std::filesystem::remove_all(folder);
    return writer.ErrorText();
  }
  std::string first;
  {
    // Taking the log lock writes out the records still gathered, so every row's record is found.
    std::lock_guard<PacketLogLock> lock(thread.GetLogLock());
    first = thread.GetLogFile().FirstOfSet();
  }
  const auto buffer = std::make_unique<std::uint8_t[]>(PacketLogFile::kMaxDataLength);
  PacketLogFile log;
  std::uint32_t openFile = 0;
  std::size_t written = 0;
  for (const MonListIpMon::LoggedRecord& record : records) {
    if (!log.IsOpen() || record.file != openFile) {
      log.Close();
      openFile = record.file;
      if (!log.OpenReadOnly(PacketLogSet::FileName(first, record.file))) continue;
    }
    std::string time;
    const LONG read =
        log.Read(record.position, buffer.get(), PacketLogFile::kMaxDataLength, nullptr, nullptr, &time, nullptr);
    if (read <= 0) continue;
    if (!writer.WritePacket(PacketLogExport::TimeTextMicros(time), buffer.get(), static_cast<std::uint32_t>(read))) break;
    ++written;
  }
  if (written == 0 || !writer.Commit()) {
    const std::string why = written == 0 ? "None of the chosen packets is in the packet log." : writer.ErrorText();
    writer.Abandon();
    std::filesystem::remove_all(folder);
    return why;
  }
  return Launch(program, file, folder);
}

std::string WiresharkHandoff::OpenLog(Window* parent, MonListIpMonCWinThread& thread) {
  const std::string program = FindProgram();
  if (program.empty()) return kNotInstalledTip;
  std::string error;
  const std::string folder = MakePrivateFolder(&error);
  if (folder.empty()) return error;
  const std::string logPath = thread.LogGet();
  const std::string file = folder + "/" + std::filesystem::path(logPath).stem().string() + ".pcapng";
  const PacketLogExport::Result result = DlgPacketLogExport::Export(parent, thread, file);
  if (!result.written || result.records == 0) {
    std::filesystem::remove_all(folder);
    return !result.written ? DlgPacketLogExport::Describe(result, file) : "The packet log holds no packets.";
  }
  return Launch(program, file, folder);
}

std::string WiresharkHandoff::Launch(const std::string& program, const std::string& file, const std::string& folder) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Its chatter goes nowhere rather than into the terminal the monitor was started from.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A session of its own: a Ctrl+C meant for the monitor does not close the dissector.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  // A shell waits for the dissector and removes the folder after it, so the file is cleaned up
  // even when the monitor has ended first.
  const std::string script = "\"$0\" -r \"$1\"; /bin/rm -rf -- \"$2\"";
  const char* shell = "/bin/sh";
  char* argv[] = {const_cast<char*>(shell), const_cast<char*>("-c"), const_cast<char*>(script.c_str()),
                  const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()),
                  const_cast<char*>(folder.c_str()), nullptr};
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, shell, &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::filesystem::remove_all(folder);
    return program + " could not be started: " + std::strerror(spawned) + ".";
  }
  // Only reaped here: the shell does the clean-up.
  std::thread([child] {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return {};
}

void WiresharkHandoff::AppendMenu(Menu& menu) {
  const bool installed = !FindProgram().empty();
  Menu* sub = menu.AppendPopup(kMenuText, installed ? 0 : MF_GRAYED);
  sub->AppendMenu(MF_STRING, kSelectedId, kSelectedText);
  sub->AppendMenu(MF_STRING, kPageId, kPageText);
  sub->AppendMenu(MF_STRING, kLogId, kLogText);
  if (!installed) menu.SetToolTip(static_cast<UINT>(menu.GetMenuItemCount() - 1), MF_BYPOSITION, kNotInstalledTip);
}

void WiresharkHandoff::MapCommands(Window& owner, std::function<MonListIpMon*()> pane) {
  for (const UINT id : {kSelectedId, kPageId, kLogId}) {
    owner.MapCommand(id, [&owner, pane, id] {
      if (MonListIpMon* list = pane()) Open(&owner, *list, id);
    });
  }
  owner.MapUpdate(kSelectedId, [pane](CmdUI& cmd) {
    const MonListIpMon* list = pane();
    cmd.Enable(list != nullptr && list->GetNextItem(-1, LVNI_SELECTED) >= 0);
  });
  owner.MapUpdate(kPageId, [pane](CmdUI& cmd) {
    const MonListIpMon* list = pane();
    cmd.Enable(list != nullptr && list->GetItemCount() > 0);
  });
  owner.MapUpdate(kLogId, [pane](CmdUI& cmd) {
    const MonListIpMon* list = pane();
    cmd.Enable(list != nullptr && list->GetCaptureThread() != nullptr);
  });
}

void WiresharkHandoff::Open(Window* parent, MonListIpMon& pane, UINT command) {
  MonListIpMonCWinThread* thread = pane.GetCaptureThread();
  if (thread == nullptr) return;
  const std::string stem = std::filesystem::path(thread->LogGet()).stem().string();
  std::string error;
  if (command == kLogId) {
    error = OpenLog(parent, *thread);
  } else {
    WaitCursor wait;
    const bool selected = command == kSelectedId;
    error = OpenRecords(*thread, pane.LoggedRecords(selected), stem + (selected ? "-selected" : "-page"));
  }
  if (!error.empty()) MessageBox(parent, error, kCaption, MB_OK | MB_ICONEXCLAMATION);
}

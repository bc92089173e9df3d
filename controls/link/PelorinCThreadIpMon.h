#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/MonListMonItemDataIp.h"
#include "common/WinTypes.h"
#include "controls/link/LinkFilter.h"
#include "controls/link/LinkTempLog.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "platform/CriticalSection.h"

class AppProfile;
class FileLock;
class IpMon;

// The capture thread of a link monitor: the packet pane's capture thread with the link filter in
// its filter stage, the size rule ahead of it, logging always on and a log of its own. Several
// run at once beside the packet pane's, each with its own handle on the interface.
//
// Its log starts as a temporary file in the connection-logs folder ("ConnectionsLinkLogs"). Once
// the user saves or loads a ".cnl" file, that file is the log (the thread uses a loaded file) and
// later captures append to it. The temporary log is deleted as soon as another file becomes the
// log, and when the thread goes while still on it. While a ".cnl" file is the log the thread
// holds an exclusive lock on it, so that no other monitor takes it as its log.
//
// A folder that is named but cannot be made or written gives no log: the thread is then not
// started (IsCreated is false) and IsFolderUnusable says why.
class PelorinCThreadIpMon : public MonListIpMonCWinThread {
 public:
  static constexpr char kFolderKey[] = "ConnectionsLinkLogs";
  static constexpr char kFolderDefault[] = "./ConnLogs";
  // wParam of message 1384 with capture stopped: clear the rows only, keep the log.
  static constexpr std::uintptr_t kDeleteRowsOnly = 1;

  // link6: the addresses of an IPv6 link (see LinkFilter).
  PelorinCThreadIpMon(IpMon* owner, AppProfile* app, const _MonListMonItemDataIp& link, const std::string& protocol,
                      const std::optional<LinkAddresses6>& link6 = std::nullopt);
  ~PelorinCThreadIpMon() override;

  // The flags from the link's defined parts and the protocol text, as the filter computes them.
  DWORD InitMonFlags(const std::string& protocol);
  void SetMonFlags(DWORD flag, int on);
  DWORD GetMonFlags();
  void SetPacketSize(LONG minimum, LONG maximum);
  void GetPacketSize(LONG* minimum, LONG* maximum);
  void SetLink(const _MonListMonItemDataIp& link, const std::optional<LinkAddresses6>& link6 = std::nullopt);
  _MonListMonItemDataIp GetLink();
  std::optional<LinkAddresses6> GetLink6();

  void SetUsingLoad(int on) { m_usingLoad.store(on); }
  int IsUsingLoad() const { return m_usingLoad.load(); }

  // The link log's path (empty when the folder gave none).
  std::string LogGet() override;
  // Makes path the link log and opens it for reading and writing; the temporary log, when that
  // was the log, is deleted. lock is the exclusive lock taken on path, which the thread holds from
  // now on in place of the one on the file it leaves; null when path is the file already held.
  // Capture must be stopped.
  void LogSetFile(const std::string& path, std::unique_ptr<FileLock> lock);
  // The temporary log made at construction; empty once it is gone.
  const std::string& GetTempLog() const { return m_tempLog.Path(); }
  const std::string& GetFolder() const { return m_folder; }
  bool IsFolderUnusable() const { return m_folderUnusable; }

  using MonListIpMonCWinThread::ApplyFilters;
  // The link rule on the current packet.
  int ApplyFilters() override;
  // A link monitor has no filter file.
  LONG LoadFiltersCounts() override { return 0; }
  LONG LoadFilters() override { return 0; }

  // Drops a live packet that fails the size rule, then shows it as the packet pane does.
  void ShowPacketReceive(const std::uint8_t* frame, LONG length, const char* time, int fromLog, LONG position,
                         LONG ipOffset) override;

 protected:
  bool InitInstance() override;
  bool PreTranslateMessage(const ThreadMessage& message) override;

 private:
  std::string m_folder;
  bool m_folderUnusable = false;
  LinkTempLog m_tempLog;
  // The lock on the ".cnl" file that is the log; the user-interface thread alone changes it.
  std::unique_ptr<FileLock> m_fileLock;

  CriticalSection m_linkLock;  // the filter and the log path
  LinkFilter m_filter;
  std::string m_logPath;
  std::atomic<bool> m_sizeRule{false};  // a size limit is set: read per packet without the lock

  std::atomic<int> m_usingLoad{0};
};

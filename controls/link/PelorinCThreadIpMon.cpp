#include "controls/link/PelorinCThreadIpMon.h"

#include "common/Messages.h"
#include "controls/link/IpMon.h"
#include "platform/AppProfile.h"
#include "platform/FileLock.h"

PelorinCThreadIpMon::PelorinCThreadIpMon(IpMon* owner, AppProfile* app, const _MonListMonItemDataIp& link,
                                         const std::string& protocol, const std::optional<LinkAddresses6>& link6)
    : MonListIpMonCWinThread(owner, app, Deferred{}) {
  const AppProfile fallback;
  m_folder = (app ? *app : fallback).GetProfileString("", kFolderKey, kFolderDefault);
  // No folder, no log: the monitor then captures without writing anything. A folder named but
  // unusable would leave it logging nothing unnoticed: the thread does not start at all.
  m_logPath = m_tempLog.Create(m_folder);
  m_folderUnusable = !m_folder.empty() && m_logPath.empty();
  m_filter.SetLink(link, link6);
  m_filter.InitMonFlags(protocol);
  if (!m_folderUnusable) Launch();
}

PelorinCThreadIpMon::~PelorinCThreadIpMon() {
  EndThread();  // the thread closes the log as it ends; the lock on it goes after
  if (!IsUsingLoad()) m_tempLog.Remove();
}

bool PelorinCThreadIpMon::InitInstance() {
  const bool ok = MonListIpMonCWinThread::InitInstance();  // opens the link log (LogGet)
  // Every packet goes through the link filter, and every packet kept is logged.
  SetLog(1);
  ApplyFilters(1);
  return ok;
}

bool PelorinCThreadIpMon::PreTranslateMessage(const ThreadMessage& message) {
  // A clear while capturing empties the temporary log as the packet pane empties its own, but
  // never a saved file the user loaded; a clear while stopped takes the rows only.
  if (message.message == WM_PELORIN_DELETE_ALL) {
    ListDeleteAll(message.wParam == kDeleteRowsOnly || IsUsingLoad() ? 0 : 1);
    return true;
  }
  return MonListIpMonCWinThread::PreTranslateMessage(message);
}

DWORD PelorinCThreadIpMon::InitMonFlags(const std::string& protocol) {
  CriticalSectionLock lock(m_linkLock);
  return m_filter.InitMonFlags(protocol);
}

void PelorinCThreadIpMon::SetMonFlags(DWORD flag, int on) {
  CriticalSectionLock lock(m_linkLock);
  m_filter.SetMonFlags(flag, on);
}

DWORD PelorinCThreadIpMon::GetMonFlags() {
  CriticalSectionLock lock(m_linkLock);
  return m_filter.GetMonFlags();
}

void PelorinCThreadIpMon::SetPacketSize(LONG minimum, LONG maximum) {
  CriticalSectionLock lock(m_linkLock);
  m_filter.SetPacketSize(minimum, maximum);
  m_sizeRule.store(m_filter.HasSizeRule());
}

void PelorinCThreadIpMon::GetPacketSize(LONG* minimum, LONG* maximum) {
  CriticalSectionLock lock(m_linkLock);
  if (minimum) *minimum = m_filter.GetMinimum();
  if (maximum) *maximum = m_filter.GetMaximum();
}

void PelorinCThreadIpMon::SetLink(const _MonListMonItemDataIp& link, const std::optional<LinkAddresses6>& link6) {
  CriticalSectionLock lock(m_linkLock);
  m_filter.SetLink(link, link6);
}

_MonListMonItemDataIp PelorinCThreadIpMon::GetLink() {
  CriticalSectionLock lock(m_linkLock);
  return m_filter.GetLink();
}

std::optional<LinkAddresses6> PelorinCThreadIpMon::GetLink6() {
  CriticalSectionLock lock(m_linkLock);
  return m_filter.GetLink6();
}

std::string PelorinCThreadIpMon::LogGet() {
  CriticalSectionLock lock(m_linkLock);
  return m_logPath;
}

void PelorinCThreadIpMon::LogSetFile(const std::string& path, std::unique_ptr<FileLock> lock) {
  std::string previous;
  {
    CriticalSectionLock pathLock(m_linkLock);
    previous = m_logPath;
    m_logPath = path;
  }
  LogUseCurrent(1);
  // The file left is given up only once the thread writes to the new one.
  if (lock) m_fileLock = std::move(lock);
  if (!previous.empty() && previous == m_tempLog.Path() && previous != path) m_tempLog.Remove();
}

int PelorinCThreadIpMon::ApplyFilters() {
  CriticalSectionLock lock(m_linkLock);
  return m_filter.Passes(Packet()) ? 1 : 0;
}

void PelorinCThreadIpMon::ShowPacketReceive(const std::uint8_t* frame, LONG length, const char* time, int fromLog,
                                            LONG position, LONG ipOffset) {
  // The size is the IP total length as captured, before the log range trims the packet.
  if (!fromLog && m_sizeRule.load(std::memory_order_relaxed)) {
    const LONG size = LinkFilter::FrameSize(frame, length, ipOffset);
    CriticalSectionLock lock(m_linkLock);
    if (!m_filter.SizePasses(size)) return;
  }
  MonListIpMonCWinThread::ShowPacketReceive(frame, length, time, fromLog, position, ipOffset);
}

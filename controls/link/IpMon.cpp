#include "controls/link/IpMon.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

#include "common/Messages.h"
#include "common/ResultCodes.h"
#include "controls/link/LinkLogFiles.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "controls/packets/PacketLogLock.h"
#include "platform/FileLock.h"

namespace {

// Waits up to timeoutMs until condition holds, looking every millisecond.
template <typename Condition>
void WaitUntil(Condition condition, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The lock refused, as a result.
IpMon::LogResult Refusal(const FileLock& lock, IpMon::LogResult otherwise) {
  if (lock.IsBusy()) return IpMon::LogResult::OtherMonitor;
  return lock.IsReadOnly() ? IpMon::LogResult::ReadOnly : otherwise;
}

}  // namespace

IpMon::IpMon(AppProfile* app, const _MonListMonItemDataIp& link, std::string protocol, std::string registryPath,
             std::optional<LinkAddresses6> link6)
    : MonListIpMon(app, std::move(registryPath), std::string()),
      m_link(link),
      m_link6(link6),
      m_protocol(std::move(protocol)) {}

IpMon::~IpMon() { ProcessClose(); }

PelorinCThreadIpMon* IpMon::GetLinkThread() const { return static_cast<PelorinCThreadIpMon*>(GetThread()); }

LONG IpMon::MonListCreate(Window* parent, UINT id, const Rect& rect) {
  m_createFailure.clear();
  if (!GetThread()) {
    auto thread = std::make_unique<PelorinCThreadIpMon>(this, GetApp(), m_link, m_protocol, m_link6);
    if (!thread->IsCreated()) {
      m_createFailure = thread->IsFolderUnusable()
                            ? "the connection logs folder " + thread->GetFolder() + " cannot be made or written"
                            : "its capture thread could not be started";
      return E_FAIL;
    }
    SetThread(std::move(thread));
  }
  const LONG created = MonListIpMon::MonListCreate(parent, id, rect);
  if (created != 0) m_createFailure = "its packet list could not be created";
  return created;
}

void IpMon::ProcessClose() {
  ListDlgCloseAll();
  MonListIpMon::ProcessClose();
}

void IpMon::Reload(LONG position) {
  PelorinCThreadIpMon* thread = GetLinkThread();
  if (thread == nullptr) return;
  LoadLastLog(position);
  // The thread clears the flag once the page is in the rows.
  WaitUntil([thread] { return !thread->IsLogLast(); }, kReloadWaitMs);
}

void IpMon::ClearRows() {
  PelorinCThreadIpMon* thread = GetLinkThread();
  if (thread == nullptr) return;
  // Queued behind a reload the thread may still be running, which would otherwise refill the rows
  // after them; the thread drops the flag once they are gone.
  thread->SetDeleteAll(1, 0);
  thread->PostThreadMessage(WM_PELORIN_DELETE_ALL, PelorinCThreadIpMon::kDeleteRowsOnly);
  WaitUntil([thread] { return !thread->IsDeleteAll(); }, kReloadWaitMs);
}

IpMon::LogResult IpMon::LogSave(const std::string& path) {
  PelorinCThreadIpMon* thread = GetLinkThread();
  if (thread == nullptr || path.empty()) return LogResult::NotWritten;
  const std::string current = thread->LogGet();
  std::unique_ptr<FileLock> lock;
  if (LinkLogFiles::IsSameFile(current, path)) {
    // Saving onto the log itself: taking the log lock writes out what is gathered, and the lock
    // on the file stays.
    std::lock_guard<PacketLogLock> written(thread->GetLogLock());
  } else {
    // The name is held while the copy is made, then the copy itself, which takes the name.
    std::error_code error;
    const bool existed = std::filesystem::exists(path, error);
    FileLock name(path, FileLock::Mode::TryExclusive);
    if (!name.IsHeld()) return Refusal(name, LogResult::NotWritten);
    {
      // Taking the log lock writes out every record gathered so far.
      std::lock_guard<PacketLogLock> written(thread->GetLogLock());
      lock = LinkLogFiles::Copy(current, path);
    }
    if (!lock) {
      if (!existed) std::filesystem::remove(path, error);  // the lock made it
      return LogResult::NotWritten;
    }
  }
  thread->LogSetFile(path, std::move(lock));
  thread->SetUsingLoad(1);
  Reload(-1);
  return LogResult::Ok;
}

IpMon::LogResult IpMon::LogLoad(const std::string& path) {
  PelorinCThreadIpMon* thread = GetLinkThread();
  if (thread == nullptr || !LinkLogFiles::IsPacketLog(path)) return LogResult::NotALog;
  std::unique_ptr<FileLock> lock;
  if (!LinkLogFiles::IsSameFile(thread->LogGet(), path)) {
    // Taking the lock opens the file as the log is opened, for reading and writing.
    lock = std::make_unique<FileLock>(path, FileLock::Mode::TryExclusive);
    if (!lock->IsHeld()) return Refusal(*lock, LogResult::ReadOnly);
  }
  thread->LogSetFile(path, std::move(lock));
  thread->SetUsingLoad(1);
  Reload(-1);
  return LogResult::Ok;
}

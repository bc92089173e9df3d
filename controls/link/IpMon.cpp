#include "controls/link/IpMon.h"

#include <chrono>
#include <memory>
#include <thread>

#include "common/ResultCodes.h"
#include "controls/link/LinkLogFiles.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "controls/packets/PacketLogLock.h"

IpMon::IpMon(AppProfile* app, const _MonListMonItemDataIp& link, std::string protocol, std::string registryPath)
    : MonListIpMon(app, std::move(registryPath), std::string()), m_link(link), m_protocol(std::move(protocol)) {}

IpMon::~IpMon() { ProcessClose(); }

PelorinCThreadIpMon* IpMon::GetLinkThread() const { return static_cast<PelorinCThreadIpMon*>(GetThread()); }

LONG IpMon::MonListCreate(Window* parent, UINT id, const Rect& rect) {
  if (!GetThread()) {
    auto thread = std::make_unique<PelorinCThreadIpMon>(this, GetApp(), m_link, m_protocol);
    if (!thread->IsCreated()) return E_FAIL;
    SetThread(std::move(thread));
  }
  return MonListIpMon::MonListCreate(parent, id, rect);
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
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReloadWaitMs);
  while (thread->IsLogLast() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool IpMon::LogSave(const std::string& path) {
  PelorinCThreadIpMon* thread = GetLinkThread();
  if (thread == nullptr || path.empty()) return false;
  bool copied = false;
  {
    // Taking the log lock writes out every record gathered so far.
    std::lock_guard<PacketLogLock> lock(thread->GetLogLock());
    copied = LinkLogFiles::Copy(thread->LogGet(), path);
  }
  if (!copied) return false;
  thread->LogSetFile(path);
  thread->SetUsingLoad(1);
  Reload(-1);
  return true;
}

bool IpMon::LogLoad(const std::string& path) {
  PelorinCThreadIpMon* thread = GetLinkThread();
  if (thread == nullptr || !LinkLogFiles::IsPacketLog(path)) return false;
  thread->LogSetFile(path);
  thread->SetUsingLoad(1);
  Reload(-1);
  return true;
}

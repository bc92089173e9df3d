#include "controls/firewall/CRampaMem.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "controls/firewall/RampaSharedBlock.h"

namespace {

constexpr const char* kDefaultName = "RamparoInterfaceMem.mem";
constexpr int kPlaceAttempts = 20;
constexpr std::chrono::milliseconds kPlacePause{200};
constexpr int kReplyChecks = 50;
constexpr std::uint32_t kReplyPollMs = 100;  // ms per check of SendEngineMessageWithReturn
// The stated pauses are upper bounds: the slot is looked at this often, so a wait ends as
// soon as its condition holds.
constexpr std::chrono::milliseconds kPollStep{1};

using Clock = std::chrono::steady_clock;

}  // namespace

CRampaMem::CRampaMem() : CRamparointerfaceMem(kDefaultName, kDefaultName) {}

CRampaMem::CRampaMem(std::string name, std::string file) : CRamparointerfaceMem(std::move(name), std::move(file)) {}

CRampaMem::CRampaMem(void* owner, std::string name, std::string file)
    : CRamparointerfaceMem(std::move(name), std::move(file)), m_owner(owner) {}

CRampaMem::~CRampaMem() {
  // Destruction is a detach like any other: a creator still wipes what it set up.
  CRampaMem::MemDetach();
}

void* CRampaMem::MemAttach(CRampaThreadAppFrame* /*frame*/) {
  void* view = CRamparointerfaceMem::MemAttach(static_cast<int*>(nullptr));
  if (view && MemIsCreated()) {
    // The owner is an object of this process and means nothing to the engine or another
    // console, so the block receives 0 rather than its address.
    RampaBlockSet(view, kRampaOffOwner, 0);
    RampaBlockSet(view, kRampaOffSecond, m_second);
    RampaBlockSetText(view, kRampaOffIdent, MemGetMemName());
  }
  m_channelView = view;
  return view;
}

int CRampaMem::MemDetach() {
  if (m_channelView && MemIsCreated()) std::memset(m_channelView, 0, kRampaUsedSize);
  m_channelView = nullptr;
  return CRamparointerfaceMem::MemDetach();
}

std::uint32_t CRampaMem::MemField(std::size_t offset) {
  if (!m_channelView || offset + sizeof(std::uint32_t) > kRampaUsedSize || !MemCheckView()) return 0;
  return RampaBlockGet(m_channelView, offset);
}

bool CRampaMem::TryPlace(std::int32_t code, std::uint32_t wparam, std::int32_t lparam) {
  // Claiming the slot with one atomic step keeps two consoles from writing the same slot;
  // the engine takes the request only once it reads 1, after the fields are written.
  if (!RampaBlockClaim(m_channelView, kRampaOffRequestPending, 0, kRampaSlotClaimed)) return false;
  std::memset(static_cast<std::uint8_t*>(m_channelView) + kRampaOffPayload, 0, kRampaPayloadSize);
  RampaBlockSet(m_channelView, kRampaOffCode, static_cast<std::uint32_t>(code));
  RampaBlockSet(m_channelView, kRampaOffWparam, wparam);
  RampaBlockSet(m_channelView, kRampaOffLparam, static_cast<std::uint32_t>(lparam));
  RampaBlockSet(m_channelView, kRampaOffReplyReady, 0);
  RampaBlockSet(m_channelView, kRampaOffRequestPending, 1);
  return true;
}

int CRampaMem::SendEngineMessage(std::int32_t code, std::uint32_t wparam, std::int32_t lparam, int wait) {
  // A view whose file shrank reaches no engine any more.
  if (!m_channelView || !MemCheckView()) return 0;
  const int attempts = wait ? kPlaceAttempts : 1;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (TryPlace(code, wparam, lparam)) return 1;
    // The pause between attempts ends early when the slot frees and another attempt follows.
    const bool another = attempt + 1 < attempts;
    const auto deadline = Clock::now() + kPlacePause;
    while (Clock::now() < deadline) {
      if (Aborted()) return 0;
      if (another && RampaBlockGet(m_channelView, kRampaOffRequestPending) == 0) break;
      std::this_thread::sleep_for(kPollStep);
    }
  }
  return 0;
}

int CRampaMem::MemMsgWaitForReturn(std::uint32_t milliseconds) {
  auto ready = [this] { return !m_channelView || RampaBlockGet(m_channelView, kRampaOffReplyReady) != 0; };
  if (m_channelView && MemIsLost()) return 0;  // no reply can come through zeroed memory
  if (ready()) return 1;
  if (milliseconds == 0) {
    for (int check = 1; check < kReplyChecks; ++check) {
      std::this_thread::yield();
      if (ready()) return 1;
    }
    return 0;
  }
  // 50 waits of the given time at most; a reply that arrives during the last one still counts.
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds) * kReplyChecks;
  const auto step = std::min<std::chrono::milliseconds>(kPollStep, std::chrono::milliseconds(milliseconds));
  while (Clock::now() < deadline && !Aborted()) {
    std::this_thread::sleep_for(step);
    if (ready()) return 1;
  }
  return 0;
}

std::uint8_t* CRampaMem::SendEngineMessageWithReturn(std::int32_t code, std::uint32_t wparam, std::int32_t lparam,
                                                     int wait) {
  if (!SendEngineMessage(code, wparam, lparam, wait)) return nullptr;
  if (!MemMsgWaitForReturn(kReplyPollMs) || !m_channelView) return nullptr;
  return static_cast<std::uint8_t*>(m_channelView) + kRampaOffPayload;
}

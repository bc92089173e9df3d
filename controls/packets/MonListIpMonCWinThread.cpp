#include "controls/packets/MonListIpMonCWinThread.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/FieldText.h"
#include "common/Messages.h"
#include "common/ResultCodes.h"
#include "common/TimeText.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/PacketFilterStore.h"
#include "controls/packets/PacketRowCellText.h"
#include "platform/AppProfile.h"
#include "platform/TaskAllocator.h"
#include "ui/Window.h"
#include "wincap/LogPageSize.h"
#include "wincap/PayloadTrim.h"
#include "wincap/PelorinAdapter.h"

namespace {

constexpr std::int64_t kKernelCountsMs = 200;  // how old the kernel's counts may grow, ms

// A counter one writer at a time changes (others read it): no locked add needed.
void CountUp(std::atomic<std::uint64_t>& counter, std::uint64_t by = 1) {
  counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

// What the status bar shows the set's fullness against: the ring's byte limit, else its files'
// bounds; 0 for no limit.
std::int64_t RingBytes(const PacketLogSet::Limits& limits) {
  return limits.maxBytes > 0 ? limits.maxBytes : std::int64_t{limits.maxFiles} * limits.fileBytes;
}

// The application profile of a thread made without one.
AppProfile& DefaultProfile() {
  static AppProfile profile;
  return profile;
}

}  // namespace

MonListIpMonCWinThread::MonListIpMonCWinThread() = default;

MonListIpMonCWinThread::MonListIpMonCWinThread(MonListIpMon* owner, AppProfile* app)
    : MonListIpMonCWinThread(owner, app, Deferred{}) {
  Launch();
}

MonListIpMonCWinThread::MonListIpMonCWinThread(MonListIpMon* owner, AppProfile* app, Deferred)
    : PelorinCThread(owner, owner), m_owner(owner), m_app(app) {}

void MonListIpMonCWinThread::Launch() {
  if (m_owner == nullptr) return;
  // The thread reports started from here to its end; capture itself waits for message 1382.
  if (CreateThread(true)) PelorinCThread::Start("");
}

MonListIpMonCWinThread::~MonListIpMonCWinThread() {
  EndThread();
  // A thread that never ran (or ran and ended) leaves only its own objects to release.
  AdapterClose();
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  CloseLogLocked();
}

AppProfile& MonListIpMonCWinThread::Profile() const { return m_app ? *m_app : DefaultProfile(); }

// --- thread life ---

bool MonListIpMonCWinThread::InitInstance() {
  if (!m_logInit) LogUseCurrent(1);
  SetLog(Profile().GetProfileInt("", "LogIpMon", 1));
  m_logInit = true;
  return PelorinCThread::InitInstance();
}

int MonListIpMonCWinThread::ExitInstance() {
  if (GetIdleMessage()) Stop();
  {
    std::lock_guard<std::mutex> lock(m_logLock.Bare());
    CloseLogLocked();
  }
  UnLoadFilters();
  m_logInit = false;
  return PelorinCThread::ExitInstance();
}

bool MonListIpMonCWinThread::PreTranslateMessage(const ThreadMessage& message) {
  switch (message.message) {
    case WM_PELORIN_SET_FEED_WINDOW:
      SetFeedActive(static_cast<HWND>(message.lParam));
      return true;
    case WM_PELORIN_SET_COMPARE_WINDOW:
      SetCompareActive(static_cast<HWND>(message.lParam));
      return true;
    case WM_PELORIN_START_SCAN:
      Start("");
      return true;
    case WM_PELORIN_STOP_SCAN:
      Stop();
      return true;
    case WM_PELORIN_DELETE_ALL:
      ListDeleteAll(1);
      return true;
    case WM_PELORIN_LOAD_LAST_LOG:
      LoadLastLog();
      return true;
    default:
      return PelorinCThread::PreTranslateMessage(message);
  }
}

bool MonListIpMonCWinThread::OnIdle(long) {
  if (m_logBuffer.LossPending()) StopLoggingAfterLoss();
  if (IsClose()) {
    if (GetIdleMessage()) Stop();
    FlushLog();
    return false;
  }
  if (!m_capturing.load(std::memory_order_relaxed) || !m_adapter) {
    // Capture is off: nothing to read until a message turns it on, so wait for one instead of
    // spinning through idle turns.
    IncreCount();
    FlushLog();
    return false;
  }
  DWORD length = m_adapter->Read(&m_frame, 0);
  if (length == 0) {
    // Nothing arrived within the read timeout: what is gathered goes to the file.
    IncreCount();
    SubmitLog();
    TakeKernelCountsIfDue(m_clock.NowMs());
    if (m_sourceIsFile) {
      // A capture file at its end answers at once; pace the turns as a quiet interface would.
      m_replayDone.store(true);
      Pause(PelorinAdapter::kReadTimeout);
    }
    return true;
  }
  // The time text changes once a millisecond; frames in between share it. It is made in the
  // row's own time text, which ShowPacketReceive then need not copy.
  const std::int64_t nowMs = m_clock.NowMs();
  if (nowMs != m_readTimeMs) {
    FormatMillisTime(static_cast<std::time_t>(nowMs / 1000), static_cast<int>(nowMs % 1000), m_time);
    m_readTimeMs = nowMs;
  }
  // The frames already waiting behind this one are shown in the same turn, with its read time:
  // one log lock and one insertion into the pane for them all instead of one per frame.
  m_inBurst = true;
  for (int n = 0; length != 0;) {
    CountUp(m_framesRead);
    ShowPacketReceive(m_frame.data, static_cast<LONG>(length), m_time.c_str(), 0, -1, kEthernetHeader);
    if (++n == kBurstFrames) break;
    length = m_adapter->ReadQueued(&m_frame);
  }
  m_inBurst = false;
  EndBurstStep();
  FlushLogIfDue(nowMs);
  TakeKernelCountsIfDue(nowMs);
  IncreCount();
  return true;
}

void MonListIpMonCWinThread::SetClose() {
  PelorinCThread::SetClose();
  // The adapter belongs to this thread: from elsewhere, ask it to stop capture.
  if (IsCurrentThread())
    Stop();
  else
    PostThreadMessage(WM_PELORIN_STOP_SCAN);
}

// --- capture on and off ---

LONG MonListIpMonCWinThread::Start(const char*) {
  if (SocketStart() != S_OK) return 0;
  if (m_owner && m_owner->IsSorted()) m_owner->SortByRow();
  LoadFilters();
  // The pane starts empty, so the table does too: a conversation remembered from an earlier run
  // would otherwise never get its row.
  if (!m_exclusive) AllocateExclusive();
  ClearExclusive();
  m_replayDone.store(false);
  m_framesAtStart.store(m_framesRead.load());
  m_loggedAtStart.store(m_recordsLogged.load());
  SetIdleMessage(1);
  return 0;
}

void MonListIpMonCWinThread::Stop() {
  // Reported off only once the adapter is closed, the filters released and the log written out,
  // so that a caller waiting for it finds every record of the run in the file.
  SocketStop();
  UnLoadFilters();
  FlushLog();
  if (m_logBuffer.LossPending()) StopLoggingAfterLoss();
  SetIdleMessage(0);
}

LONG MonListIpMonCWinThread::SocketStart() {
  const AppProfile& profile = Profile();
  _PelorinWinCapAdapter record{};
  record.index = profile.GetProfileInt("", "AdapterCurr", 0);
  SetFieldText(record.name, profile.GetProfileString("", "AdapterCurrName"));
  SetFieldText(record.description, profile.GetProfileString("", "AdapterCurrDesc"));
  m_bufferKB = profile.GetProfileInt("", "CaptureBufferKB", PelorinAdapter::kDefaultBufferKB);
  m_adapterOpen.store(AdapterOpen(&record));
  return m_adapterOpen.load() ? S_OK : E_FAIL;
}

void MonListIpMonCWinThread::SocketStop() {
  AdapterClose();
  m_adapterOpen.store(0);
}

int MonListIpMonCWinThread::AdapterOpen(const _PelorinWinCapAdapter* adapter) {
  AdapterClose();
  m_adapterOpen.store(0);
  if (m_adapter || adapter == nullptr || adapter->index < 0) return 0;
  m_adapterRecord = *adapter;
  m_adapter = std::make_unique<PelorinAdapter>(&m_adapterRecord);
  m_adapter->SetBufferKB(m_bufferKB);
  const int opened = m_adapter->Open();
  if (!opened) {
    m_adapter.reset();
    m_adapterRecord = {};
    return 0;
  }
  m_sourceIsFile = GetFieldText(m_adapterRecord.name).starts_with(PelorinAdapter::kFilePrefix);
  m_statsReceived.store(0);
  m_statsDropped.store(0);
  m_kernelCounts.store(!m_sourceIsFile);
  return opened;
}

int MonListIpMonCWinThread::AdapterClose() {
  if (!m_adapter) return 0;
  std::uint32_t received = 0, dropped = 0;
  if (m_adapter->GetStats(&received, &dropped)) {
    m_statsReceived.store(received);
    m_statsDropped.store(dropped);
  }
  m_adapter->Close();
  m_adapter.reset();
  m_adapterRecord = {};
  m_sourceIsFile = false;
  return 1;
}

void MonListIpMonCWinThread::GetCaptureStats(std::uint32_t* received, std::uint32_t* dropped) const {
  if (received) *received = m_statsReceived.load();
  if (dropped) *dropped = m_statsDropped.load();
}

void MonListIpMonCWinThread::TakeKernelCountsIfDue(std::int64_t nowMs) {
  // A step of the wall clock only moves the next question.
  if (nowMs >= m_statsTakenMs && nowMs - m_statsTakenMs < kKernelCountsMs) return;
  m_statsTakenMs = nowMs;
  std::uint32_t received = 0, dropped = 0;
  if (m_adapter && m_adapter->GetStats(&received, &dropped)) {
    m_statsReceived.store(received);
    m_statsDropped.store(dropped);
  }
}

CaptureCounts MonListIpMonCWinThread::GetCaptureCounts() const {
  CaptureCounts counts;
  counts.capturing = m_capturing.load();
  counts.captured = m_framesRead.load() - m_framesAtStart.load();
  counts.logged = m_recordsLogged.load() - m_loggedAtStart.load();
  counts.kernelCounts = m_kernelCounts.load();
  counts.kernelReceived = m_statsReceived.load();
  counts.kernelDropped = m_statsDropped.load();
  counts.logging = GetLog() != 0;
  counts.logBytes = m_logBuffer.OlderBytes() + m_logEnd.load();
  counts.logFiles = m_logBuffer.Files();
  counts.logBound = m_ringBytes.load(std::memory_order_relaxed);
  counts.filterOn = m_applyFiltersOn.load();
  return counts;
}

// --- one packet ---

void MonListIpMonCWinThread::displayipReceive(const std::uint8_t* frame, LONG length, LONG ipOffset) {
  DecodeFrameAs(kPacketTypeIp, frame, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(ipOffset),
                m_packet);
}

void MonListIpMonCWinThread::displaytcpReceive(const std::uint8_t* frame, LONG length, LONG ipOffset) {
  DecodeFrameAs(kPacketTypeTcp, frame, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(ipOffset),
                m_packet);
}

void MonListIpMonCWinThread::displayudpReceive(const std::uint8_t* frame, LONG length, LONG ipOffset) {
  DecodeFrameAs(kPacketTypeUdp, frame, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(ipOffset),
                m_packet);
}

void MonListIpMonCWinThread::displayicmpReceive(const std::uint8_t* frame, LONG length, LONG ipOffset) {
  DecodeFrameAs(kPacketTypeIcmp, frame, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(ipOffset),
                m_packet);
}

void MonListIpMonCWinThread::ShowPacketReceive(const std::uint8_t* frame, LONG length, const char* time,
                                               int fromLog, LONG position, LONG ipOffset) {
  if (time != m_time.c_str()) {
    // A time text of the caller's own: the read time is made again for the next frame read.
    m_time = time ? time : "";
    m_readTimeMs = -1;
  }
  MonListIpMon* list = m_owner;
  if (list && RowCount() >= LogGetPageSize()) {
    // The pane shows at most one page.
    EndBurstStep();
    list->ListDeleteRows();
    ClearExclusive();
  }
  if (list == nullptr || length < 1 || frame == nullptr || ipOffset < 0) return;

  // Only the numbers now: the texts are made once the packet has passed and gets its row.
  DecodeFields(frame, static_cast<std::uint32_t>(length), static_cast<std::uint32_t>(ipOffset), m_packet);

  const std::uint8_t* bytes = frame;
  DWORD frameLength = static_cast<DWORD>(length);
  if (!fromLog && m_rangeInForce.load(std::memory_order_relaxed)) bytes = PacketSetRange(frame, ipOffset, &frameLength);

  bool passes = true;
  // The switches are read without their lock first: with neither on, as while a pane captures
  // everything, no packet takes the filters lock.
  if (!fromLog && (m_applyFiltersOn.load(std::memory_order_relaxed) || m_monitorExclusive.load(std::memory_order_relaxed))) {
    CriticalSectionLock lock(m_filtersLock);
    if (m_applyFilters) passes = ApplyFilters() != 0;
    if (passes && m_monitorExclusive.load(std::memory_order_relaxed)) passes = ApplyExclusive() != 0;
  }
  if (!passes || RowCount() >= kMaxRows) return;

  auto* item = list->RowItems().Take();
  if (item == nullptr) return;
  FormatAddressTexts(m_packet);
  const int row = list->GetRowCounter();
  _ShowPacketReceivePackIp& record = item->record;
  record.rowNumber = row;
  record.typeCode = m_packet.typeCode;
  // The switch is read once: the record position and the status text must agree.
  m_rowLogged = !fromLog && GetLog();
  if (fromLog) {
    record.recordPosition = position;
    item->logFile = m_rowFile;
  } else if (m_rowLogged) {
    DWORD written = 0;
    // In a burst the log lock is taken at its first record and kept to its end.
    std::unique_lock<std::mutex> lock(m_logLock.Bare(), std::defer_lock);
    if (!m_inBurst)
      lock.lock();
    else if (!m_burstLog.owns_lock())
      m_burstLog = std::unique_lock<std::mutex>(m_logLock.Bare());
    const LONG logged = LogAppendLocked(bytes, static_cast<LONG>(frameLength),
                                        PacketLogFile::HeaderAddressText(m_packet.sourceText),
                                        PacketLogFile::HeaderAddressText(m_packet.destinationText), m_time, &written);
    if (lock.owns_lock()) lock.unlock();
    if (logged > 0) {
      record.recordPosition = static_cast<LONG>(written);
      item->logFile = m_logFileNumber;  // LogAppend has moved it to the record's file
    } else {
      record.recordPosition = -1;
      if (m_logBuffer.LossPending()) {
        EndBurstStep();  // the rows before this one are in the pane to be marked
        if (StopLoggingAfterLoss()) {
          m_rowLogged = false;  // logging has just stopped: this packet has no record either
          record.recordPosition = row;
        }
      }
    }
  } else {
    record.recordPosition = row;
  }
  const LONG recordPosition = record.recordPosition;
  ShowPacketReceivePack(row, 0, 0, item, fromLog);
  if (m_windowsSet.load(std::memory_order_relaxed)) {
    // The file number goes with the position: the log may roll over before the window reads.
    const WPARAM sizeAndFile = frameLength | (WPARAM{item->logFile} << 32);
    CriticalSectionLock lock(m_idleLock);
    if (m_feed != kNoWindow)
      ::PostMessage(m_feed, WM_PELORIN_NEW_PACKET, sizeAndFile, static_cast<LPARAM>(recordPosition));
    if (m_compare != kNoWindow)
      ::PostMessage(m_compare, WM_PELORIN_NEW_PACKET, sizeAndFile, static_cast<LPARAM>(recordPosition));
  }
  list->IncreaseRowCounter();
}

void MonListIpMonCWinThread::ShowPacketReceivePack(LONG, LONG, LONG, PacketRowItem* item,
                                                   int fromLog) {
  MonListIpMon* list = m_owner;
  if (list == nullptr) {
    CoTaskMemFree(item);
    return;
  }
  // The whole row is made before it goes in: the pane's readers never see it without its cells
  // or record. The pane makes the cells' texts when they are read.
  const PacketRowCells::Status status =
      fromLog ? PacketRowCells::kFromLog : (m_rowLogged ? PacketRowCells::kLogged : PacketRowCells::kNoLog);
  packet_row::FillCells(m_packet, m_time, status, &item->cells);
  ListRow& made = m_rowBatch.emplace_back();
  made.data = reinterpret_cast<DWORD_PTR>(item);
  if (m_packet.ipv6) list->WidenAddressColumns(std::max(m_packet.sourceText.size(), m_packet.destinationText.size()));
  if (!m_inBurst) EndBurstStep();
}

int MonListIpMonCWinThread::RowCount() const {
  return m_owner->GetItemCount() + static_cast<int>(m_rowBatch.size());
}

void MonListIpMonCWinThread::EndBurstStep() {
  if (m_burstLog.owns_lock()) m_burstLog.unlock();
  if (m_rowBatch.empty()) return;
  MonListIpMon* list = m_owner;
  const std::size_t count = m_rowBatch.size();
  // The pane follows the newest rows by itself (it scrolls once per refresh, not per row).
  if (list->InsertRows(&m_rowBatch)) {
    CountUp(m_rowsAdded, count);
    return;
  }
  for (const ListRow& row : m_rowBatch) list->RowItems().Give(reinterpret_cast<PacketRowItem*>(row.data));
  m_rowBatch.clear();
}

// --- Monitor Exclusive ---

void MonListIpMonCWinThread::AllocateExclusive() {
  m_exclusive = std::make_unique<ExclusiveEntry[]>(kExclusiveEntries);  // zeroed
  m_exclusiveCount = 0;
}

void MonListIpMonCWinThread::ClearExclusive() {
  if (m_exclusive) std::fill_n(m_exclusive.get(), kExclusiveEntries, ExclusiveEntry{});
  m_exclusiveCount = 0;
}

int MonListIpMonCWinThread::ApplyExclusive() {
  if (!m_exclusive) return 1;  // capture never started: no table
  ExclusiveEntry entry{m_packet.source6, static_cast<std::uint32_t>(m_packet.sourcePort), m_packet.destination6,
                       static_cast<std::uint32_t>(m_packet.destinationPort), m_packet.ipv6};
  if (!m_packet.ipv6) {
    std::memcpy(entry.source.data(), &m_packet.source, 4);
    std::memcpy(entry.destination.data(), &m_packet.destination, 4);
  }
  for (int i = 0; i < m_exclusiveCount; ++i)
    if (m_exclusive[i] == entry) return 0;
  if (m_exclusiveCount >= kExclusiveEntries) {
    if (m_owner) m_owner->ListDeleteRows();
    ClearExclusive();
  }
  m_exclusive[m_exclusiveCount++] = entry;
  return 1;
}

void MonListIpMonCWinThread::ListDeleteAll(int truncate) {
  if (m_owner) m_owner->ListDeleteRows();
  SetDeleteAll(0, 0);
  if (!IsClose() && truncate) TruncateLog();
  m_loadStart.store(-1);
  AllocateExclusive();
}

// --- locked accessors ---

void MonListIpMonCWinThread::SetLogLast(int on) {
  CriticalSectionLock lock(m_logLastLock);
  m_logLast = on;
}

int MonListIpMonCWinThread::IsLogLast() {
  CriticalSectionLock lock(m_logLastLock);
  return m_logLast;
}

void MonListIpMonCWinThread::SetDeleteAll(int request, int truncate) {
  CriticalSectionLock lock(m_deleteAllLock);
  m_deleteAll = request;
  m_deleteAllTruncate = truncate;
}

int MonListIpMonCWinThread::IsDeleteAll() {
  CriticalSectionLock lock(m_deleteAllLock);
  return m_deleteAll;
}

void MonListIpMonCWinThread::SetIdleMessage(int on) {
  CriticalSectionLock lock(m_idleLock);
  m_idleMessage = on;
  m_capturing.store(on != 0, std::memory_order_relaxed);
}

int MonListIpMonCWinThread::GetIdleMessage() {
  CriticalSectionLock lock(m_idleLock);
  return m_idleMessage;
}

void MonListIpMonCWinThread::SetFeedActive(HWND feed) {
  CriticalSectionLock lock(m_idleLock);
  m_feed = feed;
  m_windowsSet.store(m_feed != kNoWindow || m_compare != kNoWindow, std::memory_order_relaxed);
}

BOOL MonListIpMonCWinThread::IsFeedActive() {
  CriticalSectionLock lock(m_idleLock);
  return m_feed != kNoWindow;
}

void MonListIpMonCWinThread::SetCompareActive(HWND compare) {
  CriticalSectionLock lock(m_idleLock);
  m_compare = compare;
  m_windowsSet.store(m_feed != kNoWindow || m_compare != kNoWindow, std::memory_order_relaxed);
}

BOOL MonListIpMonCWinThread::IsCompareActive() {
  CriticalSectionLock lock(m_idleLock);
  return m_compare != kNoWindow;
}

void MonListIpMonCWinThread::ApplyFilters(int on) {
  CriticalSectionLock lock(m_filtersLock);
  m_applyFilters = on;
  m_applyFiltersOn.store(on != 0, std::memory_order_relaxed);
}

int MonListIpMonCWinThread::GetApplyFilters() {
  CriticalSectionLock lock(m_filtersLock);
  return m_applyFilters;
}

// --- filters ---

int MonListIpMonCWinThread::ApplyFilters() { return m_filter.Passes(m_packet) ? 1 : 0; }

int MonListIpMonCWinThread::PacketMustContain() {
  // Only a packet with a payload can contain a text.
  if (m_packet.payloadLength < 1) return 0;
  return m_filter.MustContain(m_packet) ? 1 : 0;
}

int MonListIpMonCWinThread::PacketMustNotContain() { return m_filter.MustNotContain(m_packet) ? 1 : 0; }

LONG MonListIpMonCWinThread::LoadFiltersCounts() {
  const std::string& path = m_owner ? m_owner->GetRegistryPath() : std::string();
  PacketFilterSet set;
  const PacketFilterResult result =
      path.empty() ? PacketFilterStore::ForProfile(Profile()).Read(set) : PacketFilterStore(path).Read(set);
  if (!result.Ok()) {
    m_storedFilters = PacketFilterSet{};
    return -1;
  }
  m_storedFilters = set;
  LONG inForce = 0;
  for (const auto& list : set.lists) inForce += list.empty() ? 0 : 1;
  inForce += set.eitherAddress ? 1 : 0;
  inForce += set.eitherPort && *set.eitherPort > 0 ? 1 : 0;
  inForce += set.minSize && *set.minSize > 0 ? 1 : 0;
  inForce += set.maxSize && *set.maxSize > 0 ? 1 : 0;
  inForce += (set.tcp && set.udp && set.icmp && set.other) ? 0 : 1;
  inForce += set.mustContain.empty() ? 0 : 1;
  inForce += set.mustNotContain.empty() ? 0 : 1;
  return inForce;
}

LONG MonListIpMonCWinThread::LoadFilters() {
  // Held for the whole run: no packet is matched against a half-loaded set.
  CriticalSectionLock lock(m_filtersLock);
  UnLoadFiltersLocked();
  if (LoadFiltersCounts() < 0) return E_UNEXPECTED;
  if (!m_filter.Load(m_storedFilters)) return E_UNEXPECTED;
  return S_OK;
}

void MonListIpMonCWinThread::UnLoadFilters() {
  CriticalSectionLock lock(m_filtersLock);
  UnLoadFiltersLocked();
}

void MonListIpMonCWinThread::UnLoadFiltersLocked() {
  m_filter.Clear();
  m_storedFilters = PacketFilterSet{};
}

bool MonListIpMonCWinThread::FiltersLoaded() {
  CriticalSectionLock lock(m_filtersLock);
  return m_filter.IsLoaded();
}

// --- packet log ---

std::string MonListIpMonCWinThread::LogGet() {
  return Profile().GetProfileString("", "IpMonLogCurrent", kDefaultLogName);
}

PacketLogSet::Limits MonListIpMonCWinThread::LogLimits() const {
  PacketLogSet::Limits limits;
  const AppProfile& profile = Profile();
  const auto fileBytes = static_cast<std::uint32_t>(profile.GetProfileInt("", "LogPktFileBytes", 0));
  // Below a header and one largest frame a file could hold no record of some packets by itself.
  if (fileBytes != 0)
    limits.fileBytes = std::max<std::int64_t>(fileBytes, PacketLogFile::kHeaderLength + PacketLogFile::kMaxDataLength);
  limits.maxFiles = static_cast<std::uint32_t>(profile.GetProfileInt("", "LogPktRingFiles", 0));
  limits.maxBytes = std::int64_t{static_cast<std::uint32_t>(profile.GetProfileInt("", "LogPktRingMB", 0))} << 20;
  return limits;
}

void MonListIpMonCWinThread::LogApplyRing() {
  const PacketLogSet::Limits limits = LogLimits();
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  m_logLimits.maxFiles = limits.maxFiles;
  m_logLimits.maxBytes = limits.maxBytes;
  m_logBuffer.SetRing(limits.maxFiles, limits.maxBytes);
  m_ringBytes.store(RingBytes(m_logLimits));
}

std::uint32_t MonListIpMonCWinThread::LogFileNumber() {
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  return m_logFileNumber;
}

bool MonListIpMonCWinThread::OpenLogLocked(const std::string& name) {
  CloseLogLocked();
  m_logName = name;
  m_logLimits = LogLimits();
  // The buffer picks the newest file of the set; the thread's own object opens the same one.
  m_logOpen = m_logBuffer.Open(name, m_logLimits) && m_logFile.OpenShared(m_logBuffer.FilePath());
  if (!m_logOpen) CloseLogLocked();
  m_logFileNumber = m_logOpen ? m_logBuffer.FileNumber() : 0;
  m_logFile.SetFirstOfSet(name);
  m_ringBytes.store(RingBytes(m_logLimits));
  m_logEnd.store(m_logOpen ? m_logFile.Length() : 0);
  return m_logOpen;
}

void MonListIpMonCWinThread::CloseLogLocked() {
  m_logBuffer.Close();  // writes out what is pending
  m_logFile.Close();
  m_logOpen = false;
}

LONG MonListIpMonCWinThread::LogUseCurrent(int reopen) {
  const std::string name = LogGet();
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  if (m_logOpen || reopen)
    OpenLogLocked(name);
  else
    m_logName = name;  // a closed log takes the name, so a reload reads the file now named
  return 0;
}

BOOL MonListIpMonCWinThread::IsLogOpen() {
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  return m_logOpen ? 1 : 0;
}

LONG MonListIpMonCWinThread::LogWrite(const void* data, LONG length, const char* source, const char* destination,
                                      const char* time, DWORD* position) {
  if (!GetLog()) return 0;
  return LogAppend(data, length, source ? source : "", destination ? destination : "", time ? time : "", position);
}

LONG MonListIpMonCWinThread::LogImport(const std::uint8_t* frame, LONG length, std::string_view time,
                                       DWORD* position) {
  if (frame == nullptr || length < 1) return 0;
  DecodedPacket packet;
  DecodeFrame(frame, static_cast<std::uint32_t>(length), kEthernetHeader, packet);
  return LogAppend(frame, length, PacketLogFile::HeaderAddressText(packet.sourceText),
                   PacketLogFile::HeaderAddressText(packet.destinationText), time, position);
}

LONG MonListIpMonCWinThread::LogAppend(const void* data, LONG length, std::string_view source,
                                       std::string_view destination, std::string_view time, DWORD* position) {
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  return LogAppendLocked(data, length, source, destination, time, position);
}

LONG MonListIpMonCWinThread::LogAppendLocked(const void* data, LONG length, std::string_view source,
                                             std::string_view destination, std::string_view time, DWORD* position) {
  if (length > PacketLogFile::kMaxDataLength || !m_logOpen) return 0;
  // Logging switched on again after a loss: records go on at the end the file has now, past
  // every record still named by a row.
  if (m_logBuffer.IsStopped() && !m_logBuffer.LossPending()) m_logBuffer.Resume();
  // The batch goes to the writer by its age from the idle turns (FlushLogIfDue, SubmitLog).
  DWORD at = 0;
  std::uint32_t file = 0;
  const LONG written = m_logBuffer.Write(data, length, source, destination, time, &at, &file);
  if (written > 0 && file != m_logFileNumber) {
    // The log has rolled over: the packet windows' reads follow it into the new file.
    m_logFileNumber = file;
    m_logFile.OpenShared(m_logBuffer.FilePath());
  }
  if (written > 0) {
    CountUp(m_recordsLogged);  // written under the log lock only
    m_logEnd.store(std::int64_t{at} + PacketLogFile::kHeaderLength + written, std::memory_order_relaxed);
    if (position) *position = at;
  }
  return written;
}

void MonListIpMonCWinThread::FlushLog() {
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  m_logBuffer.Flush();
}

void MonListIpMonCWinThread::SubmitLog() {
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  m_logBuffer.Submit();
}

void MonListIpMonCWinThread::FlushLogIfDue(std::int64_t wallMs) {
  // While packets flow, look at the pending batch's age every 20 ms or so. The turns are timed by
  // the wall clock the time text has just read, so a packet costs one clock read, not two; a step
  // of the wall clock only moves the next look.
  if (wallMs >= m_lastFlushCheckMs && wallMs - m_lastFlushCheckMs < PacketLogBuffer::kMaxAgeMs) return;
  m_lastFlushCheckMs = wallMs;
  const std::int64_t now = PacketLogBuffer::NowMs();
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  if (m_logBuffer.IsDue(now)) m_logBuffer.Submit();
}

bool MonListIpMonCWinThread::StopLoggingAfterLoss() {
  PacketLogBuffer::Place lostFrom;
  {
    std::lock_guard<std::mutex> lock(m_logLock.Bare());
    lostFrom = m_logBuffer.TakeLoss();
  }
  if (lostFrom.offset < 0) return false;
  SetLog(0);
  if (MonListIpMon* list = m_owner) {
    // Rows of this page whose records were lost would open whatever a later record puts at
    // their positions: they become rows without a record.
    const int count = list->GetItemCount();
    for (int row = 0; row < count; ++row) {
      // The status is changed under the rows lock, which whoever makes the cell's text holds.
      list->ReadRow(row, [&lostFrom](const ListRow& r) {
        auto* item = reinterpret_cast<PacketRowItem*>(r.data);
        if (item != nullptr && item->cells.status == PacketRowCells::kLogged &&
            (item->logFile > lostFrom.file ||
             (item->logFile == lostFrom.file && item->record.recordPosition >= lostFrom.offset)))
          item->cells.status = PacketRowCells::kNoLog;
      });
    }
    list->RedrawRows();
    list->PostMessage(WM_PELORIN_LOG_STOPPED);
  }
  return true;
}

LONG MonListIpMonCWinThread::ReadNextLocked(PacketLogFile& file, LONG* position, void* buffer, LONG size,
                                            std::string* source, std::string* destination, std::string* time) {
  if (!file.IsOpen()) return 0;
  if (buffer == nullptr) return file.ReadNext(position, nullptr, 0, source, destination, time);
  // A record longer than the buffer ends the read: it is not cut to fit, and the position stays
  // at it.
  const std::int64_t at = file.Tell();
  LONG found = 0;
  std::string s, d, t;
  _LogRecMarker header;
  const LONG read = file.ReadNext(&found, buffer, size, &s, &d, &t, &header);
  if (read < 1) return read;
  if (header.dataLength > size) {
    file.Seek(at);
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    return -1;
  }
  if (position) *position = found;
  if (source) *source = std::move(s);
  if (destination) *destination = std::move(d);
  if (time) *time = std::move(t);
  return read;
}

LONG MonListIpMonCWinThread::LogReadNext(LONG* position, void* buffer, LONG size, std::string* source,
                                         std::string* destination, std::string* time) {
  std::lock_guard<PacketLogLock> lock(m_logLock);
  return ReadNextLocked(m_logFile, position, buffer, size, source, destination, time);
}

LONG MonListIpMonCWinThread::LogRead(LONG position, void* buffer, LONG size, std::string* source,
                                     std::string* destination, std::string* time) {
  std::lock_guard<PacketLogLock> lock(m_logLock);
  if (!m_logFile.IsOpen() || buffer == nullptr || size < 1) return 0;
  return m_logFile.Read(position, buffer, size, source, destination, time);
}

LONG MonListIpMonCWinThread::LogGetMaxRecNum() {
  const std::string name = LogGet();
  std::lock_guard<PacketLogLock> lock(m_logLock);
  if (m_logFile.IsOpen()) return m_logFile.GetMaxRecNum();
  return PacketLogFile::GetMaxRecNum(name);
}

LONG MonListIpMonCWinThread::LogSetPageSize(LONG size) {
  const LONG clamped = ClampLogPageSize(size);
  m_pageSize.store(clamped);
  return clamped;
}

void MonListIpMonCWinThread::LogSetRange(DWORD start, DWORD end) {
  CriticalSectionLock lock(m_rangeLock);
  m_rangeStart = start;
  m_rangeEnd = end;
  // Both ends negative: no range (IsLogRange); both 0: nothing to trim.
  const bool none = static_cast<LONG>(start) < 0 && static_cast<LONG>(end) < 0;
  m_rangeInForce.store(!none && (start != 0 || end != 0), std::memory_order_relaxed);
}

void MonListIpMonCWinThread::LogGetRange(DWORD* start, DWORD* end) {
  CriticalSectionLock lock(m_rangeLock);
  if (start) *start = m_rangeStart;
  if (end) *end = m_rangeEnd;
}

int MonListIpMonCWinThread::IsLogRange() {
  CriticalSectionLock lock(m_rangeLock);
  return static_cast<LONG>(m_rangeStart) < 0 && static_cast<LONG>(m_rangeEnd) < 0 ? 0 : 1;
}

const std::uint8_t* MonListIpMonCWinThread::PacketSetRange(const std::uint8_t* frame, LONG ipOffset,
                                                           DWORD* frameLength) {
  DWORD start = 0, end = 0;
  LogGetRange(&start, &end);
  if (frame == nullptr || frameLength == nullptr || m_packet.payload == nullptr || m_packet.payloadLength < 1 ||
      (start == 0 && end == 0))
    return frame;
  // The capture library's bytes are read-only: trim a copy of the captured frame.
  m_frameCopy.assign(frame, frame + *frameLength);
  const auto payloadOffset = static_cast<std::uint32_t>(m_packet.payload - frame);
  const PayloadTrim trim = TrimPayloadToRange(m_frameCopy.data(), *frameLength, static_cast<std::uint32_t>(ipOffset),
                                              payloadOffset, m_packet.payloadLength, start, end, m_packet.ipv6);
  if (!trim.trimmed) return frame;
  *frameLength = trim.frameLength;
  // The size, its text and the payload now describe the trimmed packet (of the same type: the
  // protocol byte and the Ethernet type are untouched).
  DecodeFrame(m_frameCopy.data(), trim.frameLength, static_cast<std::uint32_t>(ipOffset), m_packet);
  return m_frameCopy.data();
}

void MonListIpMonCWinThread::TruncateLog() {
  const std::string fallback = LogGet();
  std::lock_guard<std::mutex> lock(m_logLock.Bare());
  const std::string name = m_logName.empty() ? fallback : m_logName;
  const bool wasOpen = m_logOpen;
  CloseLogLocked();  // what is pending goes first; the truncation then removes it with the rest
  PacketLogSet::RemoveNumbered(name);
  PacketLogFile emptied;
  emptied.OpenTruncate(name);
  emptied.Close();
  if (wasOpen) OpenLogLocked(name);
}

void MonListIpMonCWinThread::LoadLastLog() {
  MonListIpMon* list = m_owner;
  const std::string fallback = LogGet();
  {
    std::lock_guard<PacketLogLock> lock(m_logLock);  // every record gathered is in the files now
    const std::string name = m_logName.empty() ? fallback : m_logName;
    const std::vector<PacketLogSet::Member> files = PacketLogSet::Files(name);
    LONG start = m_loadStart.exchange(-1);
    std::uint32_t startFile = m_loadStartFile.exchange(kCurrentLogFile);
    if (startFile == kCurrentLogFile) startFile = m_logOpen ? m_logFileNumber : PacketLogSet::Newest(name);
    // No start: the first record of the oldest file.
    if (start < 0 && !files.empty()) startFile = files.front().number;
    PacketLogFile file;
    // A start in a file the ring has removed (or that never was) loads nothing.
    if (list && !name.empty() && file.OpenReadOnly(PacketLogSet::FileName(name, startFile))) {
      const bool wasVisible = list->ShowWindow(SW_HIDE);
      list->ListDeleteRows();
      ClearExclusive();
      if (start < 0 || !file.Seek(start)) file.Seek(0);
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kReadBufferSize));
      const LONG pageSize = LogGetPageSize();
      m_rowFile = startFile;
      for (LONG i = 0; i < pageSize;) {
        LONG position = 0;
        std::string time;
        const LONG read = ReadNextLocked(file, &position, buffer.data(), kReadBufferSize, nullptr, nullptr, &time);
        if (read < 1) {
          // The page goes on in the next file of the set.
          const auto next = std::find_if(files.begin(), files.end(),
                                         [this](const PacketLogSet::Member& m) { return m.number > m_rowFile; });
          if (next == files.end() || !file.OpenReadOnly(next->path)) break;
          m_rowFile = next->number;
          continue;
        }
        ShowPacketReceive(buffer.data(), read, time.c_str(), 1, position, kEthernetHeader);
        ++i;
      }
      if (wasVisible) list->ShowWindow(SW_SHOW);
    }
    m_loadStart.store(-1);
  }
  SetLogLast(0);
}

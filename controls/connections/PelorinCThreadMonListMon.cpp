#include "controls/connections/PelorinCThreadMonListMon.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>
#include <unordered_set>

#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/LogRecMarkerConnect.h"
#include "common/Messages.h"
#include "common/MonListMonLogData6.h"
#include "common/TimeText.h"
#include "controls/connections/MonListMon.h"
#include "platform/AppProfile.h"
#include "platform/DynamicLibrary.h"
#include "platform/ProcessHeap.h"
#include "platform/TaskAllocator.h"

namespace {

constexpr char kTcpText[] = "TCP";
constexpr char kUdpText[] = "UDP";
constexpr char kTcp6Text[] = "TCP6";
constexpr char kUdp6Text[] = "UDP6";
constexpr char kDisconnectText[] = "Disconnect";
constexpr char kNoNameText[] = "n/a";

// Columns the scanner writes.
enum Column { kName = 0, kType = 1, kStatus = 2, kLocalAddr = 3, kLocalPort = 4, kRemoteAddr = 5,
              kRemotePort = 6, kDateTime = 7, kElapsed = 8, kProcessId = 9 };

std::uint32_t Now() { return static_cast<std::uint32_t>(std::time(nullptr)); }

// The type text of a row and of its log records.
const char* TypeText(bool tcp, bool ipv6) {
  if (ipv6) return tcp ? kTcp6Text : kUdp6Text;
  return tcp ? kTcpText : kUdpText;
}

// Address texts of a row record or a table endpoint.
template <typename Endpoint>
std::string LocalText(const Endpoint& e) {
  return e.family == AF_INET6 ? Inet6Ntop(std::data(e.localAddr6)) : InetNtoa(e.localAddr);
}
template <typename Endpoint>
std::string RemoteText(const Endpoint& e) {
  return e.family == AF_INET6 ? Inet6Ntop(std::data(e.remoteAddr6)) : InetNtoa(e.remoteAddr);
}

// A log header's address field holds 19 characters: a longer IPv6 text is left out there and
// read back from the record's data.
std::string HeaderAddress(std::string text) {
  constexpr std::size_t kField = sizeof(_LogRecMarkerConnect::localAddr) - 1;
  if (text.size() > kField) text.clear();
  return text;
}

// The log data of a row record; the IPv6 addresses follow the IPv4 layout's 84 bytes.
void FillLogData(const _MonListMonItemData& record, PelorinCThreadMonListMon::PendingRecord* pending) {
  std::memcpy(&pending->data.base, &record, sizeof(_MonListMonItemDataIp));
  if (record.family != AF_INET6) return;
  std::memcpy(pending->data.localAddr, record.localAddr6, 16);
  pending->data.localScopeId = record.localScopeId;
  std::memcpy(pending->data.remoteAddr, record.remoteAddr6, 16);
  pending->data.remoteScopeId = record.remoteScopeId;
  pending->length = sizeof(_MonListMonLogData6);
}

}  // namespace

PelorinCThreadMonListMon::PelorinCThreadMonListMon(MonListMon* list, AppProfile* application)
    : PelorinCThread(list, list), m_list(list), m_application(application) {
  InitInstance();
  if (CreateThread(true)) PelorinCThread::Start("");
}

PelorinCThreadMonListMon::~PelorinCThreadMonListMon() {
  EndThread();
  PelorinCThread::Stop();
  ExitInstance();
  if (m_ipHelper) FreeLibrary(m_ipHelper);
  m_ipHelper = nullptr;
}

// --- initialisation ---

bool PelorinCThreadMonListMon::InitInstance() {
  // The constructor runs it once; the run on the new thread finds it done.
  if (m_initialised.exchange(true)) return true;
  LoadEntryPoints();
  LogUseCurrent(1);
  SetLog(m_application ? m_application->GetProfileInt("", "LogList", 1) : 1);
  return true;
}

int PelorinCThreadMonListMon::ExitInstance() {
  {
    CriticalSectionLock lock(m_logLock);
    LogCloseLocked();
  }
  m_initialised.store(false);
  return 0;
}

void PelorinCThreadMonListMon::LoadEntryPoints() {
  m_tables.Load();
  m_ipHelper = LoadLibraryA("iphlpapi.dll");
  if (!m_ipHelper) return;
  m_setTcpEntry = reinterpret_cast<PSetTcpEntry>(GetProcAddress(m_ipHelper, "SetTcpEntry"));
  static const char* const others[] = {"GetIpNetTable",  "GetIpForwardTable", "GetIpAddrTable",    "GetIfTable",
                                       "DeleteIpNetEntry", "SetIpNetEntry",   "NotifyRouteChange", "NotifyAddrChange"};
  for (std::size_t i = 0; i < std::size(others); ++i) m_otherEntries[i] = GetProcAddress(m_ipHelper, others[i]);
}

// --- flags ---

LONG PelorinCThreadMonListMon::Start(const char*) {
  // New rows are placed by process name again (a reloaded log left the list unsorted).
  if (m_list && m_list->IsCreated()) {
    const DWORD visible = m_list->GetStyle() & WS_VISIBLE;
    m_list->SetStyle(PelorinCListView::kListStyleSorted | visible);
  }
  m_passDue = true;
  SetIdleMessage(1);
  return 0;
}

void PelorinCThreadMonListMon::Stop() { SetIdleMessage(0); }

void PelorinCThreadMonListMon::SetIdleMessage(BOOL idle) {
  {
    CriticalSectionLock lock(m_idleLock);
    m_idle = idle;
  }
  m_idleChanged.notify_all();
}

BOOL PelorinCThreadMonListMon::GetIdleMessage() {
  CriticalSectionLock lock(m_idleLock);
  return m_idle;
}

bool PelorinCThreadMonListMon::WaitIdleMessage(BOOL value, DWORD milliseconds) {
  std::unique_lock<CriticalSection> lock(m_idleLock);
  return m_idleChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [&] { return (m_idle != 0) == (value != 0); });
}

void PelorinCThreadMonListMon::SetShowCurrentOnly(BOOL show) {
  CriticalSectionLock lock(m_showCurrentLock);
  m_showCurrentOnly = show;
}

BOOL PelorinCThreadMonListMon::IsShowCurrentOnly() {
  CriticalSectionLock lock(m_showCurrentLock);
  return m_showCurrentOnly;
}

void PelorinCThreadMonListMon::SetDeleteAll(BOOL deleteAll) {
  CriticalSectionLock lock(m_deleteAllLock);
  m_deleteAll = deleteAll;
}

BOOL PelorinCThreadMonListMon::IsDeleteAll() {
  CriticalSectionLock lock(m_deleteAllLock);
  return m_deleteAll;
}

void PelorinCThreadMonListMon::SetLog(BOOL log) {
  CriticalSectionLock lock(m_logFlagsLock);
  m_logging = log;
}

BOOL PelorinCThreadMonListMon::IsLog() {
  CriticalSectionLock lock(m_logFlagsLock);
  return m_logging;
}

void PelorinCThreadMonListMon::SetLogLast(BOOL last) {
  CriticalSectionLock lock(m_logFlagsLock);
  m_logLast = last;
}

BOOL PelorinCThreadMonListMon::IsLogLast() {
  CriticalSectionLock lock(m_logFlagsLock);
  return m_logLast;
}

// --- states ---

std::string PelorinCThreadMonListMon::GetTcpState(DWORD state) {
  switch (state) {
    case MIB_TCP_STATE_CLOSED: return "Closed";
    case MIB_TCP_STATE_LISTEN: return "Listen";
    case MIB_TCP_STATE_SYN_SENT: return "Syn Sent";
    case MIB_TCP_STATE_SYN_RCVD: return "Syn Rcvd";
    case MIB_TCP_STATE_ESTAB: return "Connected";
    case MIB_TCP_STATE_FIN_WAIT1: return "Fin Wait1";
    case MIB_TCP_STATE_FIN_WAIT2: return "Fin Wait2";
    case MIB_TCP_STATE_CLOSE_WAIT: return "Close Wait";
    case MIB_TCP_STATE_CLOSING: return "Closing";
    case MIB_TCP_STATE_LAST_ACK: return "Ack";
    case MIB_TCP_STATE_TIME_WAIT: return "Time Wait";
    case MIB_TCP_STATE_DELETE_TCB: return "Delete";
    default: return kDisconnectText;
  }
}

std::string PelorinCThreadMonListMon::GetUdpState(const MIB_UDPROW*, const _MonListMonItemData* record) {
  if (record && record->state == kStateDisconnected) return kDisconnectText;
  return "Listen";
}

void PelorinCThreadMonListMon::ShutdownTcpProcesses(const MIB_TCPTABLE_EX* table, DWORD processId) {
  if (!table || !m_setTcpEntry) return;
  const MIB_TCPROW_EX* rows = table->table;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    if (rows[i].dwProcessId != processId) continue;
    MIB_TCPROW row{MIB_TCP_STATE_DELETE_TCB, rows[i].dwLocalAddr, rows[i].dwLocalPort, rows[i].dwRemoteAddr,
                   rows[i].dwRemotePort};
    m_setTcpEntry(&row);
  }
}

// --- thread messages and the idle loop ---

bool PelorinCThreadMonListMon::PreTranslateMessage(const ThreadMessage& message) {
  switch (message.message) {
    case WM_PELORIN_START_SCAN: Start(""); return true;
    case WM_PELORIN_STOP_SCAN: Stop(); return true;
    case WM_PELORIN_DELETE_ALL: ListDeleteAll(); return true;
    case WM_PELORIN_LOAD_LAST_LOG: LoadLastLog(); return true;
    case kLogFlushMessage: LogFlushWhenDue(); return true;
    default: return PelorinCThread::PreTranslateMessage(message);
  }
}

bool PelorinCThreadMonListMon::OnIdle(long) {
  // Scanning off or closing: idle processing ends and the thread sleeps until a message comes.
  if (!GetIdleMessage() || IsClose()) return false;
  const auto now = std::chrono::steady_clock::now();
  if (!m_passDue && now < m_nextPass) {
    // The rest of the interval; a posted message or a close cuts it short.
    Pause(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(m_nextPass - now).count()));
    return true;
  }
  m_passDue = false;
  RunPass();
  m_nextPass = std::chrono::steady_clock::now() + std::chrono::milliseconds(GetScan());
  return true;
}

bool PelorinCThreadMonListMon::ScanPass() {
  if (GetIdleMessage()) return false;
  RunPass();
  return true;
}

bool PelorinCThreadMonListMon::Stopping() { return IsClose() || IsEnding(); }

// --- one pass ---

void PelorinCThreadMonListMon::RunPass() {
  std::lock_guard<std::mutex> pass(m_passLock);
  if (!m_list || !m_list->IsCreated() || Stopping()) return;
  m_passTime = Now();
  m_names.clear();
  const bool names = HasExtendedTcp() || HasExtendedUdp();
  // One process snapshot serves every name looked up in this pass.
  if (names) m_list->ProcessSnapshotTake();
  LogGather(true);
  // Both families in one table per protocol: a pass that cannot read either leaves the rows be.
  if (m_tables.FetchTcp(&m_endpoints) && m_tables.AppendTcp6(&m_endpoints) &&
      SetState(Protocol::Tcp, m_endpoints, &m_tcpIndex))
    SetTable(Protocol::Tcp, m_endpoints, &m_tcpIndex, HasExtendedTcp());
  if (!Stopping() && m_tables.FetchUdp(&m_endpoints) && m_tables.AppendUdp6(&m_endpoints) &&
      SetState(Protocol::Udp, m_endpoints, &m_udpIndex))
    SetTable(Protocol::Udp, m_endpoints, &m_udpIndex, HasExtendedUdp());
  if (names) m_list->ProcessSnapshotClose();
  m_names.clear();
  // Every record of the pass reaches the file before the next one starts.
  LogGather(false);
  m_passCount.fetch_add(1);
}

void PelorinCThreadMonListMon::CheckCleared() {
  const std::uint64_t clears = m_list->ClearCount();
  if (clears == m_seenClears) return;
  // The rows were cleared (and their records freed) since the index was built.
  m_seenClears = clears;
  m_tcpIndex.Clear();
  m_udpIndex.Clear();
}

int PelorinCThreadMonListMon::FindRow(EndpointIndex::Entry* entry) {
  if (m_list->GetItemData(entry->row) == entry->record) return entry->row;
  const int count = m_list->GetItemCount();
  for (int row = 0; row < count; ++row) {
    if (m_list->GetItemData(row) == entry->record) {
      entry->row = row;
      return row;
    }
  }
  return -1;
}

std::string PelorinCThreadMonListMon::ProcessName(DWORD processId) {
  auto it = m_names.find(processId);
  if (it != m_names.end()) return it->second;
  std::string name = m_list->ProcessGetName(processId, nullptr);
  m_names.emplace(processId, name);
  return name;
}

const std::string& PelorinCThreadMonListMon::DateText(std::uint32_t time) {
  if (m_dateText.empty() || time != m_dateTime) {
    m_dateText = FormatLocalTime(static_cast<std::time_t>(time), kTimeFormat);
    m_dateTime = time;
  }
  return m_dateText;
}

void PelorinCThreadMonListMon::FreeRowRecord(_MonListMonItemData* record) {
  if (!record) return;
  CoTaskMemFree(record->logLink);
  CoTaskMemFree(record);
}

_MonListMonItemData* PelorinCThreadMonListMon::NewRecord(Protocol protocol, const Endpoint& endpoint,
                                                         std::uint32_t time, bool logged) {
  auto* record = CoTaskMemNew<_MonListMonItemData>();
  if (!record) return nullptr;
  // A UDP row is listening (1), also when it is rebuilt from a disconnect record: its status
  // text says "Disconnect", its record does not mark it gone.
  record->state = protocol == Protocol::Tcp ? endpoint.state : 1;
  record->localAddr = endpoint.localAddr;
  record->localPort = endpoint.localPort;
  record->remoteAddr = protocol == Protocol::Tcp ? endpoint.remoteAddr : 0;
  record->remotePort = protocol == Protocol::Tcp ? endpoint.remotePort : 0;
  record->connectTime = time;
  if (endpoint.family == AF_INET6) {
    record->family = AF_INET6;
    std::memcpy(record->localAddr6, endpoint.localAddr6.data(), 16);
    record->localScopeId = endpoint.localScopeId;
    if (protocol == Protocol::Tcp) {
      std::memcpy(record->remoteAddr6, endpoint.remoteAddr6.data(), 16);
      record->remoteScopeId = endpoint.remoteScopeId;
    }
  }
  if (auto* link = CoTaskMemNew<_MonListMonLogLink>()) {
    link->rowSequence = static_cast<std::uint32_t>(m_list->GetRowCounter());
    link->logRecordNumber = logged ? m_recordCounter.load() : 0;
    record->logLink = link;
  }
  return record;
}

bool PelorinCThreadMonListMon::SetState(Protocol protocol, const std::vector<Endpoint>& endpoints,
                                        EndpointIndex* index) {
  const bool tcp = protocol == Protocol::Tcp;
  const std::string type = TypeText(tcp, false);
  const std::string type6 = TypeText(tcp, true);
  m_present.clear();
  m_present.reserve(endpoints.size());
  for (const Endpoint& e : endpoints) m_present.insert(EndpointKey::Of(e, tcp));
  const bool showCurrentOnly = IsShowCurrentOnly();
  const bool logging = IsLog();
  const bool extended = tcp ? HasExtendedTcp() : HasExtendedUdp();
  index->Clear();
  index->Reserve(endpoints.size());
  // One walk from the top: rows whose endpoint has gone are marked (or removed), the others
  // are indexed, the first row of an endpoint winning as a walk from the top finds it.
  for (int row = 0;;) {
    if (Stopping()) return false;
    PendingRecord pending;
    bool write = false;
    {
      std::lock_guard<std::recursive_mutex> lock(m_list->RecordsLock());
      CheckCleared();
      if (row >= m_list->GetItemCount()) break;
      auto* record = static_cast<_MonListMonItemData*>(m_list->GetItemData(row));
      const std::string rowType = record ? m_list->GetItemText(row, kType) : std::string();
      if (!record || (rowType != type && rowType != type6)) {
        ++row;
        continue;
      }
      const EndpointKey key = EndpointKey::Of(*record, tcp);
      if (m_present.count(key) != 0) {
        index->AddFirst(key, record, row);
        ++row;
        continue;
      }
      // Gone: the row's time becomes the last pass that found it missing. Only the first such
      // pass marks the row and logs its disconnect, with the span since the connect.
      const std::int64_t elapsed = std::max<std::int64_t>(0, std::int64_t{m_passTime} - record->connectTime);
      record->connectTime = m_passTime;
      if (record->state != kStateDisconnected) {
        record->state = kStateDisconnected;
        if (logging) {
          FillLogData(*record, &pending);
          pending.data.base.elapsed = static_cast<std::uint32_t>(elapsed);
          if (extended) SetFieldTextFull(pending.data.base.processName, m_list->GetItemText(row, kName));
          pending.localAddr = HeaderAddress(m_list->GetItemText(row, kLocalAddr));
          pending.remoteAddr = HeaderAddress(m_list->GetItemText(row, kRemoteAddr));
          pending.time = FormatLocalTime(static_cast<std::time_t>(m_passTime), kTimeFormatLongYear);
          pending.typeText = TypeText(tcp, record->family == AF_INET6);
          write = true;
        }
        if (!showCurrentOnly) m_list->SetItemText(row, kStatus, kDisconnectText);
      }
      if (showCurrentOnly) {
        m_list->FreeItemData(row);
        m_list->DeleteItem(row);  // the next row moves up to this index
      } else {
        index->AddFirst(key, record, row);
        ++row;
      }
    }
    if (write) WritePending(pending);
  }
  return true;
}

void PelorinCThreadMonListMon::SetTable(Protocol protocol, const std::vector<Endpoint>& endpoints,
                                        EndpointIndex* index, bool extended) {
  const bool tcp = protocol == Protocol::Tcp;
  // Rows already shown first: no row is inserted meanwhile, so the walk's row hints hold.
  m_deferred.clear();
  for (std::size_t i = 0; i < endpoints.size(); ++i) {
    if (Stopping()) return;
    const Endpoint& e = endpoints[i];
    const EndpointKey key = EndpointKey::Of(e, tcp);
    std::lock_guard<std::recursive_mutex> lock(m_list->RecordsLock());
    CheckCleared();
    if (EndpointIndex::Entry* entry = index->Find(key)) {
      const int row = FindRow(entry);
      if (row >= 0) {
        SetRow(protocol, row, e, entry->record, false, false, 0, 0, extended);
        continue;
      }
      index->Erase(key);
    }
    m_deferred.push_back(i);
  }
  // Then the new endpoints, in table order, so rows and connect records follow the table.
  const bool logging = IsLog();
  for (std::size_t i : m_deferred) {
    if (Stopping()) return;
    const Endpoint& e = endpoints[i];
    const EndpointKey key = EndpointKey::Of(e, tcp);
    const std::string name = extended ? ProcessName(e.processId) : std::string(kNoNameText);
    const int image = extended ? m_list->GetAppIcon(name, m_list->GetRowCounter(), e.processId) : -1;
    PendingRecord pending;
    bool write = false;
    {
      std::lock_guard<std::recursive_mutex> lock(m_list->RecordsLock());
      CheckCleared();
      if (EndpointIndex::Entry* entry = index->Find(key)) {
        // The same endpoint twice in one table: the row made for the first one.
        const int row = FindRow(entry);
        if (row >= 0) {
          SetRow(protocol, row, e, entry->record, false, false, 0, 0, extended);
          continue;
        }
        index->Erase(key);
      }
      _MonListMonItemData* record = NewRecord(protocol, e, m_passTime, logging);
      const int row =
          m_list->InsertItem(m_list->GetRowCounter(), name, image, reinterpret_cast<DWORD_PTR>(record));
      if (row < 0) {
        FreeRowRecord(record);
        continue;
      }
      if (record) index->Set(key, record, row);
      SetRow(protocol, row, e, record, true, false, m_passTime, 0, extended);
      if (logging && record) {
        FillLogData(*record, &pending);
        if (extended) SetFieldTextFull(pending.data.base.processName, name);
        pending.localAddr = HeaderAddress(LocalText(*record));
        pending.remoteAddr = tcp ? HeaderAddress(RemoteText(*record)) : std::string();
        pending.time = DateText(m_passTime);
        pending.typeText = TypeText(tcp, record->family == AF_INET6);
        write = true;
      }
      m_list->IncreaseRowCounter();
    }
    if (write) WritePending(pending);
  }
}

void PelorinCThreadMonListMon::SetRow(Protocol protocol, int row, const Endpoint& e, _MonListMonItemData* record,
                                      bool isNew, bool fromLog, std::uint32_t time, std::uint32_t span,
                                      bool extended) {
  const bool tcp = protocol == Protocol::Tcp;
  const std::uint32_t now = m_passTime;
  const bool ipv6 = e.family == AF_INET6;
  if (isNew) m_list->SetItemText(row, kType, TypeText(tcp, ipv6));
  std::string status;
  if (tcp)
    status = GetTcpState(e.state);
  else if (isNew)
    status = e.state == kStateDisconnected ? kDisconnectText : "Listen";
  else
    status = GetUdpState(nullptr, record);
  m_list->SetItemText(row, kStatus, status);
  if (isNew) {
    const std::string local = LocalText(e), remote = tcp ? RemoteText(e) : std::string();
    if (ipv6) m_list->WidenAddressColumns(std::max(local.size(), remote.size()));
    m_list->SetItemText(row, kLocalAddr, local);
    m_list->SetItemText(row, kLocalPort, std::to_string(e.localPort));
    if (tcp) {
      m_list->SetItemText(row, kRemoteAddr, remote);
      m_list->SetItemText(row, kRemotePort, std::to_string(e.remotePort));
    }
  }
  std::int64_t elapsed = 0;
  if (fromLog)
    elapsed = span;
  else if (!isNew && record)
    elapsed = std::int64_t{now} - record->connectTime;
  if (fromLog || status != kDisconnectText) m_list->SetItemText(row, kElapsed, FormatSpan(elapsed));
  // A row whose endpoint is seen again: same row, its time restarts, no new connect record. Its
  // texts above still come from the record as the disconnect left it; the next pass shows the
  // reconnected state and the restarted time.
  if (!isNew && !fromLog && record && record->state == kStateDisconnected) {
    record->state = tcp ? e.state : 1;
    record->connectTime = now;
  }
  if (isNew || fromLog) m_list->SetItemText(row, kDateTime, DateText(fromLog ? time : now));
  if (extended && !fromLog) m_list->SetItemText(row, kProcessId, std::to_string(e.processId));
}

void PelorinCThreadMonListMon::WritePending(const PendingRecord& record) {
  LogWrite(&record.data, record.length, record.localAddr.c_str(), record.remoteAddr.c_str(),
           record.time.c_str(), record.typeText, nullptr);
}

void PelorinCThreadMonListMon::ListDeleteAll() {
  if (m_list) m_list->ListDeleteAll();
  SetDeleteAll(0);
  if (IsClose()) return;
  CriticalSectionLock lock(m_logLock);
  const bool wasOpen = m_logOpen;
  m_file.DiscardPending();  // the file is emptied anyway
  m_file.Close();
  const bool emptied = m_file.Open(m_logName, ConnectLogFile::Mode::Truncate);
  if (emptied && !wasOpen) m_file.Close();
  m_logOpen = emptied && wasOpen;
}

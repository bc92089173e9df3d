// The connection log of the connections scanner: appending connect and disconnect records,
// reading them back, and rebuilding the list from them.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

#include <sys/socket.h>

#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/LogRecMarker.h"
#include "common/LogRecMarkerConnect.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "platform/AppProfile.h"

namespace {

constexpr std::size_t kHeaderBytes = sizeof(_LogRecMarkerConnect);  // 108
constexpr LONG kLoadBuffer = 65535;                                  // bytes of one record's data

bool HasMarker(const _LogRecMarkerConnect& header) { return GetFieldText(header.marker) == kLogRecordMarker; }

bool IsIpv6Type(const std::string& type) { return type == "TCP6" || type == "UDP6"; }

// The header's address texts; an IPv6 record whose text did not fit its field has it from the
// record's data (nothing when the data is too short to hold the address).
void AddressTexts(const _LogRecMarkerConnect& header, const unsigned char* data, std::size_t bytes,
                  std::string* localAddr, std::string* remoteAddr) {
  if (localAddr) *localAddr = GetFieldText(header.localAddr);
  if (remoteAddr) *remoteAddr = GetFieldText(header.remoteAddr);
  const std::string type = GetFieldText(header.typeText);
  if (!IsIpv6Type(type)) return;
  if (localAddr && localAddr->empty() && bytes >= offsetof(_MonListMonLogData6, localScopeId))
    *localAddr = Inet6Ntop(data + offsetof(_MonListMonLogData6, localAddr));
  if (remoteAddr && remoteAddr->empty() && type == "TCP6" && bytes >= offsetof(_MonListMonLogData6, remoteScopeId))
    *remoteAddr = Inet6Ntop(data + offsetof(_MonListMonLogData6, remoteAddr));
}

}  // namespace

std::string PelorinCThreadMonListMon::LogGet() {
  if (!m_application) return kDefaultLogName;
  return m_application->GetProfileString("", "IpConnectLogCurrent", kDefaultLogName);
}

LONG PelorinCThreadMonListMon::LogUseCurrent(int reopen) {
  const std::string name = LogGet();
  CriticalSectionLock lock(m_logLock);
  m_logName = name;
  // An open log moves to the named file; a closed one only takes the name unless asked to open.
  if (m_logOpen || reopen) {
    LogCloseLocked();
    m_logOpen = m_file.Open(m_logName, ConnectLogFile::Mode::Append);
  }
  return 0;
}

void PelorinCThreadMonListMon::LogCloseLocked() {
  LogFlushLocked();
  m_file.Close();
  m_logOpen = false;
}

bool PelorinCThreadMonListMon::LogFlushLocked() {
  const std::size_t gathered = m_file.PendingRecords();
  if (gathered == 0 || m_file.Flush()) return true;
  const DWORD counter = m_recordCounter.load();
  const DWORD kept = counter > gathered ? counter - static_cast<DWORD>(gathered) : 0;
  m_recordCounter.store(kept);
  if (!m_list) return false;
  // The lost records were numbered kept .. counter - 1; the next records take those numbers.
  std::lock_guard<std::recursive_mutex> records(m_list->RecordsLock());
  const int count = m_list->GetItemCount();
  for (int row = 0; row < count; ++row) {
    auto* record = reinterpret_cast<_MonListMonItemData*>(m_list->GetItemData(row));
    if (!record || !record->logLink) continue;
    const DWORD number = record->logLink->logRecordNumber;
    if (number >= kept && number < counter) record->logLink->logRecordNumber = 0;
  }
  return false;
}

void PelorinCThreadMonListMon::LogFlush() {
  CriticalSectionLock lock(m_logLock);
  LogFlushLocked();
}

void PelorinCThreadMonListMon::LogGather(bool gather) {
  CriticalSectionLock lock(m_logLock);
  m_gathering = gather;
  if (!gather) LogFlushLocked();
}

BOOL PelorinCThreadMonListMon::IsLogOpen() {
  CriticalSectionLock lock(m_logLock);
  return m_logOpen ? 1 : 0;
}

std::string PelorinCThreadMonListMon::LogName() {
  CriticalSectionLock lock(m_logLock);
  return m_logName;
}

LONG PelorinCThreadMonListMon::LogWrite(const void* data, LONG length, const char* localAddr, const char* remoteAddr,
                                        const char* time, const char* typeText, DWORD* position) {
  if (length > kMaxLogData || length < 0 || (length > 0 && !data)) return 0;
  if (!IsLog()) return 0;
  _LogRecMarkerConnect header{};
  SetFieldText(header.marker, kLogRecordMarker);
  SetFieldText(header.localAddr, localAddr ? localAddr : "");
  SetFieldText(header.remoteAddr, remoteAddr ? remoteAddr : "");
  SetFieldText(header.time, time ? time : "");
  SetFieldText(header.typeText, typeText ? typeText : "");
  header.dataLength = length;
  header.recordLength = length + static_cast<LONG>(kHeaderBytes);
  header.cr = 0x0D;
  header.lf = 0x0A;

  bool wake = false;
  {
    CriticalSectionLock lock(m_logLock);
    if (!m_logOpen) return 0;
    const std::size_t offset = m_file.PendingBytes();
    if (!m_file.AppendRecord(&header, kHeaderBytes, data, static_cast<std::size_t>(length))) return 0;
    // Counted as gathered; a failed write takes the count back (LogFlushLocked).
    m_recordCounter.fetch_add(1);
    if (position) {
      // A record's position is fixed when it is written (two writers may share the file): a
      // caller who asks for it has the record written now.
      if (!LogFlushLocked()) return 0;
      *position = static_cast<DWORD>(m_file.LastBlockPosition() + offset);
    } else if (m_file.IsBlockFull()) {
      // Records are gathered and written in blocks: when a block is full, at the end of a pass,
      // before any read, when the log closes and, outside a pass, once the block's first record
      // is kLogMaxAge old (at the next write, or by this thread, which is woken for it).
      LogFlushLocked();
    } else if (!m_gathering) {
      if (m_file.IsDue(std::chrono::steady_clock::now(), kLogMaxAge)) LogFlushLocked();
      else wake = offset == 0;
    }
  }
  if (wake && !m_flushAsked.exchange(true)) PostThreadMessage(kLogFlushMessage);
  return length;
}

void PelorinCThreadMonListMon::LogFlushWhenDue() {
  m_flushAsked.store(false);
  std::chrono::milliseconds wait{0};
  {
    CriticalSectionLock lock(m_logLock);
    if (m_file.PendingBytes() == 0) return;
    const auto age = std::chrono::steady_clock::now() - m_file.PendingSince();
    if (age < kLogMaxAge) wait = std::chrono::ceil<std::chrono::milliseconds>(kLogMaxAge - age);
  }
  // A posted message or the end of the thread cuts the wait short; the block is written then.
  if (wait.count() > 0) Pause(static_cast<DWORD>(wait.count()));
  LogFlush();
}

LONG PelorinCThreadMonListMon::LogReadNext(LONG* position, void* buffer, LONG size, std::string* localAddr,
                                           std::string* remoteAddr, std::string* time, std::string* typeText) {
  CriticalSectionLock lock(m_logLock);
  LogFlushLocked();
  return ReadNextLocked(position, buffer, size, localAddr, remoteAddr, time, typeText);
}

LONG PelorinCThreadMonListMon::ReadNextLocked(LONG* position, void* buffer, LONG size, std::string* localAddr,
                                              std::string* remoteAddr, std::string* time, std::string* typeText) {
  if (!m_file.IsOpen()) return 0;
  for (;;) {
    _LogRecMarkerConnect header{};
    // A short header, a wrong marker or a data length no writer makes ends the read here,
    // before anything of the damaged record reaches the outputs.
    if (m_file.Read(&header, kHeaderBytes) < kHeaderBytes || !HasMarker(header)) return -1;
    if (header.dataLength < 0 || header.dataLength > kMaxLogData) return -1;
    const std::uint64_t length = static_cast<std::uint64_t>(header.dataLength);
    // Only what fits the caller's buffer is read into it; the rest is passed over. An IPv6
    // record's addresses may be wanted from its data: its first bytes are kept for them.
    const std::uint64_t wanted =
        buffer ? std::min<std::uint64_t>(length, static_cast<std::uint64_t>(std::max<LONG>(size, 0))) : 0;
    const bool keepFront = (localAddr || remoteAddr) && IsIpv6Type(GetFieldText(header.typeText));
    _MonListMonLogData6 front{};
    auto* frontBytes = reinterpret_cast<unsigned char*>(&front);
    const std::uint64_t kept = keepFront ? std::min<std::uint64_t>(length, sizeof front) : 0;
    if (wanted > 0 && m_file.Read(buffer, static_cast<std::size_t>(wanted)) < wanted) return -1;
    if (kept > 0 && wanted > 0) std::memcpy(frontBytes, buffer, static_cast<std::size_t>(std::min(kept, wanted)));
    std::uint64_t done = wanted;
    if (kept > done) {
      if (m_file.Read(frontBytes + done, static_cast<std::size_t>(kept - done)) < kept - done) return -1;
      done = kept;
    }
    // A record cut short by the end of the file ends the read.
    if (m_file.Skip(length - done) < length - done) return -1;
    const LONG copied = static_cast<LONG>(wanted);
    if (position) *position = static_cast<LONG>(header.position);
    AddressTexts(header, frontBytes, static_cast<std::size_t>(kept), localAddr, remoteAddr);
    if (time) *time = GetFieldText(header.time);
    if (typeText) *typeText = GetFieldText(header.typeText);
    // Without a buffer the walk goes on to the end, leaving the last record's outputs.
    if (buffer) return copied;
  }
}

LONG PelorinCThreadMonListMon::LogRead(LONG position, void* buffer, LONG size, std::string* localAddr,
                                       std::string* remoteAddr, std::string* time, std::string* typeText) {
  CriticalSectionLock lock(m_logLock);
  if (!m_file.IsOpen() || !buffer || size < 1 || position < 0) return -1;
  LogFlushLocked();
  const std::uint64_t saved = m_file.Tell();
  m_file.Seek(static_cast<std::uint64_t>(position));
  LONG result = -1;
  for (;;) {
    _LogRecMarkerConnect header{};
    if (m_file.Read(&header, kHeaderBytes) < kHeaderBytes || !HasMarker(header)) break;
    if (header.dataLength < 0 || header.dataLength > kMaxLogData) break;
    const std::uint64_t length = static_cast<std::uint64_t>(header.dataLength);
    if (header.position != static_cast<std::uint32_t>(position)) {
      // A record stored under another position is passed over and the search goes on.
      if (m_file.Skip(length) < length) break;
      continue;
    }
    // The whole data is read, so that an IPv6 record's addresses are at hand for its texts.
    std::vector<unsigned char> data(static_cast<std::size_t>(length));
    if (m_file.Read(data.data(), data.size()) < data.size()) break;
    const std::uint64_t wanted = std::min<std::uint64_t>(length, static_cast<std::uint64_t>(size));
    if (wanted > 0) std::memcpy(buffer, data.data(), static_cast<std::size_t>(wanted));  // no data: nothing to copy
    AddressTexts(header, data.data(), data.size(), localAddr, remoteAddr);
    if (time) *time = GetFieldText(header.time);
    if (typeText) *typeText = GetFieldText(header.typeText);
    result = static_cast<LONG>(wanted);
    break;
  }
  m_file.Seek(saved);
  return result;
}

LONG PelorinCThreadMonListMon::LogGetMaxRecNum() {
  CriticalSectionLock lock(m_logLock);
  bool openedHere = false;
  if (!m_file.IsOpen()) {
    if (m_logName.empty() || !m_file.Open(m_logName, ConnectLogFile::Mode::ReadOnly)) return 0;
    openedHere = true;
  }
  LogFlushLocked();
  const std::uint64_t saved = m_file.Tell();
  m_file.Seek(0);
  LONG last = 0;
  ReadNextLocked(&last, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
  m_file.Seek(saved);
  if (openedHere) m_file.Close();
  return last;
}

void PelorinCThreadMonListMon::LoadLastLog() {
  LONG counter = LogGetMaxRecNum();
  if (counter > 0) counter += 1;
  std::lock_guard<std::mutex> pass(m_passLock);  // no scan pass meanwhile
  CriticalSectionLock lock(m_logLock);
  bool openedHere = false;
  if (!m_file.IsOpen() && !m_logName.empty()) openedHere = m_file.Open(m_logName, ConnectLogFile::Mode::ReadOnly);
  if (!m_file.IsOpen() || !m_list || !m_list->IsCreated()) {
    // No log to read: the list stays as it was.
    SetLogLast(0);
    return;
  }
  // Rows go in file order: the list stops sorting by name and may select several rows.
  const DWORD visible = m_list->GetStyle() & WS_VISIBLE;
  m_list->SetStyle(PelorinCListView::kListStyle);
  m_list->ListDeleteAll();
  m_list->ListUnSelectAll(-1);
  m_list->SetStyle(PelorinCListView::kListStyle | visible);

  m_passTime = static_cast<std::uint32_t>(std::time(nullptr));
  std::vector<unsigned char> buffer(kLoadBuffer);
  std::string typeText;
  m_file.Seek(0);
  for (;;) {
    if (Stopping()) break;
    const LONG read = ReadNextLocked(nullptr, buffer.data(), kLoadBuffer, nullptr, nullptr, nullptr, &typeText);
    if (read <= 0) break;
    const bool tcp = typeText == "TCP" || typeText == "TCP6";
    const bool ipv6 = IsIpv6Type(typeText);
    if (!tcp && !ipv6 && typeText != "UDP") continue;
    // Bytes the record does not carry read as zero, never as an earlier record's.
    _MonListMonLogData6 data6{};
    std::memcpy(&data6, buffer.data(),
                std::min<std::size_t>(static_cast<std::size_t>(read), ipv6 ? sizeof data6 : sizeof data6.base));
    const _MonListMonLogData& data = data6.base;
    const Protocol protocol = tcp ? Protocol::Tcp : Protocol::Udp;
    Endpoint endpoint{data.state, data.localAddr, data.localPort, tcp ? data.remoteAddr : 0, tcp ? data.remotePort : 0, 0};
    if (ipv6) {
      endpoint.localAddr = endpoint.remoteAddr = 0;
      endpoint.family = AF_INET6;
      std::memcpy(endpoint.localAddr6.data(), data6.localAddr, 16);
      endpoint.localScopeId = data6.localScopeId;
      if (tcp) {
        std::memcpy(endpoint.remoteAddr6.data(), data6.remoteAddr, 16);
        endpoint.remoteScopeId = data6.remoteScopeId;
      }
    }
    const std::string name = GetFieldText(data.processName);
    std::lock_guard<std::recursive_mutex> records(m_list->RecordsLock());
    _MonListMonItemData* record = NewRecord(protocol, endpoint, data.time, false);
    const int row = m_list->InsertItem(m_list->GetRowCounter(), name, -1, reinterpret_cast<DWORD_PTR>(record));
    if (row < 0) {
      FreeRowRecord(record);
      continue;
    }
    SetRow(protocol, row, endpoint, record, true, true, data.time, data.elapsed, false);
    m_list->IncreaseRowCounter();
  }
  m_recordCounter.store(static_cast<DWORD>(counter));
  if (openedHere) m_file.Close();
  SetLogLast(0);
}

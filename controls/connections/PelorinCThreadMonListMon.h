#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/MonListMonItemData.h"
#include "common/Messages.h"
#include "common/MonListMonLogData.h"
#include "common/MonListMonLogData6.h"
#include "common/WinTypes.h"
#include "controls/connections/ConnectLogFile.h"
#include "controls/connections/ConnectionTables.h"
#include "controls/connections/EndpointIndex.h"
#include "controls/framework/PelorinCThread.h"
#include "platform/CriticalSection.h"
#include "platform/IpHelper.h"

class AppProfile;
class MonListMon;

// The worker of the connections pane. Once per scan interval it fetches the machine's TCP and
// UDP endpoint tables, adds a row for every endpoint not yet shown, refreshes the rows already
// shown, marks (or removes) the rows whose endpoint has gone, names the owning processes, and
// writes a connect and a disconnect record per endpoint to the connection log
// ("PelorinProLogConnect.rec"), which it can also read back into the list.
//
// The list posts its commands as thread messages (start and stop scanning, clear, reload the
// log). While scanning is off the thread only waits for them.
class PelorinCThreadMonListMon : public PelorinCThread {
 public:
  static constexpr char kDefaultLogName[] = "PelorinProLogConnect.rec";
  static constexpr LONG kMaxLogData = 0xFFFF;  // bytes of data one record may carry
  // The longest a record written outside a pass waits in memory before it reaches the file.
  static constexpr std::chrono::milliseconds kLogMaxAge{20};

  // Runs the initialisation once here (entry points, log, logging flag), creates the platform
  // thread and lets it run; it stays idle until told to scan.
  PelorinCThreadMonListMon(MonListMon* list, AppProfile* application);
  ~PelorinCThreadMonListMon() override;

  // Scanning on: the list sorts new rows by process name again. Does not resume the thread.
  LONG Start(const char* text) override;
  // Scanning off.
  void Stop() override;

  void SetIdleMessage(BOOL idle);
  BOOL GetIdleMessage();
  // Waits up to milliseconds for the idle flag to take the value; true when it has it.
  bool WaitIdleMessage(BOOL value, DWORD milliseconds);
  void SetShowCurrentOnly(BOOL show);
  BOOL IsShowCurrentOnly();
  void SetDeleteAll(BOOL deleteAll);
  BOOL IsDeleteAll();
  void SetLog(BOOL log);
  BOOL IsLog();
  void SetLogLast(BOOL last);
  BOOL IsLogLast();

  // Clears the list and, unless the thread is closing, empties the connection log.
  void ListDeleteAll();
  BOOL IsCfgUpdate() { return 0; }

  static std::string GetTcpState(DWORD state);
  static std::string GetUdpState(const MIB_UDPROW* row, const _MonListMonItemData* record);
  // Tears down every connection of the table owned by the process.
  void ShutdownTcpProcesses(const MIB_TCPTABLE_EX* table, DWORD processId);

  // Whether the extended table calls (with owning process ids) were found.
  bool HasExtendedTcp() const { return m_tables.HasExtendedTcp(); }
  bool HasExtendedUdp() const { return m_tables.HasExtendedUdp(); }

  // One scan pass on the calling thread, for a scanner whose scanning is off (the worker makes
  // the passes while it is on: then nothing is done and false returned).
  bool ScanPass();
  // Scan passes made so far.
  std::uint64_t GetPassCount() const { return m_passCount.load(); }

  // --- connection log ---
  std::string LogGet();
  LONG LogUseCurrent(int reopen);
  // A record to append once the list is let go: IPv4 records carry the 84 bytes of
  // _MonListMonLogData, IPv6 ones all of _MonListMonLogData6.
  struct PendingRecord {
    _MonListMonLogData6 data{};
    LONG length = sizeof(_MonListMonLogData);
    std::string localAddr, remoteAddr, time;
    const char* typeText = "";
  };

  LONG LogWrite(const void* data, LONG length, const char* localAddr, const char* remoteAddr, const char* time,
                const char* typeText, DWORD* position);
  LONG LogReadNext(LONG* position, void* buffer, LONG size, std::string* localAddr, std::string* remoteAddr,
                   std::string* time, std::string* typeText);
  LONG LogRead(LONG position, void* buffer, LONG size, std::string* localAddr, std::string* remoteAddr,
               std::string* time, std::string* typeText);
  LONG LogGetMaxRecNum();
  void LoadLastLog();
  // Writes the records gathered in memory to the file (done at the end of every pass and
  // before every read of the log).
  void LogFlush();
  // Records written outside a pass: their block waits up to kLogMaxAge for more, then goes to
  // the file. The thread does it when woken by the first record of a block (kLogFlushMessage).
  void LogFlushWhenDue();
  // While on, records are gathered in memory (a scan pass); switching it off writes them.
  void LogGather(bool gather);
  BOOL IsLogOpen();
  std::string LogName();
  DWORD GetRecordCounter() const { return m_recordCounter.load(); }

 protected:
  bool InitInstance() override;
  int ExitInstance() override;
  bool PreTranslateMessage(const ThreadMessage& message) override;
  bool OnIdle(long count) override;

  MonListMon* List() const { return m_list; }

 private:
  // Private to this thread: the first record of a block written outside a pass asks for it to
  // be written once due.
  static constexpr std::uint32_t kLogFlushMessage = WM_USER + 362;

  using Endpoint = TableEndpoint;
  enum class Protocol { Tcp, Udp };

  void LoadEntryPoints();
  void RunPass();
  // Marks or removes the rows of the type whose endpoint is not in the table, and indexes the
  // others. False when the thread is closing.
  bool SetState(Protocol protocol, const std::vector<Endpoint>& endpoints, EndpointIndex* index);
  // Refreshes the rows of the table's endpoints, adding rows for new ones.
  void SetTable(Protocol protocol, const std::vector<Endpoint>& endpoints, EndpointIndex* index, bool extended);
  // The texts and record of one row, new or seen before, from the scan or from the log.
  void SetRow(Protocol protocol, int row, const Endpoint& endpoint, _MonListMonItemData* record, bool isNew,
              bool fromLog, std::uint32_t time, std::uint32_t span, bool extended);
  _MonListMonItemData* NewRecord(Protocol protocol, const Endpoint& endpoint, std::uint32_t time, bool logged);
  // The row holding the record (the hint first), or -1; fixes the hint.
  int FindRow(EndpointIndex::Entry* entry);
  // Called with the records lock held: forgets the indexes when the list was cleared meanwhile.
  void CheckCleared();
  static void FreeRowRecord(_MonListMonItemData* record);
  std::string ProcessName(DWORD processId);
  bool Stopping();
  void WritePending(const PendingRecord& record);
  const std::string& DateText(std::uint32_t time);

  LONG ReadNextLocked(LONG* position, void* buffer, LONG size, std::string* localAddr, std::string* remoteAddr,
                      std::string* time, std::string* typeText);
  void LogCloseLocked();
  // Writes what is gathered. When the write fails those records are not in the file: the record
  // counter goes back by them and the rows that were given their numbers lose them, so every
  // number still held names a record on disk.
  bool LogFlushLocked();

  MonListMon* m_list = nullptr;
  AppProfile* m_application = nullptr;
  std::atomic<bool> m_initialised{false};

  CriticalSection m_idleLock;
  BOOL m_idle = 0;
  std::condition_variable_any m_idleChanged;
  CriticalSection m_deleteAllLock;
  BOOL m_deleteAll = 0;
  CriticalSection m_showCurrentLock;
  BOOL m_showCurrentOnly = 0;
  CriticalSection m_logFlagsLock;  // the logging and log-last flags
  BOOL m_logging = 0;
  BOOL m_logLast = 0;

  HMODULE m_ipHelper = nullptr;
  ConnectionTables m_tables;
  PSetTcpEntry m_setTcpEntry = nullptr;
  FARPROC m_otherEntries[8] = {};  // looked up with the others, not used by the scanner

  // Scan state, touched by whichever thread runs the pass.
  std::mutex m_passLock;
  std::uint64_t m_seenClears = 0;
  EndpointIndex m_tcpIndex;
  EndpointIndex m_udpIndex;
  std::unordered_map<DWORD, std::string> m_names;  // process names of this pass
  std::vector<Endpoint> m_endpoints;
  std::unordered_set<EndpointKey, EndpointKeyHash> m_present;  // endpoints of the table in hand
  std::vector<std::size_t> m_deferred;  // table rows without a row yet
  std::uint32_t m_passTime = 0;  // s since 1970
  std::uint32_t m_dateTime = 0;
  std::string m_dateText;
  std::atomic<std::uint64_t> m_passCount{0};
  std::chrono::steady_clock::time_point m_nextPass{};
  bool m_passDue = true;  // scan at once (after a start)

  // Connection log, under m_logLock.
  CriticalSection m_logLock;
  ConnectLogFile m_file;
  bool m_logOpen = false;
  bool m_gathering = false;  // a pass is under way: its records are written at its end
  std::atomic<bool> m_flushAsked{false};  // kLogFlushMessage posted and not yet handled
  std::string m_logName;
  std::atomic<DWORD> m_recordCounter{0};  // written under m_logLock
};

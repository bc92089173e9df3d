#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/MillisClock.h"
#include "common/PelorinAdapterPacket.h"
#include "common/PelorinWinCapAdapter.h"
#include "common/PacketRowItem.h"
#include "common/WinTypes.h"
#include "controls/framework/PelorinCThread.h"
#include "controls/packets/CaptureCounts.h"
#include "controls/packets/PacketFilter.h"
#include "controls/packets/PacketFilterSet.h"
#include "controls/packets/PacketLogBuffer.h"
#include "controls/packets/PacketLogLock.h"
#include "platform/CriticalSection.h"
#include "ui/ListRow.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogFile.h"
#include "wincap/PacketLogSet.h"

class AppProfile;
class MonListIpMon;
class PelorinAdapter;

// The packet capture thread behind the packet pane. While capture runs, each idle turn reads one
// frame from the chosen interface without waiting, decodes its IPv4 and TCP/UDP/ICMP headers at
// fixed offsets, trims the payload to the log range, applies the filters and the Monitor
// Exclusive table, appends the frame to the packet log, adds one row to the pane and tells the
// feed and compare windows. While capture is stopped it can refill the pane from the log.
//
// Everything it does for a packet runs on this thread: the pane and the shell command it with
// thread messages (1380-1385) and its small locked accessors; the list control is written
// directly and windows are only posted to, by handle.
//
// The packet log. Records are gathered in 256 KiB batches that a writer thread of the log's own
// appends to the file (PacketLogBuffer), so the capture thread does not wait for the disk. Every
// reader still sees every record written before it:
//   - the log lock handed to the packet windows (GetLogLock) writes every batch out when it is
//     taken, so a seek-read-restore through GetLogFile under that lock finds every record;
//   - the thread's own readers (LogReadNext, LogRead, LogGetMaxRecNum, LoadLastLog), stopping
//     capture, and truncating or reopening the log write them out first;
//   - readers with their own file objects (log search, log pages) see the file at most about
//     20 ms behind: a batch goes to the writer on every idle turn that finds no packet and once
//     its first record is 20 ms old while packets flow.
// The capture thread's own appends take the lock without writing anything out.
//
// A long log rolls over into the numbered files of its set (PacketLogSet) at the file bound
// ("LogPktFileBytes", default 2 GiB), kept as a ring of "LogPktRingFiles" files and
// "LogPktRingMB" MB (0: no limit). A row carries the number of its record's file beside the
// record position; the thread's own file object follows the file being written.
//
// Locks, each guarding only its own fields, never two at once except that a page reload holds
// the log lock while it takes the idle lock to notify the windows: delete-all, filters (held
// while a packet is matched and while filters load), log, log-last, range, idle (capture flag,
// feed and compare windows; held while notifying them).
class MonListIpMonCWinThread : public PelorinCThread {
 public:
  static constexpr LONG kEthernetHeader = 14;  // bytes before the IPv4 header
  static constexpr int kMaxRows = 10000;
  static constexpr int kExclusiveEntries = 256;
  static constexpr LONG kReadBufferSize = PacketLogFile::kMaxDataLength;  // bytes, a page reload
  static constexpr char kDefaultLogName[] = "PelorinProLogPkt.rec";

  // One Monitor Exclusive entry: a conversation in one direction. Addresses in network byte
  // order: an IPv4 one in the first four bytes of its field, the rest zero.
  struct ExclusiveEntry {
    std::array<std::uint8_t, 16> source;
    std::uint32_t sourcePort;
    std::array<std::uint8_t, 16> destination;
    std::uint32_t destinationPort;
    bool ipv6;
    bool operator==(const ExclusiveEntry&) const = default;
  };

  // No owner: the state as listed, no platform thread (the log members work on the caller's
  // thread).
  MonListIpMonCWinThread();
  // Creates the platform thread and lets it run: it opens the log and waits with capture off.
  MonListIpMonCWinThread(MonListIpMon* owner, AppProfile* app);
  ~MonListIpMonCWinThread() override;

  // Capture on (message 1382): opens the adapter named in the profile and, when it opened,
  // restores arrival order in the pane, loads the filters and turns capture on. Always 0.
  LONG Start(const char* text) override;
  // Capture off (message 1383): closes the adapter and releases the filters.
  void Stop() override;
  // Shutdown: marks the thread closing and turns capture off on the capture thread.
  virtual void SetClose();

  // Shows one frame: decode, trim (live), filter and Monitor Exclusive (live), log (live, when
  // logging is on), add the row, notify the feed and compare windows. length is the captured
  // length and bounds every read of the frame.
  virtual void ShowPacketReceive(const std::uint8_t* frame, LONG length, const char* time, int fromLog,
                                 LONG position, LONG ipOffset);

  // --- adapter ---
  // Opens the adapter of the record; 1 when it opened, else 0 (no record, index -1, failure).
  int AdapterOpen(const _PelorinWinCapAdapter* adapter);
  int AdapterClose();  // 1 when an adapter was closed
  // The adapter record from "AdapterCurr", "AdapterCurrName", "AdapterCurrDesc" and the kernel
  // ring size in KiB from "CaptureBufferKB" (default 32768), then AdapterOpen. 0 when it opened,
  // E_FAIL when not.
  virtual LONG SocketStart();
  virtual void SocketStop();
  BOOL IsAdapterOpen() const { return m_adapterOpen.load(); }

  // --- decoding, at fixed offsets and bounded by the captured length ---
  void displayipReceive(const std::uint8_t* frame, LONG length, LONG ipOffset);
  void displaytcpReceive(const std::uint8_t* frame, LONG length, LONG ipOffset);
  void displayudpReceive(const std::uint8_t* frame, LONG length, LONG ipOffset);
  void displayicmpReceive(const std::uint8_t* frame, LONG length, LONG ipOffset);
  // The packet decoded last (capture thread).
  const DecodedPacket& Packet() const { return m_packet; }

  // Makes the row for the current packet with its eight texts and the item data (taken over:
  // freed here when the pane refuses the row) and appends it to the pane, at once or, in a burst,
  // with the burst's other rows. The status text follows the logging switch as
  // ShowPacketReceive read it for this packet.
  void ShowPacketReceivePack(LONG row, LONG, LONG, PacketRowItem* item, int fromLog);

  // --- Monitor Exclusive ---
  // Without lock; written while capture is stopped or about to start.
  void SetMonitorExclusive(int on) { m_monitorExclusive.store(on); }
  int GetMonitorExclusive() const { return m_monitorExclusive.load(); }
  // 1 when the current packet's conversation (this direction) is new and was added, 0 when it
  // was seen already. A full table clears the pane and starts again.
  int ApplyExclusive();
  int GetExclusiveCount() const { return m_exclusiveCount; }

  // Clears the pane (on this thread; message 1384 passes truncate 1): truncates the log when
  // asked and not closing, forgets the load-start position and empties the exclusive table.
  void ListDeleteAll(int truncate);

  // --- locked accessors ---
  void SetLog(int on) { m_logging.store(on); }
  int GetLog() const { return m_logging.load(); }
  void SetLogLast(int on);
  int IsLogLast();
  void SetDeleteAll(int request, int truncate);
  int IsDeleteAll();
  void SetIdleMessage(int on);
  // Non-zero exactly while capture runs.
  int GetIdleMessage();
  // The feed and compare windows to notify of every new row (by handle; kNoWindow = none).
  void SetFeedActive(HWND feed);
  BOOL IsFeedActive();
  void SetCompareActive(HWND compare);
  BOOL IsCompareActive();
  void ApplyFilters(int on);
  int GetApplyFilters();

  // --- filters (registry key "Filters" below the pane's registry path) ---
  // 1 when the current packet passes every filter in force, else 0.
  virtual int ApplyFilters();
  // Reads the stored filter set (counts and values, one snapshot of the store); the number of
  // filter items in force, or -1 when the key cannot be read (then no test is in force).
  virtual LONG LoadFiltersCounts();
  // Replaces the loaded filters with the stored ones under the filters lock. 0, or E_UNEXPECTED
  // when the key cannot be read (nothing loaded).
  virtual LONG LoadFilters();
  virtual void UnLoadFilters();
  int PacketMustContain();
  int PacketMustNotContain();
  bool FiltersLoaded();

  // --- packet log ---
  // "IpMonLogCurrent", default "PelorinProLogPkt.rec": the first file of the log's set.
  virtual std::string LogGet();
  // The file bound and the ring's limits from the profile, as the log is opened with them.
  PacketLogSet::Limits LogLimits() const;
  // Takes the ring's limits from the profile again for the open log; the next rollover applies
  // them.
  void LogApplyRing();
  // The number in the set of the file records are written to (0 while closed).
  std::uint32_t LogFileNumber();
  // Opens the log for appending when it is open or reopen is set. Always 0.
  virtual LONG LogUseCurrent(int reopen);
  BOOL IsLogOpen();
  // Appends a record; the data length, 0 when nothing was written (logging off, log not open,
  // a length outside 1..65535).
  LONG LogWrite(const void* data, LONG length, const char* source, const char* destination,
                const char* time, DWORD* position);
  // Appends a frame from a capture file to the log as live capture writes it: its addresses
  // decoded at the fixed offsets, the given time text, the whole frame. Logging need not be on
  // (the user asked for this); the data length, 0 when nothing was written (log not open, a
  // length outside 1..65535).
  LONG LogImport(const std::uint8_t* frame, LONG length, std::string_view time, DWORD* position);
  // Reads the record at the log's current position into buffer (any pointer may be null): the
  // bytes read; 0 when the log is not open; -1 for no valid record there, or a record longer
  // than size (the position is then left at that record). Without a buffer it walks to the end
  // and leaves position at the last record.
  LONG LogReadNext(LONG* position, void* buffer, LONG size, std::string* source,
                   std::string* destination, std::string* time);
  // Reads the record stored at position, copying at most size bytes; the file position is kept.
  LONG LogRead(LONG position, void* buffer, LONG size, std::string* source,
               std::string* destination, std::string* time);
  // The position of the last record; 0 for an empty or missing log.
  LONG LogGetMaxRecNum();
  LONG LogSetPageSize(LONG size);  // clamped to 25..10000
  LONG LogGetPageSize() const { return m_pageSize.load(); }
  void LogSetRange(DWORD start, DWORD end);
  void LogGetRange(DWORD* start, DWORD* end);
  // 0 only when both ends are negative.
  int IsLogRange();
  // Trims the current packet's payload to the log range: returns the frame to go on with (a
  // copy owned by the thread when trimmed) and sets *frameLength; the size and its text follow.
  const std::uint8_t* PacketSetRange(const std::uint8_t* frame, LONG ipOffset, DWORD* frameLength);
  // The position of the first record of the page the next reload shows, in file number file of
  // the set (kCurrentLogFile: the one being written); -1 = the first record of the set.
  static constexpr std::uint32_t kCurrentLogFile = 0xFFFFFFFF;
  void SetLoadStart(LONG position, std::uint32_t file = kCurrentLogFile) {
    m_loadStartFile.store(file);
    m_loadStart.store(position);
  }
  LONG GetLoadStart() const { return m_loadStart.load(); }
  // Refills the pane with one page of the log (message 1385), read on across the files of the
  // set.
  void LoadLastLog();

  // What the packet windows read the log through: the log lock (taking it writes out pending
  // records) and the thread's own file object, to be used only under that lock.
  PacketLogLock& GetLogLock() { return m_logLock; }
  PacketLogFile& GetLogFile() { return m_logFile; }

  // Counters (any thread): frames read from the adapter, rows added, and whether a capture file
  // being replayed has reached its end.
  std::uint64_t GetFramesRead() const { return m_framesRead.load(); }
  std::uint64_t GetRowsAdded() const { return m_rowsAdded.load(); }
  bool IsReplayDone() const { return m_replayDone.load(); }
  // The adapter's own counts: frames the kernel delivered and dropped, taken a few times a
  // second while capture runs and once more when it stops.
  void GetCaptureStats(std::uint32_t* received, std::uint32_t* dropped) const;
  // What the status bar shows (any thread): the figures since capture last started.
  CaptureCounts GetCaptureCounts() const;

 protected:
  // For a derived thread: the owner and profile as above, but no platform thread yet; the
  // derived constructor calls Launch once its own members are ready, since the thread's first
  // steps call the virtual members.
  struct Deferred {};
  MonListIpMonCWinThread(MonListIpMon* owner, AppProfile* app, Deferred);
  void Launch();

  bool InitInstance() override;
  int ExitInstance() override;
  bool OnIdle(long count) override;
  bool PreTranslateMessage(const ThreadMessage& message) override;

 private:
  AppProfile& Profile() const;
  void ClearExclusive();
  void AllocateExclusive();
  void UnLoadFiltersLocked();
  // LogWrite with the texts' lengths known, for a caller that has read the logging switch.
  LONG LogAppend(const void* data, LONG length, std::string_view source, std::string_view destination,
                 std::string_view time, DWORD* position);
  LONG LogAppendLocked(const void* data, LONG length, std::string_view source, std::string_view destination,
                       std::string_view time, DWORD* position);
  // The rows of the pane with those of the burst not yet in it.
  int RowCount() const;
  // The burst so far: its log lock released, its rows into the pane (before anything that takes
  // the log lock or clears the pane, and at its end).
  void EndBurstStep();
  void FlushLog();   // every record in the file
  void SubmitLog();  // what is gathered to the log's writer thread, without waiting
  void FlushLogIfDue(std::int64_t wallMs);
  // Asks the kernel for its counts when the last answer is older than a status bar look.
  void TakeKernelCountsIfDue(std::int64_t nowMs);
  // After a batch of the log could not be written (a full disk): logging goes off, the rows whose
  // records were lost show "NoLog", and the pane is told once. True when a loss was taken.
  bool StopLoggingAfterLoss();
  bool OpenLogLocked(const std::string& name);
  void CloseLogLocked();
  void TruncateLog();
  LONG ReadNextLocked(PacketLogFile& file, LONG* position, void* buffer, LONG size,
                      std::string* source, std::string* destination, std::string* time);

  MonListIpMon* m_owner = nullptr;
  AppProfile* m_app = nullptr;

  // Adapter: created, read and closed on this thread only.
  _PelorinWinCapAdapter m_adapterRecord{};
  std::unique_ptr<PelorinAdapter> m_adapter;
  std::atomic<BOOL> m_adapterOpen{0};
  bool m_sourceIsFile = false;
  int m_bufferKB = 0;  // the kernel ring ("CaptureBufferKB"); 0: the adapter's default
  _PelorinAdapterPacket m_frame{};

  // The current packet (capture thread).
  DecodedPacket m_packet;
  std::string m_time;
  bool m_rowLogged = false;  // the logging switch as read once for the current packet
  MillisClock m_clock;  // the read time of each frame
  std::int64_t m_readTimeMs = -1;  // the millisecond m_time shows when OnIdle made it; -1: not
  std::vector<std::uint8_t> m_frameCopy;  // a frame being trimmed
  // A burst: the frames one idle turn reads while more are waiting, at most kBurstFrames.
  static constexpr int kBurstFrames = 64;
  bool m_inBurst = false;
  std::unique_lock<std::mutex> m_burstLog;  // the log lock, from the burst's first record on
  std::vector<ListRow> m_rowBatch;          // the burst's rows not yet in the pane

  CriticalSection m_idleLock;
  int m_idleMessage = 0;
  HWND m_feed = kNoWindow;
  HWND m_compare = kNoWindow;
  // Copies of what the idle lock guards, written under it and read by the capture thread per
  // frame without it: capture on, and a feed or compare window set.
  std::atomic<bool> m_capturing{false};
  std::atomic<bool> m_windowsSet{false};

  CriticalSection m_deleteAllLock;
  int m_deleteAll = 0;
  int m_deleteAllTruncate = 0;

  CriticalSection m_filtersLock;
  int m_applyFilters = 0;
  std::atomic<bool> m_applyFiltersOn{false};  // m_applyFilters, written under the filters lock
  PacketFilter m_filter;
  PacketFilterSet m_storedFilters;  // as LoadFiltersCounts read it

  std::atomic<int> m_monitorExclusive{0};
  std::unique_ptr<ExclusiveEntry[]> m_exclusive;
  int m_exclusiveCount = 0;

  // Log state, under the log lock (the logging flag and the page size are read per packet
  // without it).
  std::atomic<int> m_logging{1};
  bool m_logInit = false;
  PacketLogFile m_logFile;
  PacketLogBuffer m_logBuffer;  // before m_logLock, which refers to it
  PacketLogLock m_logLock{m_logBuffer};
  bool m_logOpen = false;
  std::string m_logName;
  std::int64_t m_lastFlushCheckMs = 0;  // capture thread, wall clock ms
  std::atomic<LONG> m_pageSize{256};
  std::atomic<LONG> m_loadStart{-1};
  std::atomic<std::uint32_t> m_loadStartFile{kCurrentLogFile};
  std::uint32_t m_logFileNumber = 0;  // the file m_logFile has open
  PacketLogSet::Limits m_logLimits;
  std::atomic<std::int64_t> m_ringBytes{0};  // what the set may hold, 0: no limit
  std::uint32_t m_rowFile = 0;  // capture thread: the file of the row ShowPacketReceive adds

  CriticalSection m_logLastLock;
  int m_logLast = 0;

  CriticalSection m_rangeLock;
  DWORD m_rangeStart = 0;
  DWORD m_rangeEnd = 0;
  std::atomic<bool> m_rangeInForce{false};  // a range that trims, written under the range lock

  std::atomic<std::uint64_t> m_framesRead{0};
  std::atomic<std::uint64_t> m_rowsAdded{0};
  std::atomic<bool> m_replayDone{false};
  std::atomic<std::uint32_t> m_statsReceived{0};
  std::atomic<std::uint32_t> m_statsDropped{0};
  std::atomic<bool> m_kernelCounts{false};  // the adapter is a live interface
  std::int64_t m_statsTakenMs = 0;          // capture thread, when the kernel was last asked
  // Figures for the status bar: the counts when capture last started, records gathered into
  // the log and where its next record goes.
  std::atomic<std::uint64_t> m_framesAtStart{0};
  std::atomic<std::uint64_t> m_recordsLogged{0};
  std::atomic<std::uint64_t> m_loggedAtStart{0};
  std::atomic<std::int64_t> m_logEnd{0};
};

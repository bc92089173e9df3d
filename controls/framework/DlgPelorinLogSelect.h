#pragma once
#include <cstdint>
#include <string>

#include "common/PelorinWinCapAdapter.h"
#include "common/WinTypes.h"
#include "ui/Dialog.h"

class AppProfile;
class MonListIpMon;
class MonListMon;
class MonListStat;
class MonListStatIp;

// The modal "Log Properties" dialog: which monitors write a log, how many files and megabytes
// the packet log's ring keeps (0: no limit), and the network interface the packet monitor
// captures from. The log switches are profile values of the application key;
// OK saves them for the monitors created from now on, "Apply" also hands them to the threads of
// the panes given. An interface chosen through "Interfaces" is saved at once, whether the dialog
// then ends with OK or Cancel. Every pane may be null; so may the application, in which case the
// application key is used directly.
class DlgPelorinLogSelect : public Dialog {
 public:
  static constexpr int IDD = 132;  // dialog template number
  static constexpr int IDC_CHECK_LOGLIST = 1320;
  static constexpr int IDC_CHECK_LOGIPMON = 1321;
  static constexpr int IDC_CHECK_LOGSTATS = 1322;    // shown disabled: the statistics keep no log
  static constexpr int IDC_CHECK_LOGSTATSIP = 1323;  // shown disabled
  static constexpr int IDC_EDIT_ADAPTER = 1324;      // the interface's description, read-only
  static constexpr int IDC_BUTTON_INTERFACES = 1325;
  static constexpr int IDC_BUTTON_APPLY = 1326;
  static constexpr int IDC_EDIT_RING_FILES = 1327;  // "LogPktRingFiles"
  static constexpr int IDC_EDIT_RING_MB = 1328;     // "LogPktRingMB"

  static constexpr std::int32_t kDefaultLogList = 1;
  static constexpr std::int32_t kDefaultLogIpMon = 1;
  static constexpr std::int32_t kDefaultLogStats = 0;
  static constexpr std::int32_t kDefaultLogStatsIp = 0;

  static constexpr char kNoLogCaption[] = "Pelorin's Ip Data Packets";
  static constexpr char kNoLogQuestion[] =
      "You are requesting to NOT log Pelorin's Ip Monitor\n"
      "data packets.\n\n"
      "This results in Ip Monitor entries that will not have\n"
      "the ability to display it's data packets. The Status\n"
      "will show 'NoLog', hence no data packet information\n"
      "is stored for display...nor analytical reasons.\n\n"
      "Are you sure you want to disable Pelorin's Logs ?\n\n";
  static constexpr char kInterfaceCaption[] = "Interface Setting";
  static constexpr char kInterfaceSaved[] =
      "\n\nNew Interface Saved.\n\n"
      "Settings will take effect the next time Pelorin Scan\n"
      "is stopped, then re-started.\n\n"
      "ie...Menu Scan->Stop Scanning , Scan->Start Scanning\n\n";
  static constexpr char kInterfaceNotSaved[] =
      "\n\nThe New Interface could not be saved.\n\n"
      "The packet monitor keeps the interface it had.\n\n";

  DlgPelorinLogSelect(Window* parent, AppProfile* application, MonListMon* connections, MonListIpMon* packets,
                      MonListStat* stats, MonListStatIp* statsIp);
  ~DlgPelorinLogSelect() override;

  static DialogTemplate MakeTemplate();

  // Takes the four check boxes and writes "LogList", "LogIpMon", "LogStats" and "LogStatsIp"
  // (1 checked, 0 not). Before the dialog is open it writes the values read at construction.
  // False when a value could not be written.
  bool SaveSettings();

  bool OnInitDialog() override;
  void OnOK() override;
  void OnButtonApply();
  // Asks before the packet log is switched off; No checks the box again.
  void OnCheckLogIpMon();
  // Runs the interface chooser on the current record; a choice is saved and reported at once.
  void OnButtonInterfaces();

  std::int32_t GetLogList() const { return m_logList; }
  std::int32_t GetLogIpMon() const { return m_logIpMon; }
  std::int32_t GetLogStats() const { return m_logStats; }
  std::int32_t GetLogStatsIp() const { return m_logStatsIp; }
  std::uint32_t GetRingFiles() const { return m_ringFiles; }
  std::uint32_t GetRingMB() const { return m_ringMB; }
  // The current interface: as read at opening, then as last chosen and saved.
  const _PelorinWinCapAdapter& GetAdapter() const { return m_adapter; }

 private:
  AppProfile& Profile() const;
  void ReadSettings();
  // Writes the three interface values; false when one of them could not be written.
  bool SaveAdapter(const _PelorinWinCapAdapter& adapter) const;

  AppProfile* m_application = nullptr;
  MonListMon* m_connections = nullptr;
  MonListIpMon* m_packets = nullptr;
  MonListStat* m_stats = nullptr;
  MonListStatIp* m_statsIp = nullptr;

  std::int32_t m_logList = kDefaultLogList;
  std::int32_t m_logIpMon = kDefaultLogIpMon;
  std::int32_t m_logStats = kDefaultLogStats;
  std::int32_t m_logStatsIp = kDefaultLogStatsIp;
  std::uint32_t m_ringFiles = 0;
  std::uint32_t m_ringMB = 0;
  _PelorinWinCapAdapter m_adapter{};
};

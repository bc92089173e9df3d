#pragma once
#include <cstdint>

#include "common/WinTypes.h"
#include "ui/Dialog.h"

class AppProfile;
class MonListIpMon;
class MonListMon;
class MonListStat;
class MonListStatIp;

// The modal "Scan Properties" dialog: the seconds between two scans of each monitor and the
// number of packets in a page of the packet log, kept as profile values of the application key.
//
// OK saves the values for the monitors created from now on; "Apply" saves them and also hands
// the new intervals to the threads of the panes given, which use them from their next pause.
// Every pane may be null (not shown at the moment); so may the application, in which case the
// application key is used directly.
class DlgPelorinScanProperties : public Dialog {
 public:
  static constexpr int IDD = 134;  // dialog template number
  static constexpr int IDC_EDIT_SCANLIST = 1340;
  static constexpr int IDC_EDIT_SCANIPMON = 1341;  // shown disabled: the packet monitor reads without pause
  static constexpr int IDC_EDIT_SCANSTATS = 1342;
  static constexpr int IDC_EDIT_SCANSTATSIP = 1343;
  static constexpr int IDC_EDIT_LOGPAGESIZE = 1344;
  static constexpr int IDC_BUTTON_APPLY = 1345;

  // Defaults shown when a value was never saved (seconds; packets per page).
  static constexpr std::int32_t kDefaultScanList = 5;
  static constexpr std::int32_t kDefaultScanIpMon = 0;
  static constexpr std::int32_t kDefaultScanStats = 30;
  static constexpr std::int32_t kDefaultScanStatsIp = 30;
  static constexpr std::int32_t kDefaultLogPageSize = 256;

  DlgPelorinScanProperties(Window* parent, AppProfile* application, MonListMon* connections, MonListIpMon* packets,
                           MonListStat* stats, MonListStatIp* statsIp);
  ~DlgPelorinScanProperties() override;

  static DialogTemplate MakeTemplate();

  // Takes the fields' numbers (text that is not a number counts as 0; a negative number is kept
  // as typed) and writes "ScanList", "ScanIpMon", "ScanStats", "ScanStatsIp" and "LogPageSize".
  // Before the dialog is open it writes the values read at construction. False when a value
  // could not be written.
  bool SaveSettings();

  bool OnInitDialog() override;
  void OnOK() override;
  void OnButtonApply();

  // The working copies: as read, then as last saved.
  std::int32_t GetScanList() const { return m_scanList; }
  std::int32_t GetScanIpMon() const { return m_scanIpMon; }
  std::int32_t GetScanStats() const { return m_scanStats; }
  std::int32_t GetScanStatsIp() const { return m_scanStatsIp; }
  std::int32_t GetLogPageSize() const { return m_logPageSize; }

 private:
  AppProfile& Profile() const;
  void ReadSettings();
  // Seconds as a thread's interval: a negative setting pauses not at all and an oversize one
  // stops at the longest interval instead of wrapping into a short one.
  static DWORD ScanMilliseconds(std::int32_t seconds);

  AppProfile* m_application = nullptr;
  MonListMon* m_connections = nullptr;
  MonListIpMon* m_packets = nullptr;
  MonListStat* m_stats = nullptr;
  MonListStatIp* m_statsIp = nullptr;

  std::int32_t m_scanList = kDefaultScanList;
  std::int32_t m_scanIpMon = kDefaultScanIpMon;
  std::int32_t m_scanStats = kDefaultScanStats;
  std::int32_t m_scanStatsIp = kDefaultScanStatsIp;
  std::int32_t m_logPageSize = kDefaultLogPageSize;
};

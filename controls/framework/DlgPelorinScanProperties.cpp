#include "controls/framework/DlgPelorinScanProperties.h"

#include <algorithm>

#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/AppProfile.h"

namespace {

// The application key itself holds the settings.
constexpr char kSection[] = "";

AppProfile& ApplicationKey() {
  static AppProfile profile;
  return profile;
}

}  // namespace

DlgPelorinScanProperties::DlgPelorinScanProperties(Window* parent, AppProfile* application, MonListMon* connections,
                                                   MonListIpMon* packets, MonListStat* stats, MonListStatIp* statsIp)
    : Dialog(MakeTemplate(), parent),
      m_application(application),
      m_connections(connections),
      m_packets(packets),
      m_stats(stats),
      m_statsIp(statsIp) {
  MapCommand(IDC_BUTTON_APPLY, [this] { OnButtonApply(); });
  ReadSettings();
}

DlgPelorinScanProperties::~DlgPelorinScanProperties() { DestroyWindow(); }

DialogTemplate DlgPelorinScanProperties::MakeTemplate() {
  // Labels on the left, the number fields in one column after the longest label.
  return DialogTemplate{"Scan Properties", 282, 150, "MS Sans Serif", 8,
                        {GroupItem("", 7, 4, 268, 86),
                         LabelItem("Connections Monitor Scan :", 14, 16, 160, 8),
                         EditItem(IDC_EDIT_SCANLIST, 178, 14, 40, 12),
                         LabelItem("Pelorin Ip Monitor Scan :", 14, 32, 160, 8),
                         EditItem(IDC_EDIT_SCANIPMON, 178, 30, 40, 12).Disabled(),
                         LabelItem("Tcp/Udp/Icmp Statistics Monitor Scan :", 14, 48, 160, 8),
                         EditItem(IDC_EDIT_SCANSTATS, 178, 46, 40, 12),
                         LabelItem("Ip Statistics Monitor Scan :", 14, 64, 160, 8),
                         EditItem(IDC_EDIT_SCANSTATSIP, 178, 62, 40, 12),
                         LabelItem("Entries are in Seconds of elapsed time between scans.", 14, 78, 254, 8),
                         GroupItem("", 7, 92, 268, 34),
                         LabelItem("Packet Log File Page Size : ", 14, 102, 160, 8),
                         EditItem(IDC_EDIT_LOGPAGESIZE, 178, 100, 40, 12),
                         LabelItem("Page Size changes will take effect the next time Pelorin is Started.", 14, 115, 254,
                                   8),
                         DefPushButtonItem(IDOK, "OK", 115, 131, 50, 14),
                         PushButtonItem(IDCANCEL, "Cancel", 170, 131, 50, 14),
                         PushButtonItem(IDC_BUTTON_APPLY, "Apply", 225, 131, 50, 14)}};
}

AppProfile& DlgPelorinScanProperties::Profile() const {
  return m_application != nullptr ? *m_application : ApplicationKey();
}

void DlgPelorinScanProperties::ReadSettings() {
  const AppProfile& profile = Profile();
  m_scanList = profile.GetProfileInt(kSection, "ScanList", kDefaultScanList);
  m_scanIpMon = profile.GetProfileInt(kSection, "ScanIpMon", kDefaultScanIpMon);
  m_scanStats = profile.GetProfileInt(kSection, "ScanStats", kDefaultScanStats);
  m_scanStatsIp = profile.GetProfileInt(kSection, "ScanStatsIp", kDefaultScanStatsIp);
  m_logPageSize = profile.GetProfileInt(kSection, "LogPageSize", kDefaultLogPageSize);
}

bool DlgPelorinScanProperties::OnInitDialog() {
  ReadSettings();
  SetDlgItemInt(IDC_EDIT_SCANLIST, m_scanList);
  SetDlgItemInt(IDC_EDIT_SCANIPMON, m_scanIpMon);
  SetDlgItemInt(IDC_EDIT_SCANSTATS, m_scanStats);
  SetDlgItemInt(IDC_EDIT_SCANSTATSIP, m_scanStatsIp);
  SetDlgItemInt(IDC_EDIT_LOGPAGESIZE, m_logPageSize);
  return true;
}

bool DlgPelorinScanProperties::SaveSettings() {
  if (IsCreated()) {
    // GetDlgItemInt gives 0 for anything but a whole number in range.
    m_scanList = GetDlgItemInt(IDC_EDIT_SCANLIST);
    m_scanIpMon = GetDlgItemInt(IDC_EDIT_SCANIPMON);
    m_scanStats = GetDlgItemInt(IDC_EDIT_SCANSTATS);
    m_scanStatsIp = GetDlgItemInt(IDC_EDIT_SCANSTATSIP);
    m_logPageSize = GetDlgItemInt(IDC_EDIT_LOGPAGESIZE);
  }
  const AppProfile& profile = Profile();
  bool written = profile.WriteProfileInt(kSection, "ScanList", m_scanList);
  written = profile.WriteProfileInt(kSection, "ScanIpMon", m_scanIpMon) && written;
  written = profile.WriteProfileInt(kSection, "ScanStats", m_scanStats) && written;
  written = profile.WriteProfileInt(kSection, "ScanStatsIp", m_scanStatsIp) && written;
  written = profile.WriteProfileInt(kSection, "LogPageSize", m_logPageSize) && written;
  return written;
}

void DlgPelorinScanProperties::OnOK() {
  // The running threads keep their intervals; monitors created later read the new ones.
  SaveSettings();
  EndDialog(IDOK);
}

DWORD DlgPelorinScanProperties::ScanMilliseconds(std::int32_t seconds) {
  return static_cast<DWORD>(std::clamp<std::int64_t>(std::int64_t{seconds} * 1000, 0, UINT32_MAX));
}

void DlgPelorinScanProperties::OnButtonApply() {
  SaveSettings();
  if (m_connections != nullptr)
    if (PelorinCThread* thread = m_connections->Scanner()) thread->SetScan(ScanMilliseconds(m_scanList));
  if (m_packets != nullptr)
    if (PelorinCThread* thread = m_packets->GetCaptureThread()) thread->SetScan(ScanMilliseconds(m_scanIpMon));
  if (m_stats != nullptr)
    if (PelorinCThread* thread = m_stats->GetStatsThread()) thread->SetScan(ScanMilliseconds(m_scanStats));
  if (m_statsIp != nullptr)
    if (PelorinCThread* thread = m_statsIp->GetStatsThread()) thread->SetScan(ScanMilliseconds(m_scanStatsIp));
}

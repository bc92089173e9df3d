#include "controls/framework/DlgPelorinLogSelect.h"

#include "common/FieldText.h"
#include "controls/connections/MonListMon.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/packets/MonListIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/stats/MonListStat.h"
#include "controls/stats/MonListStatIp.h"
#include "platform/AppProfile.h"
#include "ui/UiServices.h"
#include "wincap/DlgPelorinAdapters.h"
#include "wincap/PelorinWinCapAdapters.h"

namespace {

// The application key itself holds the settings.
constexpr char kSection[] = "";

AppProfile& ApplicationKey() {
  static AppProfile profile;
  return profile;
}

std::int32_t CheckOf(const Dialog& dialog, int id) {
  return dialog.IsDlgButtonChecked(id) == BST_CHECKED ? 1 : 0;
}

}  // namespace

DlgPelorinLogSelect::DlgPelorinLogSelect(Window* parent, AppProfile* application, MonListMon* connections,
                                         MonListIpMon* packets, MonListStat* stats, MonListStatIp* statsIp)
    : Dialog(MakeTemplate(), parent),
      m_application(application),
      m_connections(connections),
      m_packets(packets),
      m_stats(stats),
      m_statsIp(statsIp) {
  MapCommand(IDC_CHECK_LOGIPMON, [this] { OnCheckLogIpMon(); });
  MapCommand(IDC_BUTTON_INTERFACES, [this] { OnButtonInterfaces(); });
  MapCommand(IDC_BUTTON_APPLY, [this] { OnButtonApply(); });
  ReadSettings();
}

DlgPelorinLogSelect::~DlgPelorinLogSelect() { DestroyWindow(); }

DialogTemplate DlgPelorinLogSelect::MakeTemplate() {
  return DialogTemplate{
      "Log Properties", 262, 180, "MS Sans Serif", 8,
      {GroupItem("", 7, 4, 248, 62),
       CheckBoxItem(IDC_CHECK_LOGLIST, "Log Connections Monitor ( PelorinProLogConnect.rec )", 14, 14, 234, 10),
       CheckBoxItem(IDC_CHECK_LOGIPMON, "Log Pelorin Monitor ( PelorinProLogPkt.rec )", 14, 26, 234, 10),
       CheckBoxItem(IDC_CHECK_LOGSTATS, "Tcp/Udp/Icmp Statistics Monitor", 14, 38, 234, 10).Disabled(),
       CheckBoxItem(IDC_CHECK_LOGSTATSIP, "Ip Statistics Monitor", 14, 50, 234, 10).Disabled(),
       GroupItem("Packet Log Files ( 0 = no limit, oldest removed first )", 7, 70, 248, 40),
       LabelItem("Keep files :", 14, 86, 44, 8),
       EditItem(IDC_EDIT_RING_FILES, 60, 84, 50, 12, ES_AUTOHSCROLL | ES_NUMBER),
       LabelItem("Keep MB :", 130, 86, 40, 8),
       EditItem(IDC_EDIT_RING_MB, 172, 84, 60, 12, ES_AUTOHSCROLL | ES_NUMBER),
       GroupItem("Network Interface", 7, 114, 248, 40),
       EditItem(IDC_EDIT_ADAPTER, 14, 130, 180, 12, ES_AUTOHSCROLL | ES_READONLY),
       PushButtonItem(IDC_BUTTON_INTERFACES, "Interfaces", 199, 129, 50, 14),
       DefPushButtonItem(IDOK, "OK", 95, 160, 50, 14),
       PushButtonItem(IDCANCEL, "Cancel", 150, 160, 50, 14),
       PushButtonItem(IDC_BUTTON_APPLY, "Apply", 205, 160, 50, 14)}};
}

AppProfile& DlgPelorinLogSelect::Profile() const {
  return m_application != nullptr ? *m_application : ApplicationKey();
}

void DlgPelorinLogSelect::ReadSettings() {
  const AppProfile& profile = Profile();
  m_logList = profile.GetProfileInt(kSection, "LogList", kDefaultLogList);
  m_logIpMon = profile.GetProfileInt(kSection, "LogIpMon", kDefaultLogIpMon);
  m_logStats = profile.GetProfileInt(kSection, "LogStats", kDefaultLogStats);
  m_logStatsIp = profile.GetProfileInt(kSection, "LogStatsIp", kDefaultLogStatsIp);
  m_ringFiles = static_cast<std::uint32_t>(profile.GetProfileInt(kSection, "LogPktRingFiles", 0));
  m_ringMB = static_cast<std::uint32_t>(profile.GetProfileInt(kSection, "LogPktRingMB", 0));

  // A negative index stands for no interface; the chooser then opens on its Close Adapter row.
  m_adapter = _PelorinWinCapAdapter{};
  m_adapter.index = profile.GetProfileInt(kSection, "AdapterCurr", 0);
  const std::string name = profile.GetProfileString(kSection, "AdapterCurrName");
  if (!name.empty()) {
    SetFieldText(m_adapter.name, name);
    std::string description = profile.GetProfileString(kSection, "AdapterCurrDesc");
    if (description.empty()) {
      // A choice stored before interfaces were described: shown as the chooser names it now.
      PelorinWinCapAdapters adapters;
      if (const _PelorinWinCapAdapter* found = adapters.AdaptersGetByName(name)) description = GetFieldText(found->description);
    }
    SetFieldText(m_adapter.description, description);
  }
}

bool DlgPelorinLogSelect::OnInitDialog() {
  ReadSettings();
  CheckDlgButton(IDC_CHECK_LOGLIST, m_logList != 0 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_CHECK_LOGIPMON, m_logIpMon != 0 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_CHECK_LOGSTATS, m_logStats != 0 ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_CHECK_LOGSTATSIP, m_logStatsIp != 0 ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemInt(IDC_EDIT_RING_FILES, static_cast<int>(m_ringFiles), false);
  SetDlgItemInt(IDC_EDIT_RING_MB, static_cast<int>(m_ringMB), false);
  if (m_adapter.name[0] != '\0') SetDlgItemText(IDC_EDIT_ADAPTER, GetFieldText(m_adapter.description));
  return true;
}

bool DlgPelorinLogSelect::SaveSettings() {
  if (IsCreated()) {
    m_logList = CheckOf(*this, IDC_CHECK_LOGLIST);
    m_logIpMon = CheckOf(*this, IDC_CHECK_LOGIPMON);
    m_logStats = CheckOf(*this, IDC_CHECK_LOGSTATS);
    m_logStatsIp = CheckOf(*this, IDC_CHECK_LOGSTATSIP);
    // A field that holds no number keeps the value it had.
    bool number = false;
    const auto files = static_cast<std::uint32_t>(GetDlgItemInt(IDC_EDIT_RING_FILES, &number, false));
    if (number) m_ringFiles = files;
    const auto megabytes = static_cast<std::uint32_t>(GetDlgItemInt(IDC_EDIT_RING_MB, &number, false));
    if (number) m_ringMB = megabytes;
  }
  const AppProfile& profile = Profile();
  bool written = profile.WriteProfileInt(kSection, "LogList", m_logList);
  written = profile.WriteProfileInt(kSection, "LogIpMon", m_logIpMon) && written;
  written = profile.WriteProfileInt(kSection, "LogStats", m_logStats) && written;
  written = profile.WriteProfileInt(kSection, "LogStatsIp", m_logStatsIp) && written;
  written = profile.WriteProfileInt(kSection, "LogPktRingFiles", static_cast<std::int32_t>(m_ringFiles)) && written;
  written = profile.WriteProfileInt(kSection, "LogPktRingMB", static_cast<std::int32_t>(m_ringMB)) && written;
  return written;
}

void DlgPelorinLogSelect::OnOK() {
  // The running threads keep their switches; monitors created later read the new ones.
  SaveSettings();
  EndDialog(IDOK);
}

void DlgPelorinLogSelect::OnButtonApply() {
  SaveSettings();
  if (m_connections != nullptr)
    if (PelorinCThreadMonListMon* thread = m_connections->Scanner()) thread->SetLog(m_logList);
  if (m_packets != nullptr)
    if (MonListIpMonCWinThread* thread = m_packets->GetCaptureThread()) {
      thread->SetLog(m_logIpMon);
      thread->LogApplyRing();
    }
  if (m_stats != nullptr)
    if (MonListStatCWinThread* thread = m_stats->GetStatsThread()) thread->SetLog(m_logStats);
  if (m_statsIp != nullptr)
    if (MonListStatIpCWinThread* thread = m_statsIp->GetStatsThread()) thread->SetLog(m_logStatsIp);
}

void DlgPelorinLogSelect::OnCheckLogIpMon() {
  // Only switching the log off needs a second thought: the rows captured meanwhile cannot be
  // examined later.
  if (IsDlgButtonChecked(IDC_CHECK_LOGIPMON) == BST_CHECKED) return;
  if (::MessageBox(this, kNoLogQuestion, kNoLogCaption, MB_YESNO) == IDNO)
    CheckDlgButton(IDC_CHECK_LOGIPMON, BST_CHECKED);
}

bool DlgPelorinLogSelect::SaveAdapter(const _PelorinWinCapAdapter& adapter) const {
  const AppProfile& profile = Profile();
  bool written = profile.WriteProfileInt(kSection, "AdapterCurr", adapter.index);
  written = profile.WriteProfileString(kSection, "AdapterCurrName", GetFieldText(adapter.name)) && written;
  written = profile.WriteProfileString(kSection, "AdapterCurrDesc", GetFieldText(adapter.description)) && written;
  return written;
}

void DlgPelorinLogSelect::OnButtonInterfaces() {
  _PelorinWinCapAdapter chosen{};
  {
    DlgPelorinAdapters adapters(this, &m_adapter);
    if (adapters.DoModal() != IDOK) return;
    chosen = adapters.GetAdapter();
  }
  // Saved now, whatever this dialog ends with: the packet monitor reads it at its next start.
  if (!SaveAdapter(chosen)) {
    ::MessageBox(this, kInterfaceNotSaved, kInterfaceCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  m_adapter = chosen;
  SetDlgItemText(IDC_EDIT_ADAPTER, GetFieldText(m_adapter.description));
  ::MessageBox(this, kInterfaceSaved, kInterfaceCaption, MB_OK);
}

#include "app/DlgIpRamparoProperties.h"

#include "platform/AppProfile.h"

namespace {

struct CheckValue {
  int id;
  const char* name;
  std::int32_t defaultValue;
};

constexpr CheckValue kChecks[] = {
    {DlgIpRamparoProperties::IDC_CHECK_LOG, "IpRamparoLog", 1},
    {DlgIpRamparoProperties::IDC_CHECK_TCP, "IpRamparoBlockTcp", 0},
    {DlgIpRamparoProperties::IDC_CHECK_UDP, "IpRamparoBlockUdp", 0},
    {DlgIpRamparoProperties::IDC_CHECK_ICMP, "IpRamparoBlockIcmp", 1},
    {DlgIpRamparoProperties::IDC_CHECK_ALL, "IpRamparoBlockAll", 0},
    {DlgIpRamparoProperties::IDC_CHECK_INTERFACE, "UsePelorinProInterface", 0},
    {DlgIpRamparoProperties::IDC_CHECK_NO_PORT_MONITOR, "NoPortMonitor", 0},
};

constexpr int kProtocols[] = {DlgIpRamparoProperties::IDC_CHECK_TCP, DlgIpRamparoProperties::IDC_CHECK_UDP,
                              DlgIpRamparoProperties::IDC_CHECK_ICMP};

constexpr std::int32_t kNoDirection = 0;

}  // namespace

DlgIpRamparoProperties::DlgIpRamparoProperties(Window* parent, const AppProfile& consoleKey)
    : Dialog(MakeTemplate(), parent), m_consoleKey(consoleKey) {
  MapCommand(IDC_CHECK_ALL, [this] { OnBlockAll(); });
  for (int id : kProtocols) MapCommand(static_cast<UINT>(id), [this] { OnProtocol(); });
}

DlgIpRamparoProperties::~DlgIpRamparoProperties() { DestroyWindow(); }

DialogTemplate DlgIpRamparoProperties::MakeTemplate() {
  return DialogTemplate{
      "IpRamparoProperties",
      230,
      176,
      "MS Sans Serif",
      8,
      {LabelItem("Block Refresh Interval in : ", 10, 10, 100, 8), EditItem(IDC_EDIT_INTERVAL, 112, 8, 40, 12),
       LabelItem("minutes", 156, 10, 40, 8), CheckBoxItem(IDC_CHECK_LOG, "Log Blocks", 10, 26, 100, 10),
       GroupItem("Protocols", 7, 40, 104, 74), CheckBoxItem(IDC_CHECK_TCP, "Block Tcp", 14, 52, 90, 10),
       CheckBoxItem(IDC_CHECK_UDP, "Block Udp", 14, 66, 90, 10),
       CheckBoxItem(IDC_CHECK_ICMP, "Block Icmp", 14, 80, 90, 10),
       CheckBoxItem(IDC_CHECK_ALL, "Block All Protocols", 14, 96, 90, 10), GroupItem("Directions", 118, 40, 104, 74),
       RadioButtonItem(IDC_RADIO_INCOMING, "Incoming", 125, 52, 90, 10, true),
       RadioButtonItem(IDC_RADIO_OUTGOING, "Outgoing", 125, 66, 90, 10),
       RadioButtonItem(IDC_RADIO_BOTH, "Both", 125, 80, 90, 10),
       CheckBoxItem(IDC_CHECK_INTERFACE, "PelorinPro Interface", 10, 122, 100, 10),
       CheckBoxItem(IDC_CHECK_NO_PORT_MONITOR, "No Port Monitor", 118, 122, 100, 10),
       DefPushButtonItem(IDOK, "OK", 60, 152, 50, 14), PushButtonItem(IDCANCEL, "Cancel", 120, 152, 50, 14)}};
}

bool DlgIpRamparoProperties::OnInitDialog() {
  m_consoleKey.Store().CreateKey(m_consoleKey.AppKey());
  SetDlgItemInt(IDC_EDIT_INTERVAL, m_consoleKey.GetProfileInt("", "IpRamparoRefreshInterval", 0));
  for (const CheckValue& check : kChecks)
    CheckDlgButton(check.id,
                   m_consoleKey.GetProfileInt("", check.name, check.defaultValue) != 0 ? BST_CHECKED : BST_UNCHECKED);
  // A direction never stored shows none chosen.
  const std::int32_t direction = m_consoleKey.GetProfileInt("", "IpRamparoBlockDirections", kNoDirection);
  CheckRadioButton(IDC_RADIO_INCOMING, IDC_RADIO_BOTH,
                   direction >= 1 && direction <= 3 ? IDC_RADIO_INCOMING + direction - 1 : 0);
  return true;
}

void DlgIpRamparoProperties::OnBlockAll() {
  const int all = IsDlgButtonChecked(IDC_CHECK_ALL);
  for (int id : kProtocols) CheckDlgButton(id, all);
}

void DlgIpRamparoProperties::OnProtocol() {
  if (IsDlgButtonChecked(IDC_CHECK_ALL) == BST_CHECKED) CheckDlgButton(IDC_CHECK_ALL, BST_UNCHECKED);
}

void DlgIpRamparoProperties::OnOK() {
  m_consoleKey.WriteProfileInt("", "IpRamparoRefreshInterval", GetDlgItemInt(IDC_EDIT_INTERVAL));
  for (const CheckValue& check : kChecks)
    m_consoleKey.WriteProfileInt("", check.name, IsDlgButtonChecked(check.id) == BST_CHECKED ? 1 : 0);
  const int chosen = GetCheckedRadioButton(IDC_RADIO_INCOMING, IDC_RADIO_BOTH);
  m_consoleKey.WriteProfileInt("", "IpRamparoBlockDirections",
                               chosen == 0 ? kNoDirection : chosen - IDC_RADIO_INCOMING + 1);
  m_logBlocks = IsDlgButtonChecked(IDC_CHECK_LOG) == BST_CHECKED ? 1 : 0;
  EndDialog(IDOK);
}

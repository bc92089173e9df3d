#include "controls/link/DlgIpMonSetLink.h"

#include "platform/AppProfile.h"
#include "ui/Edit.h"
#include "ui/IpAddressControl.h"
#include "ui/UiServices.h"

namespace {

constexpr char kSource[] = "ConnectionsLinkSetLinkSource";
constexpr char kSourcePort[] = "ConnectionsLinkSetLinkSourcePort";
constexpr char kDestination[] = "ConnectionsLinkSetLinkDestination";
constexpr char kDestinationPort[] = "ConnectionsLinkSetLinkDestinationPort";
constexpr char kNoAddress[] = "0.0.0.0";

bool IsIpv6Text(const std::string& text) { return text.find(':') != std::string::npos; }

}  // namespace

DlgIpMonSetLink::DlgIpMonSetLink(Window* parent, AppProfile* app) : Dialog(MakeTemplate(), parent), m_app(app) {}

DialogTemplate DlgIpMonSetLink::MakeTemplate() {
  return DialogTemplate{kCaption,
                        305,
                        82,
                        "MS Sans Serif",
                        8,
                        // The address fields are wide enough for a whole IPv6 address.
                        {GroupItem("Connections Link Ip Addresses", 7, 4, 291, 52),
                         LabelItem("From : ", 14, 19, 24, 8),
                         IpAddressItem(IDC_IP_FROM, 40, 17, 170, 13),
                         LabelItem("Port : ", 218, 19, 22, 8),
                         EditItem(IDC_EDIT_FROM_PORT, 242, 17, 48, 13, ES_AUTOHSCROLL | ES_NUMBER),
                         LabelItem("To : ", 14, 37, 24, 8),
                         IpAddressItem(IDC_IP_TO, 40, 35, 170, 13),
                         LabelItem("Port : ", 218, 37, 22, 8),
                         EditItem(IDC_EDIT_TO_PORT, 242, 35, 48, 13, ES_AUTOHSCROLL | ES_NUMBER),
                         DefPushButtonItem(IDOK, "OK", 194, 62, 50, 14),
                         PushButtonItem(IDCANCEL, "Cancel", 248, 62, 50, 14)}};
}

bool DlgIpMonSetLink::OnInitDialog() {
  const AppProfile fallback;
  const AppProfile& profile = m_app ? *m_app : fallback;
  for (int id : {IDC_EDIT_FROM_PORT, IDC_EDIT_TO_PORT})
    if (auto* edit = GetDlgItemAs<Edit>(id)) edit->LimitText(kPortLimit);
  for (int id : {IDC_IP_FROM, IDC_IP_TO})
    if (auto* address = GetDlgItemAs<IpAddressControl>(id)) address->AllowIpv6(true);
  SetDlgItemText(IDC_IP_FROM, profile.GetProfileString("", kSource, kNoAddress));
  SetDlgItemText(IDC_EDIT_FROM_PORT, profile.GetProfileString("", kSourcePort, ""));
  SetDlgItemText(IDC_IP_TO, profile.GetProfileString("", kDestination, kNoAddress));
  SetDlgItemText(IDC_EDIT_TO_PORT, profile.GetProfileString("", kDestinationPort, ""));
  return true;
}

void DlgIpMonSetLink::OnOK() {
  const auto take = [this](int id) { return GetDlgItemText(id).substr(0, kValueLimit); };
  m_from = take(IDC_IP_FROM);
  m_fromPort = take(IDC_EDIT_FROM_PORT);
  m_to = take(IDC_IP_TO);
  m_toPort = take(IDC_EDIT_TO_PORT);
  // An empty field reads 0.0.0.0: no address, which goes with an address of either family.
  if (m_from != kNoAddress && m_to != kNoAddress && IsIpv6Text(m_from) != IsIpv6Text(m_to)) {
    MessageBox(this, kMixedText, kCaption, MB_OK);
    return;
  }
  if (m_app) {
    m_app->WriteProfileString("", kSource, m_from);
    m_app->WriteProfileString("", kSourcePort, m_fromPort);
    m_app->WriteProfileString("", kDestination, m_to);
    m_app->WriteProfileString("", kDestinationPort, m_toPort);
  }
  Dialog::OnOK();
}

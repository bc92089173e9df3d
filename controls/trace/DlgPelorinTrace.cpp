#include "controls/trace/DlgPelorinTrace.h"

#include <vector>

#include "common/AddressText.h"
#include "common/Messages.h"
#include "controls/trace/CTraceThread.h"
#include "controls/trace/DlgPelorinTraceIds.h"
#include "controls/trace/WhoIsServerList.h"
#include "platform/AppProfile.h"
#include "ui/Button.h"
#include "ui/ComboBox.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/RichEdit.h"

using namespace TraceIds;

namespace {

constexpr char kTraceIp[] = "TraceIp";
constexpr char kTraceHost[] = "TraceHost";
constexpr char kWhoIsPrefix[] = "WhoIsPrefix";
constexpr char kTraceWhoIsServer[] = "TraceWhoIsServer";
constexpr long kOutputLimit = 70000;  // characters: a whole converted whois answer

}  // namespace

DlgPelorinTrace::DlgPelorinTrace(Window* parentList, AppProfile* app, const _MonListMonItemDataIp* address,
                                 int preferHost, const std::string& address6Text)
    : Dialog(MakeTemplate(), parentList), m_app(app), m_parentList(parentList), m_preferHost(preferHost) {
  if (!address6Text.empty())
    m_address = address6Text;
  else if (address != nullptr)
    m_address = InetNtoa(address->localAddr);
  MapHandlers();
  CreateModeless(parentList);
}

DlgPelorinTrace::~DlgPelorinTrace() {
  StopWorker();
  m_thread.reset();
  m_routeList.reset();  // frees the records while the list still exists
  DestroyWindow();
}

DialogTemplate DlgPelorinTrace::MakeTemplate() {
  std::vector<DialogItem> items = {
      LabelItem("WhoIs Server(s)", 5, 4, 150, 8),
      ComboBoxItem(IDC_COMBO_WHOIS_SERVERS, 5, 14, 150, 100),
      PushButtonItem(IDC_BUTTON_ADD_SERVER, "Add WhoIs Server", 160, 13, 70, 14),
      CheckBoxItem(IDC_CHECK_USE_HOST_NAMES, "Use Host Names to resolve route points.", 5, 31, 225, 10),
      LabelItem("WhoIs Query", 5, 45, 150, 8),
      EditItem(IDC_EDIT_WHOIS_QUERY, 5, 55, 150, 12),
      PushButtonItem(IDC_BUTTON_QUERY, "Query", 160, 54, 70, 14),
      LabelItem("Trace Host", 240, 4, 120, 8),
      EditItem(IDC_EDIT_TRACE_HOST, 240, 14, 120, 12),
      LabelItem("Trace Ip", 240, 30, 120, 8),
      IpAddressItem(IDC_IPADDRESS_TRACE, 240, 40, 120, 12),
      DefPushButtonItem(IDC_BUTTON_TRACE, "Trace", 240, 54, 58, 14),
      PushButtonItem(IDC_BUTTON_DONE, "Done", 302, 54, 58, 14),
      LabelItem("Route Point(s)", 5, 73, 150, 8),
      ListBoxItem(IDC_LIST_ROUTE, 5, 83, 355, 82, 0),
      LabelItem("Host Vital(s)", 5, 169, 150, 8),
      RichEditItem(IDC_RICHEDIT_VITALS, 5, 179, 355, 90),
      CheckBoxItem(IDC_CHECK_AUTO_VITALS, "Auto-Host Vitals on Trace ( not recommended )", 5, 275, 220, 10),
      PushButtonItem(IDC_BUTTON_HOST_VITALS, "Host Vitals", 302, 273, 58, 14),
      LabelItem("", 5, 291, 355, 10, IDC_STATIC_STATUS),
  };
  return DialogTemplate{kCaption, 365, 305, "MS Sans Serif", 8, std::move(items)};
}

void DlgPelorinTrace::MapHandlers() {
  MapCommand(IDC_BUTTON_HOST_VITALS, [this] { OnHostVitals(); });
  MapCommand(IDC_BUTTON_QUERY, [this] { OnQuery(); });
  MapCommand(IDC_BUTTON_ADD_SERVER, [this] { OnAddServer(); });
  MapCommand(IDC_CHECK_AUTO_VITALS, [this] { m_autoHostVitals = IsDlgButtonChecked(IDC_CHECK_AUTO_VITALS) != 0; });
  MapCommand(IDC_LIST_ROUTE, [this] { OnRouteSelChange(); }, LBN_SELCHANGE);
  MapCommand(IDC_LIST_ROUTE, [this] { OnRouteDblClk(); }, LBN_DBLCLK);
  // A server typed anew may be added again.
  MapCommand(IDC_COMBO_WHOIS_SERVERS, [this] { GetDlgItem(IDC_BUTTON_ADD_SERVER)->EnableWindow(true); },
             CBN_EDITCHANGE);
}

bool DlgPelorinTrace::OnInitDialog() {
  m_routeList = std::make_unique<TraceRouteList>(GetDlgItemAs<ListBox>(IDC_LIST_ROUTE));
  m_callback.SetRouteList(m_routeList.get());
  m_thread = std::make_unique<CTraceThread>(this);
  m_thread->Tracer().SetStop(1);  // ready

  if (auto* output = GetDlgItemAs<RichEdit>(IDC_RICHEDIT_VITALS)) output->LimitText(kOutputLimit);
  SetDlgItemText(IDC_STATIC_STATUS, "");
  const AppProfile fallback;
  const AppProfile& profile = m_app ? *m_app : fallback;
  // The address field takes an IPv6 target as well: the trace reads either from its text.
  if (auto* address = GetDlgItemAs<IpAddressControl>(IDC_IPADDRESS_TRACE)) address->AllowIpv6(true);
  if (m_address) {
    SetDlgItemText(IDC_IPADDRESS_TRACE, *m_address);
    GetDlgItem(IDC_EDIT_TRACE_HOST)->EnableWindow(false);
  } else {
    SetDlgItemText(IDC_IPADDRESS_TRACE, profile.GetProfileString("", kTraceIp, "0.0.0.0"));
  }
  SetDlgItemText(IDC_EDIT_TRACE_HOST, profile.GetProfileString("", kTraceHost, ""));
  SetDlgItemText(IDC_EDIT_WHOIS_QUERY, profile.GetProfileString("", kWhoIsPrefix, "?"));
  CheckDlgButton(IDC_CHECK_AUTO_VITALS, BST_UNCHECKED);
  m_autoHostVitals = false;

  auto* servers = GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS);
  if (const auto names = WhoIsServerList::Read(WhoIsServerList::kFileName)) {
    for (const std::string& name : *names) servers->AddString(name);
    if (!names->empty()) servers->SetCurSel(0);
  }
  return true;
}

bool DlgPelorinTrace::IsReady() const { return m_thread && m_thread->Tracer().IsStop() != 0; }

void DlgPelorinTrace::SaveSettings() {
  if (m_app == nullptr) return;
  m_app->WriteProfileString("", kTraceWhoIsServer, GetDlgItemText(IDC_COMBO_WHOIS_SERVERS));
  m_app->WriteProfileString("", kTraceHost, GetDlgItemText(IDC_EDIT_TRACE_HOST));
  m_app->WriteProfileString("", kTraceIp, GetDlgItemText(IDC_IPADDRESS_TRACE));
  m_app->WriteProfileString("", kWhoIsPrefix, GetDlgItemText(IDC_EDIT_WHOIS_QUERY));
}

void DlgPelorinTrace::OnTrace() {
  if (!m_address) SaveSettings();
  if (!IsReady()) return;
  m_routeList->Clear();
  SetDlgItemText(IDC_RICHEDIT_VITALS, "");
  m_thread->PostThreadMessage(WM_PELORIN_TRACE, static_cast<std::uintptr_t>(m_preferHost));
  if (m_autoHostVitals) {
    SelectServerText();
    m_thread->PostThreadMessage(WM_PELORIN_HOST_VITALS_ALL);
  }
}

void DlgPelorinTrace::OnHostVitals() {
  if (!m_routeList || m_routeList->Count() == 0) return;
  if (!m_address) SaveSettings();
  SelectServerText();
  if (!IsReady()) return;
  SetDlgItemText(IDC_RICHEDIT_VITALS, "");
  for (int id : {IDC_LIST_ROUTE, IDC_BUTTON_QUERY, IDC_CHECK_USE_HOST_NAMES}) GetDlgItem(id)->EnableWindow(false);
  m_thread->PostThreadMessage(WM_PELORIN_HOST_VITALS_ALL);
}

void DlgPelorinTrace::OnQuery() {
  SaveSettings();
  if (!IsReady()) return;
  SetDlgItemText(IDC_RICHEDIT_VITALS, "");
  m_thread->PostThreadMessage(WM_PELORIN_WHOIS);
}

void DlgPelorinTrace::OnAddServer() { SelectServerText(); }

void DlgPelorinTrace::SelectServerText() {
  auto* servers = GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS);
  const std::string text = servers->GetWindowText();
  int index = -1;
  const std::vector<std::string> entries = servers->Entries();
  for (std::size_t i = 0; i < entries.size() && index < 0; ++i)
    if (entries[i] == text) index = static_cast<int>(i);
  if (index < 0 && !text.empty()) index = servers->AddString(text);
  if (index >= 0) servers->SetCurSel(index);
  GetDlgItem(IDC_BUTTON_ADD_SERVER)->EnableWindow(false);
}

void DlgPelorinTrace::OnRouteSelChange() {
  const int index = GetDlgItemAs<ListBox>(IDC_LIST_ROUTE)->GetCurSel();
  if (m_routeList->PointAt(index).valid) SetDlgItemText(IDC_RICHEDIT_VITALS, m_routeList->Detail(index));
}

void DlgPelorinTrace::OnRouteDblClk() {
  const int index = GetDlgItemAs<ListBox>(IDC_LIST_ROUTE)->GetCurSel();
  if (index < 0 || !m_thread) return;
  SelectServerText();
  m_thread->PostThreadMessage(WM_PELORIN_HOST_VITALS_ONE, static_cast<std::uintptr_t>(index));
}

void DlgPelorinTrace::StopWorker() {
  if (m_thread) m_thread->Stop();
}

void DlgPelorinTrace::OnDone() {
  if (m_done) return;
  m_done = true;
  StopWorker();
  m_thread.reset();
  if (m_routeList) m_routeList->Clear();
  if (!m_address) SaveSettings();
  std::vector<std::string> names;
  for (const std::string& name : GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS)->Entries())
    if (!name.empty()) names.push_back(name);
  WhoIsServerList::Write(WhoIsServerList::kFileName, names);
  EndDialog(IDCANCEL);
  if (m_parentList != nullptr)
    ::PostMessage(m_parentList->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(GetSafeHwnd()));
}

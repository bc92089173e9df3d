#include "controls/firewall/DlgPelorinFirewallIp.h"

#include <cstring>
#include <vector>

#include "common/AddressText.h"
#include "common/FieldText.h"
#include "common/RuleRange.h"
#include "controls/firewall/CRampaMem.h"
#include "controls/firewall/FirewallRuleFile.h"
#include "controls/firewall/RampaSharedBlock.h"
#include "platform/AppProfile.h"
#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/IpAddressControl.h"
#include "ui/ListControl.h"
#include "ui/UiServices.h"

namespace {

constexpr char kMappingName[] = "RamparoInterfaceMem.mem";
constexpr char kNoAddress[] = "0.0.0.0";

enum Column { kDescription = 0, kFrom = 1, kTo = 2, kStatus = 3 };

// Each column is as wide as its heading plus room for its texts.
constexpr int kColumnMargins[] = {100, 50, 50, 55};  // px
constexpr int kTextMargin = 12;                      // px beyond an address text
constexpr const char* kColumnTitles[] = {"Description", "Ip Range From", "Ip Range To", "Status"};

// The engine's key, where its interface file is registered.
AppProfile EngineKey() { return AppProfile("DunmereIncProducts\\Setup", "RamparoThreadApp"); }

AppProfile& ApplicationKey() {
  static AppProfile profile;
  return profile;
}

std::string ToText(const std::string& address) { return address == kNoAddress ? std::string() : address; }

// The row value of a rule: its IPv4 start, 0 for an IPv6 rule.
std::uint32_t RowValue(const std::string& from) { return IsIpv6Text(from) ? 0 : InetAddr(from.c_str()); }

}  // namespace

DlgPelorinFirewallIp::DlgPelorinFirewallIp(Window* parent, AppProfile* application, const _MonListMonItemDataIp* row)
    : Dialog(MakeTemplate(), parent), m_application(application) {
  if (row != nullptr) {
    m_prefill = *row;
    m_hasPrefill = true;
  }
  MapCommand(IDC_BUTTON_ADD, [this] { AddRule(); });
  MapCommand(IDC_BUTTON_SAVE, [this] { SaveRule(); });
  MapCommand(IDC_BUTTON_DELETE, [this] { DeleteRule(); });
  MapCommand(IDC_BUTTON_RESET, [this] { Reset(); });
  MapCommand(IDC_BUTTON_DONE, [this] { EndDialog(IDOK); });
}

void DlgPelorinFirewallIp::SetPrefill6(const std::uint8_t* address) {
  m_prefill6 = Inet6Ntop(address);
  m_hasPrefill = true;
}

DlgPelorinFirewallIp::~DlgPelorinFirewallIp() {
  DestroyWindow();
  if (m_channel) m_channel->MemDetach();
}

DialogTemplate DlgPelorinFirewallIp::MakeTemplate() {
  return DialogTemplate{"Pelorin Firewall Properties",
                        330,
                        214,
                        "MS Sans Serif",
                        8,
                        {ReportListItem(IDC_LIST_RULES, 7, 7, 316, 106, LVS_SINGLESEL), GroupItem("", 7, 116, 316, 72),
                         LabelItem("Rule Name : ", 14, 128, 60, 8), EditItem(IDC_EDIT_NAME, 78, 126, 150, 12),
                         // The address fields hold a whole IPv6 address.
                         LabelItem("Block Ip : ", 14, 146, 60, 8), IpAddressItem(IDC_IP_FROM, 78, 144, 156, 12),
                         LabelItem("Ip Range To : ", 14, 164, 60, 8), IpAddressItem(IDC_IP_TO, 78, 162, 156, 12),
                         CheckBoxItem(IDC_CHECK_ACTIVE, "Active", 240, 128, 60, 10),
                         RadioButtonItem(IDC_RADIO_ALLOW, "Allow", 240, 146, 60, 10, true).Hidden().Disabled(),
                         RadioButtonItem(IDC_RADIO_BLOCK, "Block", 240, 162, 60, 10).Hidden().Disabled(),
                         PushButtonItem(IDC_BUTTON_SAVE, "Save Rule", 7, 194, 58, 14),
                         DefPushButtonItem(IDC_BUTTON_ADD, "Add Rule", 71, 194, 58, 14),
                         PushButtonItem(IDC_BUTTON_DELETE, "Delete Rule", 135, 194, 58, 14),
                         PushButtonItem(IDC_BUTTON_RESET, "Reset", 199, 194, 58, 14),
                         PushButtonItem(IDC_BUTTON_DONE, "Done", 265, 194, 58, 14)}};
}

ListControl* DlgPelorinFirewallIp::List() const { return GetDlgItemAs<ListControl>(IDC_LIST_RULES); }

void DlgPelorinFirewallIp::GetMem() {
  AppProfile engine = EngineKey();
  Registry& store = engine.Store();
  if (!store.KeyExists(engine.AppKey())) {
    store.CreateKey(engine.AppKey());
    engine.WriteProfileString("", "RampaMemFile", "");
    m_interfaceFile.clear();
  } else {
    m_interfaceFile = engine.GetProfileString("", "RampaMemFile").substr(0, 259);
  }
  m_channel = std::make_unique<CRampaMem>(m_application, kMappingName, m_interfaceFile);
  m_channelView = m_channel->MemAttach(static_cast<CRampaThreadAppFrame*>(nullptr));
  // The attach zero-fills a block it creates; the used part stays clear of anything of ours.
  if (m_channelView != nullptr && m_channel->MemIsCreated()) std::memset(m_channelView, 0, kRampaUsedSize);
}

void DlgPelorinFirewallIp::ListCreate() {
  ListControl* list = List();
  if (list == nullptr) return;
  for (int column = 0; column < 4; ++column)
    list->InsertColumn(column, kColumnTitles[column], LVCFMT_LEFT,
                       list->GetStringWidth(kColumnTitles[column]) + kColumnMargins[column]);
}

bool DlgPelorinFirewallIp::OnInitDialog() {
  for (const int id : {IDC_IP_FROM, IDC_IP_TO})
    if (auto* address = GetDlgItemAs<IpAddressControl>(id)) address->AllowIpv6(true);
  GetMem();
  ListCreate();
  Reset();
  RuleFileGet();
  if (m_hasPrefill) {
    // The address of interest sits in the first address field; the second is 0 from both panes.
    const std::string from = m_prefill6.empty() ? InetNtoa(m_prefill.localAddr) : m_prefill6;
    const std::string to = InetNtoa(m_prefill.remoteAddr);
    if (from != kNoAddress) SetDlgItemText(IDC_IP_FROM, from);
    if (to != kNoAddress) SetDlgItemText(IDC_IP_TO, to);
    CheckDlgButton(IDC_CHECK_ACTIVE, BST_CHECKED);
  }
  if (auto* name = GetDlgItemAs<Edit>(IDC_EDIT_NAME)) name->LimitText(kNameLimit);
  return false;  // the focus is set
}

void DlgPelorinFirewallIp::RuleFileGet() {
  const AppProfile& profile = m_application != nullptr ? *m_application : ApplicationKey();
  m_ruleFilePath = profile.GetProfileString("", "PelorinFirewallCfgFileCurrent", kDefaultRuleFile);
}

void DlgPelorinFirewallIp::ClearFields() {
  SetDlgItemText(IDC_EDIT_NAME, "");
  SetDlgItemText(IDC_IP_FROM, "");
  SetDlgItemText(IDC_IP_TO, "");
}

void DlgPelorinFirewallIp::SetEditButtons(bool editing) {
  if (Window* save = GetDlgItem(IDC_BUTTON_SAVE)) save->EnableWindow(editing);
  if (Window* remove = GetDlgItem(IDC_BUTTON_DELETE)) remove->EnableWindow(editing);
  if (Window* add = GetDlgItem(IDC_BUTTON_ADD)) add->EnableWindow(!editing);
}

void DlgPelorinFirewallIp::FocusName() { GotoDlgCtrl(GetDlgItem(IDC_EDIT_NAME)); }

void DlgPelorinFirewallIp::Reset() {
  ClearFields();
  GotoDlgCtrl(GetDlgItem(IDC_IP_FROM));
  CheckDlgButton(IDC_RADIO_ALLOW, BST_UNCHECKED);
  CheckDlgButton(IDC_RADIO_BLOCK, BST_CHECKED);
  if (ListControl* list = List()) list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  m_editing = 0;
  SetEditButtons(false);
  RuleFileLoad();
}

void DlgPelorinFirewallIp::ClearRows() {
  if (ListControl* list = List()) list->DeleteAllItems();
  m_ruleCount = 0;
  m_selectedRow = -1;
}

bool DlgPelorinFirewallIp::RuleFileLoad() { return LoadRules(true); }

bool DlgPelorinFirewallIp::LoadRules(bool tellFailure) {
  RuleFileGet();
  const FirewallRuleFile::Contents contents =
      FirewallRuleFile::Read(m_ruleFilePath, kMaxRows, FirewallRuleFile::Sharing::Exclusive);
  ClearRows();
  // A file that is there but cannot be read keeps its rules to itself: until it is read, a
  // write would replace them with whatever the list holds.
  m_loaded = contents.opened || contents.missing;
  if (!m_loaded) {
    if (tellFailure) MessageBox(this, kLoadLockedText, kLockedCaption, MB_OK);
    return false;
  }
  if (ListControl* list = List()) {
    for (const _FirewallRule& rule : contents.rules) {
      const std::string from = RuleRangeText(rule, kRuleRangeStart);
      const int row = list->InsertItem(list->GetItemCount(), GetFieldText(rule.name), -1, RowValue(from));
      if (row < 0) continue;
      list->SetItemText(row, kFrom, from);
      list->SetItemText(row, kTo, RuleRangeText(rule, kRuleRangeEnd));
      list->SetItemText(row, kStatus, rule.active != 0 ? kActive : kNotActive);
      FitAddressColumns(row);
      ++m_ruleCount;
    }
  }
  FocusName();
  return true;
}

bool DlgPelorinFirewallIp::EnsureLoaded() {
  // The holder may have let go since: the file is read again before the change.
  if (m_loaded || LoadRules(false)) return true;
  MessageBox(this, kUnreadText, kLockedCaption, MB_OK);
  return false;
}

_FirewallRule DlgPelorinFirewallIp::RowRule(int row) const {
  _FirewallRule rule{};
  const ListControl* list = List();
  if (list == nullptr || row < 0 || row >= list->GetItemCount()) return rule;
  SetFieldText(rule.name, list->GetItemText(row, kDescription));
  rule.active = list->GetItemText(row, kStatus) == kActive ? 1 : 0;
  // The rows were checked when they were made: a pair of one family.
  SetRuleRange(rule, list->GetItemText(row, kFrom), list->GetItemText(row, kTo));
  rule.allow = 0;
  return rule;
}

bool DlgPelorinFirewallIp::RuleFileUpdate() {
  if (!m_loaded) {
    MessageBox(this, kUnreadText, kLockedCaption, MB_OK);
    return false;
  }
  RuleFileGet();
  std::vector<_FirewallRule> rules;
  if (const ListControl* list = List())
    for (int row = 0; row < list->GetItemCount(); ++row) rules.push_back(RowRule(row));
  if (FirewallRuleFile::Write(m_ruleFilePath, rules)) return true;
  MessageBox(this, kSaveLockedText, kLockedCaption, MB_OK);
  return false;
}

DlgPelorinFirewallIp::Fields DlgPelorinFirewallIp::TakeFields() const {
  Fields fields;
  fields.name = GetDlgItemText(IDC_EDIT_NAME);
  fields.from = GetDlgItemText(IDC_IP_FROM);
  fields.to = GetDlgItemText(IDC_IP_TO);
  fields.active = IsDlgButtonChecked(IDC_CHECK_ACTIVE) == BST_CHECKED;
  return fields;
}

bool DlgPelorinFirewallIp::CheckFields(const Fields& fields) {
  if (fields.from.empty() || fields.from == kNoAddress) {
    MessageBox(this, kInvalidText, kInvalidCaption, MB_OK);
    return false;
  }
  const std::string to = ToText(fields.to);
  if (!to.empty() && IsIpv6Text(to) != IsIpv6Text(fields.from)) {
    MessageBox(this, kMixedText, kInvalidCaption, MB_OK);
    return false;
  }
  return true;
}

void DlgPelorinFirewallIp::SetRow(int row, const Fields& fields) {
  ListControl* list = List();
  list->SetItemText(row, kDescription, fields.name);
  list->SetItemData(row, RowValue(fields.from));
  list->SetItemText(row, kFrom, fields.from);
  list->SetItemText(row, kTo, ToText(fields.to));
  list->SetItemText(row, kStatus, fields.active ? kActive : kNotActive);
  FitAddressColumns(row);
}

void DlgPelorinFirewallIp::FitAddressColumns(int row) {
  ListControl* list = List();
  for (const int column : {kFrom, kTo}) {
    const int width = list->GetStringWidth(list->GetItemText(row, column)) + kTextMargin;
    if (list->GetColumnWidth(column) < width) list->SetColumnWidth(column, width);
  }
}

void DlgPelorinFirewallIp::TellEngine() {
  if (m_channel && m_channel->MemField(kRampaOffEnginePresent) != 0 && m_channel->MemField(kRampaOffFiltering) != 0)
    SendEngineMessage(kRampaMsgReloadRules, 0, 0, 1);
}

void DlgPelorinFirewallIp::AddRule() {
  const Fields fields = TakeFields();
  if (!CheckFields(fields)) return;
  // The typed rule stays in the fields when the file's rules are still unknown.
  if (!EnsureLoaded()) return;
  ListControl* list = List();
  if (list == nullptr) return;
  const int row = list->InsertItem(m_ruleCount, fields.name);
  if (row < 0) return;
  SetRow(row, fields);
  ++m_ruleCount;
  const bool saved = RuleFileUpdate();
  ClearFields();
  if (saved) TellEngine();
  FocusName();
}

void DlgPelorinFirewallIp::EditRule() {
  const ListControl* list = List();
  if (list == nullptr || m_selectedRow < 0 || m_selectedRow >= list->GetItemCount()) return;
  SetEditButtons(true);
  SetDlgItemText(IDC_EDIT_NAME, list->GetItemText(m_selectedRow, kDescription));
  SetDlgItemText(IDC_IP_FROM, list->GetItemText(m_selectedRow, kFrom));
  SetDlgItemText(IDC_IP_TO, list->GetItemText(m_selectedRow, kTo));
  CheckDlgButton(IDC_CHECK_ACTIVE, list->GetItemText(m_selectedRow, kStatus) == kActive ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_RADIO_ALLOW, BST_UNCHECKED);
  CheckDlgButton(IDC_RADIO_BLOCK, BST_CHECKED);
  m_editing = 1;
}

void DlgPelorinFirewallIp::SaveRule() {
  const ListControl* list = List();
  if (!m_editing || list == nullptr || m_selectedRow < 0 || m_selectedRow >= list->GetItemCount()) return;
  const Fields fields = TakeFields();
  if (!CheckFields(fields)) return;
  SetRow(m_selectedRow, fields);
  const bool saved = RuleFileUpdate();
  m_editing = 0;
  SetEditButtons(false);
  ClearFields();
  FocusName();
  if (saved) TellEngine();
}

void DlgPelorinFirewallIp::DeleteRule() {
  ListControl* list = List();
  if (list == nullptr || m_selectedRow < 0 || m_selectedRow >= list->GetItemCount()) return;
  list->DeleteItem(m_selectedRow);
  m_selectedRow = -1;
  --m_ruleCount;
  const bool saved = RuleFileUpdate();
  m_editing = 0;
  SetEditButtons(false);
  FocusName();
  if (saved) TellEngine();
}

bool DlgPelorinFirewallIp::OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) {
  if (controlId != IDC_LIST_RULES || code != NM_CLICK) return Dialog::OnNotify(controlId, code, notify, result);
  // A click beside the rows chooses none.
  if (notify.iItem >= 0) {
    m_selectedRow = notify.iItem;
    EditRule();
  }
  if (result != nullptr) *result = 0;
  return true;
}

int DlgPelorinFirewallIp::SendEngineMessage(std::int32_t code, std::uint32_t wparam, std::int32_t lparam, int wait) {
  if (!m_channel || m_channel->MemField(kRampaOffEnginePresent) == 0) return 0;
  return m_channel->SendEngineMessage(code, wparam, lparam, wait);
}

std::uint8_t* DlgPelorinFirewallIp::SendEngineMessageWithReturn(std::int32_t code, std::uint32_t wparam,
                                                                std::int32_t lparam, int wait) {
  if (!m_channel || m_channel->MemField(kRampaOffEnginePresent) == 0) return nullptr;
  return m_channel->SendEngineMessageWithReturn(code, wparam, lparam, wait);
}

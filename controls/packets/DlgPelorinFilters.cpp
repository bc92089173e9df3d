#include "controls/packets/DlgPelorinFilters.h"

#include <climits>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/AddressText.h"
#include "common/Messages.h"
#include "controls/packets/DlgPelorinFiltersIds.h"
#include "controls/packets/PacketFilterFile.h"
#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/FileDialogRequest.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/HelpFile.h"
#include "ui/UiServices.h"

using namespace FiltersIds;

namespace {

constexpr char kCaption[] = "Pelorin Filters";
constexpr char kFileFilter[] = "Filter Files|*.flt||";
constexpr char kFiltersFolder[] = "Filters";

constexpr FilterList kAllLists[] = {
    FilterList::SourceIpMustBe, FilterList::SourceIpMustNotBe, FilterList::SourcePortMustBe,
    FilterList::SourcePortMustNotBe, FilterList::DestIpMustBe,  FilterList::DestIpMustNotBe,
    FilterList::DestPortMustBe,  FilterList::DestPortMustNotBe,
};

int FieldId(FilterList which) { return ListBase(static_cast<int>(which)); }
int AddId(FilterList which) { return ListBase(static_cast<int>(which)) + 1; }
int DelId(FilterList which) { return ListBase(static_cast<int>(which)) + 2; }
int ListId(FilterList which) { return ListBase(static_cast<int>(which)) + 3; }

// A decimal text as the C library's atoi reads it (blanks, a sign, digits, the rest ignored),
// saturating at the 32-bit limits instead of overflowing.
std::int32_t TextToInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<std::int32_t>(value);
}

// One "Ip ..." or "Port ..." group: its frame, entry field, "Add", "Del" and sorted list, 100 x 107
// dialog units from (x, y).
void AddListGroup(std::vector<DialogItem>& items, FilterList which, const char* title, int x, int y) {
  items.push_back(GroupItem(title, x, y, 100, 107));
  if (PacketFilterSet::IsPortList(which)) {
    items.push_back(EditItem(FieldId(which), x + 5, y + 11, 90, 12, ES_AUTOHSCROLL | ES_NUMBER));
  } else {
    items.push_back(IpAddressItem(FieldId(which), x + 5, y + 11, 90, 12));
  }
  items.push_back(PushButtonItem(AddId(which), "Add", x + 5, y + 26, 43, 13));
  items.push_back(PushButtonItem(DelId(which), "Del", x + 52, y + 26, 43, 13));
  items.push_back(ListBoxItem(ListId(which), x + 5, y + 42, 90, 60));
}

// "Source Filters" or "Destination Filters": its four lists side by side.
void AddDirection(std::vector<DialogItem>& items, const char* title, int y, FilterList first) {
  static const char* const kTitles[] = {"Ip Must Be", "Ip Must Not Be", "Port Must Be", "Port Must Not Be"};
  items.push_back(GroupItem(title, 5, y, 422, 121));
  for (int i = 0; i < 4; ++i)
    AddListGroup(items, static_cast<FilterList>(static_cast<int>(first) + i), kTitles[i], 10 + 103 * i, y + 10);
}

// Restores the working directory when it goes, whatever a file dialog did to it.
class WorkingDirectoryKeeper {
 public:
  WorkingDirectoryKeeper() { m_saved = std::filesystem::current_path(m_error); }
  ~WorkingDirectoryKeeper() {
    if (m_error) return;
    std::error_code ignored;
    if (std::filesystem::current_path(ignored) != m_saved) std::filesystem::current_path(m_saved, ignored);
  }
  WorkingDirectoryKeeper(const WorkingDirectoryKeeper&) = delete;
  WorkingDirectoryKeeper& operator=(const WorkingDirectoryKeeper&) = delete;

 private:
  std::error_code m_error;
  std::filesystem::path m_saved;
};

FileDialogRequest FilterFileRequest(bool open) {
  FileDialogRequest request;
  request.open = open;
  request.filter = kFileFilter;
  std::error_code error;
  request.initialDir = (std::filesystem::current_path(error) / kFiltersFolder).string();
  request.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | (open ? OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT);
  return request;
}

}  // namespace

DlgPelorinFilters::DlgPelorinFilters(Window* parent) : Dialog(MakeTemplate(), parent) {
  MapHandlers();
  CreateModeless(parent);
}

DlgPelorinFilters::DlgPelorinFilters(Window* parent, AppProfile* app, Window* monitorList, const std::string& registryPath)
    : Dialog(MakeTemplate(), parent), m_app(app), m_monitorList(monitorList), m_registryPath(registryPath) {
  MapHandlers();
  CreateModeless(parent);
}

DlgPelorinFilters::~DlgPelorinFilters() { DestroyWindow(); }

DialogTemplate DlgPelorinFilters::MakeTemplate() {
  std::vector<DialogItem> items;
  AddDirection(items, "Source Filters", 3, FilterList::SourceIpMustBe);
  AddDirection(items, "Destination Filters", 127, FilterList::DestIpMustBe);

  items.push_back(GroupItem("Srce. or Dest. Contains", 5, 251, 190, 30));
  items.push_back(LabelItem("Ip Address", 11, 265, 36, 8));
  items.push_back(IpAddressItem(IDC_IPADDRESS_OR, 48, 263, 72, 12));
  items.push_back(LabelItem("Port", 126, 265, 16, 8));
  items.push_back(EditItem(IDC_EDIT_ORPORT, 144, 263, 45, 12, ES_AUTOHSCROLL | ES_NUMBER));
  items.push_back(LabelItem("** 50 Maximum Entries per List", 8, 288, 185, 8));
  items.push_back(LabelItem("** Blank List Indicates No Filter", 8, 298, 185, 8));

  items.push_back(LabelItem("Packet Must Contain", 201, 256, 84, 8));
  items.push_back(EditItem(IDC_EDIT_MUSTCONTAIN, 287, 254, 76, 12));
  items.push_back(LabelItem("Packet Must Not Contain", 201, 271, 84, 8));
  items.push_back(EditItem(IDC_EDIT_MUSTNOTCONTAIN, 287, 269, 76, 12));
  items.push_back(LabelItem("Min. Packet Size", 201, 286, 84, 8));
  items.push_back(EditItem(IDC_EDIT_MINSIZE, 287, 284, 40, 12));
  items.push_back(LabelItem("Max. Packet Size", 201, 301, 84, 8));
  items.push_back(EditItem(IDC_EDIT_MAXSIZE, 287, 299, 40, 12));

  items.push_back(GroupItem("Use Protocols", 368, 251, 59, 60));
  items.push_back(CheckBoxItem(IDC_CHECK_TCP, "TCP", 374, 262, 45, 10));
  items.push_back(CheckBoxItem(IDC_CHECK_UDP, "UDP", 374, 274, 45, 10));
  items.push_back(CheckBoxItem(IDC_CHECK_ICMP, "ICMP", 374, 286, 45, 10));
  items.push_back(CheckBoxItem(IDC_CHECK_OTHER, "Other", 374, 298, 45, 10));

  const struct {
    int id;
    const char* text;
  } buttons[] = {{IDC_BUTTON_SAVEAS, "Save As"}, {IDC_BUTTON_LOADFILTERS, "Load Filters"},
                 {IDC_BUTTON_REFRESH, "Re-Load"}, {IDC_BUTTON_RESETALL, "Reset All"},
                 {IDC_BUTTON_APPLY, "Apply"},     {IDOK, "OK"},
                 {IDCANCEL, "Cancel"}};
  int x = 53;
  for (const auto& button : buttons) {
    items.push_back(button.id == IDOK ? DefPushButtonItem(button.id, button.text, x, 318, 50, 14)
                                      : PushButtonItem(button.id, button.text, x, 318, 50, 14));
    x += 54;
  }
  return DialogTemplate{"Pelorin Filters", 432, 338, "MS Sans Serif", 8, std::move(items)};
}

void DlgPelorinFilters::MapHandlers() {
  // The handlers are virtual where a derived class may take over, so map through this.
  const struct {
    int id;
    void (DlgPelorinFilters::*handler)();
  } commands[] = {
      {IDC_BUTTON_SIMBADD, &DlgPelorinFilters::OnButtonSimbadd},     {IDC_BUTTON_SIMBDEL, &DlgPelorinFilters::OnButtonSimbdel},
      {IDC_BUTTON_SIMNBADD, &DlgPelorinFilters::OnButtonSimnbadd},   {IDC_BUTTON_SIMNBDEL, &DlgPelorinFilters::OnButtonSimnbdel},
      {IDC_BUTTON_SPMBADD, &DlgPelorinFilters::OnButtonSpmbadd},     {IDC_BUTTON_SPMBDEL, &DlgPelorinFilters::OnButtonSpmbdel},
      {IDC_BUTTON_SPMNBADD, &DlgPelorinFilters::OnButtonSpmnbadd},   {IDC_BUTTON_SPMNBDEL, &DlgPelorinFilters::OnButtonSpmnbdel},
      {IDC_BUTTON_DIMBADD, &DlgPelorinFilters::OnButtonDimbadd},     {IDC_BUTTON_DIMBDEL, &DlgPelorinFilters::OnButtonDimbdel},
      {IDC_BUTTON_DIMNBADD, &DlgPelorinFilters::OnButtonDimnbadd},   {IDC_BUTTON_DIMNBDEL, &DlgPelorinFilters::OnButtonDimnbdel},
      {IDC_BUTTON_DPMBADD, &DlgPelorinFilters::OnButtonDpmbadd},     {IDC_BUTTON_DPMBDEL, &DlgPelorinFilters::OnButtonDpmbdel},
      {IDC_BUTTON_DPMNBADD, &DlgPelorinFilters::OnButtonDpmnbadd},   {IDC_BUTTON_DPMNBDEL, &DlgPelorinFilters::OnButtonDpmnbdel},
      {IDC_BUTTON_RESETALL, &DlgPelorinFilters::OnButtonResetall},   {IDC_BUTTON_REFRESH, &DlgPelorinFilters::OnButtonRefresh},
      {IDC_BUTTON_SAVEAS, &DlgPelorinFilters::OnButtonSaveas},       {IDC_BUTTON_LOADFILTERS, &DlgPelorinFilters::OnButtonLoadfilters},
      {IDC_BUTTON_APPLY, &DlgPelorinFilters::OnButtonApply},
  };
  for (const auto& command : commands) {
    auto handler = command.handler;
    MapCommand(static_cast<UINT>(command.id), [this, handler] { (this->*handler)(); });
  }
}

bool DlgPelorinFilters::OnInitDialog() {
  for (int id : {IDC_EDIT_MINSIZE, IDC_EDIT_MAXSIZE, IDC_EDIT_ORPORT})
    if (auto* edit = GetDlgItemAs<Edit>(id)) edit->LimitText(id == IDC_EDIT_ORPORT ? kPortFieldLimit : kSizeFieldLimit);
  for (int id : {IDC_EDIT_MUSTCONTAIN, IDC_EDIT_MUSTNOTCONTAIN})
    if (auto* edit = GetDlgItemAs<Edit>(id)) edit->LimitText(kTextFieldLimit);
  for (FilterList which : kAllLists) {
    if (!PacketFilterSet::IsPortList(which)) {
      if (auto* address = GetDlgItemAs<IpAddressControl>(FieldId(which))) address->AllowIpv6(true);
      continue;
    }
    if (auto* edit = GetDlgItemAs<Edit>(FieldId(which))) edit->LimitText(kPortFieldLimit);
  }
  if (auto* address = GetDlgItemAs<IpAddressControl>(IDC_IPADDRESS_OR)) address->AllowIpv6(true);
  // A fresh dialog shows every protocol, as an empty key reads.
  for (int id : {IDC_CHECK_TCP, IDC_CHECK_UDP, IDC_CHECK_ICMP, IDC_CHECK_OTHER}) CheckDlgButton(id, BST_CHECKED);
  ReportFailure(GetFilters(), kCaption);
  return true;
}

PacketFilterStore DlgPelorinFilters::Store() const {
  if (!m_registryPath.empty()) return PacketFilterStore(m_registryPath);
  if (m_app != nullptr) return PacketFilterStore::ForProfile(*m_app);
  return PacketFilterStore::ForProfile(AppProfile());
}

HRESULT DlgPelorinFilters::Fail(HRESULT code, const std::string& text) {
  m_lastError = text;
  return code;
}

void DlgPelorinFilters::ReportFailure(HRESULT code, const std::string& caption) {
  if (code == S_OK) return;
  ::MessageBox(this, m_lastError, caption, MB_OK | MB_ICONEXCLAMATION);
}

// --- Controls and filter sets ---------------------------------------------------------------

PacketFilterSet DlgPelorinFilters::ControlsToSet() const {
  PacketFilterSet set;
  for (FilterList which : kAllLists) {
    auto* list = GetDlgItemAs<ListBox>(ListId(which));
    if (list == nullptr) continue;
    auto& values = set.List(which);
    const bool port = PacketFilterSet::IsPortList(which);
    std::size_t entries = 0;
    for (const std::string& text : list->Lines()) {
      if (entries >= PacketFilterSet::kMaxEntries) break;
      // An empty port entry can be added from an empty field; it stands for no port and is
      // not saved.
      if (port && text.empty()) continue;
      ++entries;
      PacketFilterSet::Address6 address6{};
      if (!port && Inet6Pton(text.c_str(), address6.data()))
        set.List6(which).push_back(address6);
      else
        values.push_back(port ? static_cast<std::uint32_t>(TextToInt(text)) : InetAddr(text.c_str()));
    }
  }
  const std::string orIp = GetDlgItemText(IDC_IPADDRESS_OR);
  PacketFilterSet::Address6 orIp6{};
  if (Inet6Pton(orIp.c_str(), orIp6.data()))
    set.eitherAddress6 = orIp6;
  else if (!orIp.empty() && orIp != "0.0.0.0")
    set.eitherAddress = InetAddr(orIp.c_str());
  const std::string orPort = GetDlgItemText(IDC_EDIT_ORPORT);
  if (!orPort.empty() && orPort != "0") set.eitherPort = TextToInt(orPort);
  if (const std::string min = GetDlgItemText(IDC_EDIT_MINSIZE); !min.empty()) set.minSize = TextToInt(min);
  if (const std::string max = GetDlgItemText(IDC_EDIT_MAXSIZE); !max.empty()) set.maxSize = TextToInt(max);
  set.tcp = IsDlgButtonChecked(IDC_CHECK_TCP) == BST_CHECKED;
  set.udp = IsDlgButtonChecked(IDC_CHECK_UDP) == BST_CHECKED;
  set.icmp = IsDlgButtonChecked(IDC_CHECK_ICMP) == BST_CHECKED;
  set.other = IsDlgButtonChecked(IDC_CHECK_OTHER) == BST_CHECKED;
  set.mustContain = GetDlgItemText(IDC_EDIT_MUSTCONTAIN);
  set.mustNotContain = GetDlgItemText(IDC_EDIT_MUSTNOTCONTAIN);
  return set;
}

void DlgPelorinFilters::SetToControls(const PacketFilterSet& set) {
  for (FilterList which : kAllLists) {
    auto* list = GetDlgItemAs<ListBox>(ListId(which));
    if (list == nullptr) continue;
    list->ResetContent();
    const bool port = PacketFilterSet::IsPortList(which);
    for (std::uint32_t value : set.List(which))
      list->AddString(port ? std::to_string(static_cast<std::int32_t>(value)) : InetNtoa(value));
    for (const PacketFilterSet::Address6& address : set.List6(which)) list->AddString(Inet6Ntop(address.data()));
  }
  // Values of 0 say "not set" as much as missing ones do: their fields are left empty.
  if (set.eitherAddress6)
    SetDlgItemText(IDC_IPADDRESS_OR, Inet6Ntop(set.eitherAddress6->data()));
  else
    SetDlgItemText(IDC_IPADDRESS_OR, set.eitherAddress.value_or(0) != 0 ? InetNtoa(*set.eitherAddress) : "");
  SetDlgItemText(IDC_EDIT_ORPORT, set.eitherPort.value_or(0) != 0 ? std::to_string(*set.eitherPort) : "");
  SetDlgItemText(IDC_EDIT_MINSIZE, set.minSize.value_or(0) != 0 ? std::to_string(*set.minSize) : "");
  SetDlgItemText(IDC_EDIT_MAXSIZE, set.maxSize.value_or(0) != 0 ? std::to_string(*set.maxSize) : "");
  CheckDlgButton(IDC_CHECK_TCP, set.tcp ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_CHECK_UDP, set.udp ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_CHECK_ICMP, set.icmp ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_CHECK_OTHER, set.other ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemText(IDC_EDIT_MUSTCONTAIN, set.mustContain);
  SetDlgItemText(IDC_EDIT_MUSTNOTCONTAIN, set.mustNotContain);
}

// --- Registry and files ---------------------------------------------------------------------

HRESULT DlgPelorinFilters::GetFilters() {
  WaitCursor wait;
  PacketFilterSet set;
  const PacketFilterResult result = Store().Read(set);
  if (!result.Ok()) return Fail(result.code, result.message);
  SetToControls(set);
  return S_OK;
}

HRESULT DlgPelorinFilters::SaveFilters() {
  const PacketFilterResult result = Store().Save(ControlsToSet());
  return result.Ok() ? S_OK : Fail(result.code, result.message);
}

HRESULT DlgPelorinFilters::DeleteFilters() {
  const PacketFilterResult result = Store().Delete();
  return result.Ok() ? S_OK : Fail(result.code, result.message);
}

HRESULT DlgPelorinFilters::SaveFiltersFile(const std::string& path) {
  WaitCursor wait;
  const PacketFilterResult result = PacketFilterFile::Write(path, ControlsToSet());
  if (!result.Ok()) return Fail(result.code, result.message);
  return SaveFilters();
}

HRESULT DlgPelorinFilters::LoadFiltersFile(const std::string& path) {
  WaitCursor wait;
  PacketFilterSet set;
  const PacketFilterResult result = PacketFilterFile::Read(path, set);
  if (!result.Ok()) return Fail(result.code, result.message);
  SetToControls(set);
  return S_OK;
}

HRESULT DlgPelorinFilters::MakeFilterFileName(const std::string& chosen, std::string* fileName) const {
  if (chosen.empty() || fileName == nullptr) return E_UNEXPECTED;
  // Only the file's own name counts: a folder such as "x.flt.d" does not make "a" a filter file.
  const std::filesystem::path path(chosen);
  const std::string name = path.filename().string();
  if (name.empty()) return E_UNEXPECTED;
  *fileName = (path.parent_path() / PacketFilterFile::MakeFilterFileName(name)).string();
  return S_OK;
}

// --- Lists ------------------------------------------------------------------------------------

void DlgPelorinFilters::AddEntry(FilterList which) {
  auto* list = GetDlgItemAs<ListBox>(ListId(which));
  Window* field = GetDlgItem(FieldId(which));
  if (list == nullptr || field == nullptr) return;
  if (list->GetCount() >= kMaxListEntries) {
    ::MessageBox(this, "Maximum list items cannot exceed : " + std::to_string(kMaxListEntries) + "\n\n",
                 "Max items exceeded", MB_OK);
    return;
  }
  std::string text = field->GetWindowText();
  if (text.size() > static_cast<std::size_t>(kEntryLimit)) text.resize(kEntryLimit);
  list->AddString(text);
  GotoDlgCtrl(field);
}

void DlgPelorinFilters::DelEntry(FilterList which) {
  auto* list = GetDlgItemAs<ListBox>(ListId(which));
  if (list == nullptr) return;
  const int selected = list->GetCurSel();
  if (selected >= 0) {
    const std::string text = list->GetText(selected);
    list->DeleteString(selected);
    SetDlgItemText(FieldId(which), text);
  }
  list->SetFocus();
}

void DlgPelorinFilters::OnButtonSimbadd() { AddEntry(FilterList::SourceIpMustBe); }
void DlgPelorinFilters::OnButtonSimbdel() { DelEntry(FilterList::SourceIpMustBe); }
void DlgPelorinFilters::OnButtonSimnbadd() { AddEntry(FilterList::SourceIpMustNotBe); }
void DlgPelorinFilters::OnButtonSimnbdel() { DelEntry(FilterList::SourceIpMustNotBe); }
void DlgPelorinFilters::OnButtonSpmbadd() { AddEntry(FilterList::SourcePortMustBe); }
void DlgPelorinFilters::OnButtonSpmbdel() { DelEntry(FilterList::SourcePortMustBe); }
void DlgPelorinFilters::OnButtonSpmnbadd() { AddEntry(FilterList::SourcePortMustNotBe); }
void DlgPelorinFilters::OnButtonSpmnbdel() { DelEntry(FilterList::SourcePortMustNotBe); }
void DlgPelorinFilters::OnButtonDimbadd() { AddEntry(FilterList::DestIpMustBe); }
void DlgPelorinFilters::OnButtonDimbdel() { DelEntry(FilterList::DestIpMustBe); }
void DlgPelorinFilters::OnButtonDimnbadd() { AddEntry(FilterList::DestIpMustNotBe); }
void DlgPelorinFilters::OnButtonDimnbdel() { DelEntry(FilterList::DestIpMustNotBe); }
void DlgPelorinFilters::OnButtonDpmbadd() { AddEntry(FilterList::DestPortMustBe); }
void DlgPelorinFilters::OnButtonDpmbdel() { DelEntry(FilterList::DestPortMustBe); }
void DlgPelorinFilters::OnButtonDpmnbadd() { AddEntry(FilterList::DestPortMustNotBe); }
void DlgPelorinFilters::OnButtonDpmnbdel() { DelEntry(FilterList::DestPortMustNotBe); }

// --- Buttons ------------------------------------------------------------------------------------

void DlgPelorinFilters::OnButtonResetall() {
  WaitCursor wait;
  // The either-end port, the sizes and the texts keep what was typed.
  SetDlgItemText(IDC_IPADDRESS_OR, "");
  for (int id : {IDC_CHECK_TCP, IDC_CHECK_UDP, IDC_CHECK_ICMP, IDC_CHECK_OTHER}) CheckDlgButton(id, BST_CHECKED);
  for (FilterList which : kAllLists)
    if (auto* list = GetDlgItemAs<ListBox>(ListId(which))) list->ResetContent();
}

void DlgPelorinFilters::OnButtonRefresh() {
  OnButtonResetall();
  ReportFailure(GetFilters(), kCaption);
}

void DlgPelorinFilters::OnButtonSaveas() {
  OnButtonApply();
  WorkingDirectoryKeeper keeper;
  std::string chosen;
  if (!UiServices::Current().FileDialog(this, FilterFileRequest(false), &chosen)) return;
  std::string path;
  if (MakeFilterFileName(chosen, &path) != S_OK) return;
  ReportFailure(SaveFiltersFile(path), "Save As");
}

void DlgPelorinFilters::OnButtonLoadfilters() {
  WorkingDirectoryKeeper keeper;
  std::string chosen;
  if (!UiServices::Current().FileDialog(this, FilterFileRequest(true), &chosen)) return;
  if (!PacketFilterFile::IsFilterFileName(std::filesystem::path(chosen).filename().string())) {
    ::MessageBox(this, "Invalid Filters File ( .flt ).", "Invalid entry", MB_OK);
    return;
  }
  // A load starts from empty lists; a file that cannot be read leaves them empty.
  OnButtonResetall();
  ReportFailure(LoadFiltersFile(chosen), "Load Filters");
}

void DlgPelorinFilters::OnOK() {
  OnButtonApply();
  Close(IDOK);
}

void DlgPelorinFilters::OnCancel() { Close(IDCANCEL); }

void DlgPelorinFilters::Close(int result) {
  EndDialog(result);
  if (Window* owner = GetParentWindow())
    ::PostMessage(owner->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(GetSafeHwnd()));
}

bool DlgPelorinFilters::OnHelpInfo() {
  ShowHelp(this, kHelpCommand);
  return true;
}

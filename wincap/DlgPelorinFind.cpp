#include "wincap/DlgPelorinFind.h"

#include <cstdlib>
#include <memory>

#include "common/Messages.h"
#include "platform/AppProfile.h"
#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/IpAddressControl.h"
#include "ui/ListControl.h"
#include "wincap/PacketLogSet.h"
#include "ui/UiServices.h"
#include "wincap/LogPageSize.h"

namespace {

constexpr char kHexHint[] =
    "1 char. per pibble, 2 char.s per byte ( 0x is assumed ) ie...0F5DA1 ( 3 bytes, 6 pibbles )";
constexpr char kFindText[] = "Find";
constexpr char kStopText[] = "Stop";
constexpr std::size_t kCriterionLimit = 255;  // characters read from each criterion's control
constexpr int kSizeMinLimit = 50;             // characters

constexpr UINT kScanTimer = 1;
constexpr UINT kScanTimerMs = 50;
// Rows taken into the list per timer turn, so that a search matching nearly every record of a
// large log fills the list steadily instead of holding the user interface up.
constexpr std::size_t kRowsPerTurn = 20000;

struct Column {
  const char* title;
  int width;  // px
};
constexpr Column kColumns[] = {{"Page #", 50},  {"Packet #", 50}, {"File Pos.", 50},
                               {"Type", 25},    {"Matched", 250}, {"Size", 100}};

std::string PacketsFound(long rows) { return std::to_string(rows) + (rows == 1 ? " packet found" : " packets found"); }

int Number(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

}  // namespace

DlgPelorinFind::DlgPelorinFind(Window* parent) : Dialog(MakeTemplate(), parent) { MapButtons(); }

DlgPelorinFind::DlgPelorinFind(Window* parent, AppProfile* application, const std::string& logPath,
                               LONG pageSize)
    : Dialog(MakeTemplate(), parent),
      m_application(application),
      m_logPath(logPath),
      m_pageSize(ClampLogPageSize(pageSize)) {
  MapButtons();
}

DlgPelorinFind::~DlgPelorinFind() {
  m_scan.Stop();
  DestroyWindow();
}

DialogTemplate DlgPelorinFind::MakeTemplate() {
  return DialogTemplate{
      "Find",
      334,
      278,
      "MS Sans Serif",
      8,
      {GroupItem("Search Criteria ( match on any )", 7, 3, 320, 104),
       LabelItem("Text : ", 14, 17, 44, 8),
       EditItem(IDC_EDIT_TEXT, 62, 15, 200, 12),
       LabelItem("Hex :    0x", 14, 33, 44, 8),
       EditItem(IDC_EDIT_HEX, 62, 31, 200, 12),
       LabelItem(kHexHint, 62, 45, 258, 16),
       LabelItem("Ip : ", 14, 67, 44, 8),
       IpAddressItem(IDC_IP_FROM, 62, 65, 80, 12),
       LabelItem("To :", 150, 67, 16, 8),
       IpAddressItem(IDC_IP_TO, 170, 65, 80, 12),
       CheckBoxItem(IDC_CHECK_DISTINCT, "Find Distinct", 260, 65, 60, 12),
       LabelItem("Pkt.Size Min. : ", 14, 87, 56, 8),
       EditItem(IDC_EDIT_SIZE_MIN, 72, 85, 50, 12, ES_AUTOHSCROLL | ES_NUMBER),
       LabelItem("Max : ", 132, 87, 24, 8),
       EditItem(IDC_EDIT_SIZE_MAX, 158, 85, 50, 12, ES_AUTOHSCROLL | ES_NUMBER),
       GroupItem("Packets", 7, 110, 320, 144),
       ReportListItem(IDC_LIST_PACKETS, 13, 121, 308, 116, LVS_SINGLESEL),
       LabelItem("", 13, 241, 308, 9, IDC_STATIC_PROGRESS),
       DefPushButtonItem(IDOK, kFindText, 7, 259, 50, 14),
       PushButtonItem(IDC_BUTTON_RESET, "Reset", 62, 259, 50, 14),
       PushButtonItem(IDC_BUTTON_LOAD_FROM, "Load From", 117, 259, 50, 14),
       PushButtonItem(IDCANCEL, "Done", 277, 259, 50, 14)}};
}

void DlgPelorinFind::MapButtons() {
  MapCommand(IDC_BUTTON_RESET, [this] { OnReset(); });
  MapCommand(IDC_BUTTON_LOAD_FROM, [this] { OnLoadFrom(); });
  MapCommand(IDC_CHECK_DISTINCT, [this] { OnDistinct(); });
}

ListControl* DlgPelorinFind::GetResultList() const { return GetDlgItemAs<ListControl>(IDC_LIST_PACKETS); }

void DlgPelorinFind::ListCreate() {
  ListControl* list = GetResultList();
  if (list == nullptr) return;
  list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
  int index = 0;
  for (const Column& column : kColumns) list->InsertColumn(index++, column.title, LVCFMT_LEFT, column.width);
}

bool DlgPelorinFind::OnInitDialog() {
  ListCreate();
  if (auto* sizeMin = GetDlgItemAs<Edit>(IDC_EDIT_SIZE_MIN)) sizeMin->LimitText(kSizeMinLimit);
  for (int id : {IDC_IP_FROM, IDC_IP_TO})
    if (auto* address = GetDlgItemAs<IpAddressControl>(id)) address->AllowIpv6(true);
  if (m_application != nullptr) {
    LogFindTexts texts;
    texts.text = m_application->GetProfileString("", "FindText", "");
    texts.hex = m_application->GetProfileString("", "FindHex", "");
    texts.ipFrom = m_application->GetProfileString("", "FindIp", "");
    texts.ipTo = m_application->GetProfileString("", "FindIpTo", "");
    texts.sizeMin = m_application->GetProfileString("", "FindPktSize", "");
    texts.sizeMax = m_application->GetProfileString("", "FindPktSizeTo", "");
    m_criteria = LogFindCriteria(texts);
    m_distinct = m_application->GetProfileInt("", "FindDistinct", 0) != 0;
  }
  PutCriteria();
  if (m_logPath.empty()) {
    SetWindowText(kInvalidLogTitle);
    if (Window* find = GetDlgItem(IDOK)) find->EnableWindow(false);
    if (Window* done = GetDlgItem(IDCANCEL)) done->EnableWindow(false);
  } else {
    const std::size_t slash = m_logPath.find_last_of('/');
    SetWindowText(slash == std::string::npos ? m_logPath : m_logPath.substr(slash));
  }
  return true;
}

void DlgPelorinFind::PutCriteria() {
  const LogFindTexts& texts = m_criteria.Texts();
  SetDlgItemText(IDC_EDIT_TEXT, texts.text);
  SetDlgItemText(IDC_EDIT_HEX, texts.hex);
  for (auto [id, text] : {std::pair{IDC_IP_FROM, &texts.ipFrom}, std::pair{IDC_IP_TO, &texts.ipTo}})
    if (auto* address = GetDlgItemAs<IpAddressControl>(id)) {
      // 0.0.0.0 is what an empty field reads: show it empty.
      if (text->empty() || *text == "0.0.0.0")
        address->ClearAddress();
      else
        address->SetWindowText(*text);
    }
  SetDlgItemText(IDC_EDIT_SIZE_MIN, texts.sizeMin);
  SetDlgItemText(IDC_EDIT_SIZE_MAX, texts.sizeMax);
  CheckDlgButton(IDC_CHECK_DISTINCT, m_distinct ? 1 : 0);
}

void DlgPelorinFind::ReadCriteria() {
  const auto read = [this](int id) { return GetDlgItemText(id).substr(0, kCriterionLimit); };
  LogFindTexts texts;
  texts.text = read(IDC_EDIT_TEXT);
  texts.hex = read(IDC_EDIT_HEX);
  texts.ipFrom = read(IDC_IP_FROM);
  texts.ipTo = read(IDC_IP_TO);
  texts.sizeMin = read(IDC_EDIT_SIZE_MIN);
  texts.sizeMax = read(IDC_EDIT_SIZE_MAX);
  m_criteria = LogFindCriteria(texts);
}

void DlgPelorinFind::SaveCriteria() {
  if (m_application == nullptr) return;
  const LogFindTexts& texts = m_criteria.Texts();
  m_application->WriteProfileString("", "FindText", texts.text);
  m_application->WriteProfileString("", "FindHex", texts.hex);
  m_application->WriteProfileString("", "FindIp", texts.ipFrom);
  m_application->WriteProfileString("", "FindIpTo", texts.ipTo);
  m_application->WriteProfileString("", "FindPktSize", texts.sizeMin);
  m_application->WriteProfileString("", "FindPktSizeTo", texts.sizeMax);
  m_application->WriteProfileInt("", "FindDistinct", m_distinct ? 1 : 0);
}

void DlgPelorinFind::OnOK() {
  if (IsSearching()) {
    StopSearch();
    ShowFound();
    return;
  }
  WaitCursor wait;
  ReadCriteria();
  SaveCriteria();
  Find();
}

bool DlgPelorinFind::Find() {
  StopSearch();
  KillTimer(kScanTimer);
  m_finished = true;
  if (ListControl* list = GetResultList()) list->DeleteAllItems();
  m_rowsShown = 0;
  m_selectedRow = m_selectedColumn = -1;
  m_selected.reset();
  SetDlgItemText(IDOK, kFindText);

  // The search runs through every file of the log's numbered set, oldest first.
  if (m_logPath.empty() || PacketLogSet::Files(m_logPath).empty()) {
    SetProgressText("");
    return false;
  }
  m_search = std::make_unique<LogFindSearch>(m_criteria, m_pageSize);
  m_search->SetDistinct(m_distinct);
  LogFindSearch* search = m_search.get();
  m_finished = false;
  m_scan.Start(
      [search, first = m_logPath](LogScanThread<LogFindHit>& scan) {
        search->RunSet(first, [&scan](LogFindHit&& hit) { scan.Add(std::move(hit)); }, &scan.StopFlag(),
                       &scan.Done());
      },
      PacketLogSet::TotalBytes(m_logPath));
  SetDlgItemText(IDOK, kStopText);
  SetProgressText("Searching... 0 %");
  SetTimer(kScanTimer, kScanTimerMs);
  return true;
}

void DlgPelorinFind::StopSearch() { m_scan.Stop(); }

void DlgPelorinFind::OnTimer(UINT id) {
  if (id == kScanTimer)
    ShowFound();
  else
    Dialog::OnTimer(id);
}

void DlgPelorinFind::ShowFound() {
  if (m_finished) return;
  for (const LogFindHit& hit : m_scan.Take(kRowsPerTurn)) ShowPacket(hit);
  if (!m_scan.IsFinished() || m_scan.HasRows()) {
    SetProgressText("Searching... " + std::to_string(m_scan.Percent()) + " %");
    return;
  }
  KillTimer(kScanTimer);
  m_finished = true;
  SetDlgItemText(IDOK, kFindText);
  if (m_scan.IsStopRequested())
    SetProgressText("Search stopped at " + std::to_string(m_scan.Percent()) + " %: " + PacketsFound(m_rowsShown));
  else
    SetProgressText("Search done: " + PacketsFound(m_rowsShown));
}

void DlgPelorinFind::SetProgressText(const std::string& text) { SetDlgItemText(IDC_STATIC_PROGRESS, text); }

void DlgPelorinFind::ShowPacket(const LogFindHit& hit) {
  ListControl* list = GetResultList();
  if (list == nullptr) return;
  const _LogFind& found = hit.find;
  const int row = list->InsertItem(list->GetItemCount(), std::to_string(found.page));
  if (row < 0) return;
  list->SetItemText(row, 1, std::to_string(found.packet));
  list->SetItemText(row, 2, std::to_string(found.position));
  list->SetItemText(row, 3, LogFindSearch::TypeText(found.protocol, hit.ipv6));
  list->SetItemText(row, 4, hit.matched);
  list->SetItemText(row, 5, std::to_string(found.size));
  list->SetItemData(row, hit.file);
  ++m_rowsShown;
}

bool DlgPelorinFind::RowRecord(int row, _LogFind* found) const {
  ListControl* list = GetResultList();
  if (list == nullptr || row < 0 || row >= list->GetItemCount()) return false;
  found->page = Number(list->GetItemText(row, 0));
  found->packet = Number(list->GetItemText(row, 1));
  found->position = Number(list->GetItemText(row, 2));
  found->protocol = LogFindSearch::ProtocolOf(list->GetItemText(row, 3));
  found->size = Number(list->GetItemText(row, 5));
  return true;
}

std::uint32_t DlgPelorinFind::RowFile(int row) const {
  ListControl* list = GetResultList();
  if (list == nullptr || row < 0 || row >= list->GetItemCount()) return 0;
  return static_cast<std::uint32_t>(list->GetItemData(row));
}

int DlgPelorinFind::LoadSelectedPage() {
  _LogFind found{};
  if (!RowRecord(m_selectedRow, &found)) return 0;
  m_selected = found;
  m_selectedFile = RowFile(m_selectedRow);
  return 1;
}

void DlgPelorinFind::OnLoadFrom() {
  if (LoadSelectedPage() == 0) return;
  m_clearSelectionOnClose = false;
  OnCancel();
  m_clearSelectionOnClose = true;
}

void DlgPelorinFind::OnCancel() {
  StopSearch();
  KillTimer(kScanTimer);
  if (m_clearSelectionOnClose) m_selected.reset();
  EndDialog(IDCANCEL);
}

void DlgPelorinFind::OnReset() {
  for (int id : {IDC_EDIT_TEXT, IDC_EDIT_HEX, IDC_IP_FROM, IDC_IP_TO}) SetDlgItemText(id, "");
  LogFindTexts texts = m_criteria.Texts();
  texts.text.clear();
  texts.hex.clear();
  texts.ipFrom.clear();
  texts.ipTo.clear();
  m_criteria = LogFindCriteria(texts);
}

void DlgPelorinFind::OnDistinct() {
  m_distinct = IsDlgButtonChecked(IDC_CHECK_DISTINCT) != 0;
  if (m_search) m_search->SetDistinct(m_distinct);  // a search that runs counts it from now on
}

void DlgPelorinFind::ListDlgClose(Window*) {}

void DlgPelorinFind::OnClickListPackets(const ListNotify& notify, LRESULT* result) {
  m_selectedRow = notify.iItem;
  m_selectedColumn = notify.iSubItem;
  if (result != nullptr) *result = 0;
}

void DlgPelorinFind::OnDblclkListPackets(const ListNotify& notify, LRESULT* result) {
  m_selectedRow = notify.iItem;
  m_selectedColumn = notify.iSubItem;
  if (result != nullptr) *result = 0;
}

bool DlgPelorinFind::OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result) {
  if (controlId != IDC_LIST_PACKETS) return Dialog::OnNotify(controlId, code, notify, result);
  switch (code) {
    case NM_CLICK:
      OnClickListPackets(notify, result);
      return true;
    case NM_DBLCLK:
      OnDblclkListPackets(notify, result);
      return true;
    case LVN_ITEMCHANGED:
      // A row reached with the arrow keys is as chosen as a clicked one.
      if ((notify.uNewState & LVIS_SELECTED) != 0 && (notify.uOldState & LVIS_SELECTED) == 0)
        m_selectedRow = notify.iItem;
      return true;
    default:
      return false;
  }
}

LRESULT DlgPelorinFind::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PELORIN_CLOSE_WINDOW) {
    if (Window* window = Window::FromHandle(static_cast<HWND>(lParam))) ListDlgClose(window);
    return 0;
  }
  return Dialog::WindowProc(message, wParam, lParam);
}

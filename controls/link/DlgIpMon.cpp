#include "controls/link/DlgIpMon.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/AddressText.h"
#include "common/Messages.h"
#include "common/ShowPacketReceivePackIp.h"
#include "controls/connections/MonListMon.h"
#include "controls/inspect/DlgPelorinFindPkt.h"
#include "controls/link/DlgIpMonSetLink.h"
#include "controls/link/IpMon.h"
#include "controls/link/LinkFilter.h"
#include "controls/link/LinkLogFiles.h"
#include "controls/link/PelorinCThreadIpMon.h"
#include "controls/packets/DlgPacketLogExport.h"
#include "controls/packets/WiresharkHandoff.h"
#include "platform/AppProfile.h"
#include "ui/Edit.h"
#include "ui/ListRow.h"
#include "ui/Menu.h"
#include "ui/UiServices.h"
#include "wincap/DlgPelorinLogPages.h"

namespace {

constexpr char kNoAdapterText[] =
    "No selected network Interface detected.\n\nSelect menus File->Properties and select\nInterfaces. Select a "
    "network Interface from\nthe available network cards.\n\nRead detail information on the Network "
    "Interface\nin Help...( F1 ).\n\n";
constexpr char kNoAdapterCaption[] = "Network Card Interface";
constexpr char kInvalidFileText[] = "Invalid Connection Monitor File ( .cnl ).";
constexpr char kInvalidFileCaption[] = "Invalid entry";
constexpr char kNotALogText[] = " is not a packet log: the current log is kept.";
constexpr char kSaveFailedText[] = "The log could not be saved as ";
constexpr char kSaveCaption[] = "Save Log";
constexpr char kLoadCaption[] = "Load Log";
constexpr char kOtherMonitorText[] = " is the log of another link monitor: the current log is kept.";
constexpr char kReadOnlyText[] = " is read-only: the current log is kept.";
constexpr char kNotCreatedText[] = "The link monitor could not be created: ";
constexpr char kNotCreatedEnd[] = ".\n\nOnly Done works in this window.";
constexpr char kNoRowText[] = "\n\nYou must select an item to load from...\n\n";
constexpr char kNoRowCaption[] = "Load From Item";
constexpr char kRangeNote[] =
    "* ( 0 ) = no usage ie...Start = 0, End = 200 - log only 1st 200 bytes. Start = 100, End = 0 - log from 100 to "
    "end.";

constexpr int kListInset = 20;  // px inside the "Title" group, left and top
constexpr Point kUnownedCorner{100, 100};

// The packet list's columns.
constexpr int kColumnType = 0;
constexpr int kColumnFrom = 2;
constexpr int kColumnFromPort = 3;
constexpr int kColumnTo = 4;
constexpr int kColumnToPort = 5;

struct FlagBox {
  int id;
  DWORD flag;
};
constexpr FlagBox kFlagBoxes[] = {{DlgIpMon::IDC_CHECK_TYPE, LinkFilter::kType},
                                  {DlgIpMon::IDC_CHECK_FROM_ADDR, LinkFilter::kFromAddr},
                                  {DlgIpMon::IDC_CHECK_FROM_PORT, LinkFilter::kFromPort},
                                  {DlgIpMon::IDC_CHECK_TO_ADDR, LinkFilter::kToAddr},
                                  {DlgIpMon::IDC_CHECK_TO_PORT, LinkFilter::kToPort}};

// Every control a user can change but Done: a monitor without its list disables them all.
constexpr int kListControls[] = {
    DlgIpMon::IDC_BUTTON_START,    DlgIpMon::IDC_BUTTON_STOP,        DlgIpMon::IDC_BUTTON_SAVE_LOG,
    DlgIpMon::IDC_BUTTON_LOAD_LOG, DlgIpMon::IDC_BUTTON_CLEAR,       DlgIpMon::IDC_EDIT_RANGE_START,
    DlgIpMon::IDC_EDIT_RANGE_END,  DlgIpMon::IDC_BUTTON_APPLY_RANGE, DlgIpMon::IDC_CHECK_FROM_ADDR,
    DlgIpMon::IDC_CHECK_FROM_PORT, DlgIpMon::IDC_CHECK_TO_ADDR,      DlgIpMon::IDC_CHECK_TO_PORT,
    DlgIpMon::IDC_CHECK_TYPE,      DlgIpMon::IDC_BUTTON_FROM,        DlgIpMon::IDC_BUTTON_LOAD_PAGE,
    DlgIpMon::IDC_EDIT_PAGE_SIZE,  DlgIpMon::IDC_BUTTON_FIND,        DlgIpMon::IDC_EDIT_MIN_SIZE,
    DlgIpMon::IDC_EDIT_MAX_SIZE,   DlgIpMon::IDC_BUTTON_APPLY_SIZES, DlgIpMon::IDC_BUTTON_SET_LINK,
    DlgIpMon::IDC_BUTTON_FEED,     DlgIpMon::IDC_BUTTON_EXPORT};

// The buttons a running capture disables, and that stopping enables again.
constexpr int kIdleOnly[] = {DlgIpMon::IDC_BUTTON_START,     DlgIpMon::IDC_BUTTON_SAVE_LOG,
                             DlgIpMon::IDC_BUTTON_LOAD_LOG,  DlgIpMon::IDC_BUTTON_FROM,
                             DlgIpMon::IDC_BUTTON_LOAD_PAGE, DlgIpMon::IDC_EDIT_PAGE_SIZE,
                             DlgIpMon::IDC_BUTTON_FIND,      DlgIpMon::IDC_BUTTON_SET_LINK};

// The file dialogs may move the current folder; the window puts it back.
class KeepCurrentFolder {
 public:
  KeepCurrentFolder() { m_folder = std::filesystem::current_path(m_error); }
  ~KeepCurrentFolder() {
    if (!m_error) std::filesystem::current_path(m_folder, m_error);
  }

 private:
  std::error_code m_error;
  std::filesystem::path m_folder;
};

}  // namespace

DlgIpMon::DlgIpMon(Window* parent, AppProfile* app, const std::string& nameText, Point clickPoint,
                   const std::string& description, const _MonListMonItemDataIp* link, MonListMon* connections,
                   MonListIpMon* packets, const std::optional<LinkAddresses6>& link6)
    : Dialog(MakeTemplate(), parent),
      m_app(app),
      m_parent(parent),
      m_connections(connections),
      m_packets(connections ? nullptr : packets),
      m_nameText(nameText),
      m_description(description),
      m_clickPoint(clickPoint) {
  if (link != nullptr) {
    m_link = *link;
    m_link6 = link6;
    m_linkSet = true;
    // The openers begin the description with the row's "Type" text.
    const std::size_t dash = description.find(" - ");
    m_protocol = dash == std::string::npos ? std::string() : description.substr(0, dash);
  }
  MapHandlers();
  CreateModeless(parent);
}

DlgIpMon::~DlgIpMon() {
  if (m_list) m_list->ProcessClose();
  m_list.reset();
  DestroyWindow();
}

DialogTemplate DlgIpMon::MakeTemplate() {
  std::vector<DialogItem> items = {
      GroupItem("Title", 4, 2, 374, 132, IDC_GROUP_TITLE),
      EditItem(IDC_EDIT_LOG_PATH, 4, 137, 374, 12, ES_AUTOHSCROLL | ES_READONLY),
      GroupItem("Logging", 4, 151, 374, 36, IDC_GROUP_LOGGING),
      LabelItem("Log Packet Range Start :", 10, 163, 80, 8),
      EditItem(IDC_EDIT_RANGE_START, 92, 161, 36, 12, ES_AUTOHSCROLL | ES_NUMBER),
      LabelItem("To : ", 132, 163, 16, 8),
      EditItem(IDC_EDIT_RANGE_END, 150, 161, 36, 12, ES_AUTOHSCROLL | ES_NUMBER),
      PushButtonItem(IDC_BUTTON_APPLY_RANGE, "Apply Range", 312, 160, 60, 14),
      LabelItem(kRangeNote, 10, 176, 362, 8),
      GroupItem("Filtering", 4, 189, 374, 42, IDC_GROUP_FILTERING),
      CheckBoxItem(IDC_CHECK_TYPE, "Type", 10, 200, 40, 10),
      CheckBoxItem(IDC_CHECK_FROM_ADDR, "From Addr.", 54, 200, 54, 10),
      CheckBoxItem(IDC_CHECK_FROM_PORT, "From Port", 112, 200, 50, 10),
      CheckBoxItem(IDC_CHECK_TO_ADDR, "To Addr.", 166, 200, 46, 10),
      CheckBoxItem(IDC_CHECK_TO_PORT, "To Port", 216, 200, 44, 10),
      PushButtonItem(IDC_BUTTON_SET_LINK, "Set Link", 312, 198, 60, 14),
      LabelItem("Min. Packet Size : ", 10, 216, 62, 8),
      EditItem(IDC_EDIT_MIN_SIZE, 74, 214, 36, 12, ES_AUTOHSCROLL | ES_NUMBER),
      LabelItem("Max. Packet Size : ", 118, 216, 62, 8),
      EditItem(IDC_EDIT_MAX_SIZE, 182, 214, 36, 12, ES_AUTOHSCROLL | ES_NUMBER),
      PushButtonItem(IDC_BUTTON_APPLY_SIZES, "Apply Sizes", 248, 213, 60, 14),
      LabelItem("Log Page", 4, 234, 374, 8, IDC_STATIC_LOG_PAGE),
      GroupItem("Logs                                     Page Size", 4, 243, 374, 30, IDC_GROUP_LOGS),
      PushButtonItem(IDC_BUTTON_SAVE_LOG, "Save Log", 10, 254, 50, 14),
      PushButtonItem(IDC_BUTTON_LOAD_LOG, "Load Log", 64, 254, 50, 14),
      PushButtonItem(IDC_BUTTON_LOAD_PAGE, "Load Page", 118, 254, 50, 14),
      PushButtonItem(IDC_BUTTON_FROM, "->From", 172, 254, 50, 14),
      EditItem(IDC_EDIT_PAGE_SIZE, 228, 255, 40, 12, ES_AUTOHSCROLL | ES_NUMBER),
      PushButtonItem(IDC_BUTTON_FIND, "Find", 274, 254, 50, 14),
      PushButtonItem(IDC_BUTTON_START, "Start Monitor", 4, 282, 62, 14),
      PushButtonItem(IDC_BUTTON_STOP, "Stop Monitor", 70, 282, 62, 14),
      PushButtonItem(IDC_BUTTON_FEED, "Feed", 136, 282, 50, 14),
      PushButtonItem(IDC_BUTTON_CLEAR, "Clear", 190, 282, 50, 14),
      PushButtonItem(IDC_BUTTON_EXPORT, "Export Packet Log...", 244, 282, 80, 14),
      DefPushButtonItem(IDC_BUTTON_DONE, "Done", 328, 282, 50, 14),
  };
  return DialogTemplate{kCaption, 382, 310, "MS Sans Serif", 8, std::move(items)};
}

void DlgIpMon::MapHandlers() {
  MapCommand(IDC_BUTTON_START, [this] { OnStartMonitor(); });
  MapCommand(IDC_BUTTON_STOP, [this] { OnStopMonitor(); });
  MapCommand(IDC_BUTTON_APPLY_RANGE, [this] { OnApplyRange(); });
  MapCommand(IDC_BUTTON_APPLY_SIZES, [this] { OnApplySizes(); });
  MapCommand(IDC_BUTTON_CLEAR, [this] { OnClear(); });
  MapCommand(IDC_BUTTON_FEED, [this] { OnFeed(); });
  MapCommand(IDC_BUTTON_EXPORT, [this] { OnExportLog(); });
  MapCommand(IDC_BUTTON_SET_LINK, [this] { OnSetLink(); });
  MapCommand(IDC_BUTTON_SAVE_LOG, [this] { OnSaveLog(); });
  MapCommand(IDC_BUTTON_LOAD_LOG, [this] { OnLoadLog(); });
  MapCommand(IDC_BUTTON_LOAD_PAGE, [this] { OnLoadPage(); });
  MapCommand(IDC_BUTTON_FROM, [this] { OnLoadFrom(); });
  MapCommand(IDC_BUTTON_FIND, [this] { OnFind(); });
  for (const FlagBox& box : kFlagBoxes)
    MapCommand(box.id, [this, box] {
      if (PelorinCThreadIpMon* thread = GetThread()) thread->SetMonFlags(box.flag, IsDlgButtonChecked(box.id));
    });
  MapCommand(ID_LINK_ALLOW_BLOCK, [this] { OnAllowBlock(); });
  MapCommand(ID_LINK_COMPARE, [this] { OnCompare(); });
  MapCommand(ID_LINK_COMPARE_ADD, [this] { OnCompareAdd(); });
  MapCommand(ID_LINK_TRACE, [this] { OnTrace(); });
  WiresharkHandoff::MapCommands(*this, [this]() -> MonListIpMon* { return m_list.get(); });
}

PelorinCThreadIpMon* DlgIpMon::GetThread() const { return m_list ? m_list->GetLinkThread() : nullptr; }

Window* DlgIpMon::OpeningList() const {
  if (m_connections) return m_connections;
  return m_packets;
}

void DlgIpMon::EnableItems(std::initializer_list<int> ids, bool enable) {
  for (int id : ids)
    if (Window* item = GetDlgItem(id)) item->EnableWindow(enable);
}

bool DlgIpMon::OnInitDialog() {
  const AppProfile fallback;
  const AppProfile& profile = m_app ? *m_app : fallback;
  m_folder = profile.GetProfileString("", PelorinCThreadIpMon::kFolderKey, PelorinCThreadIpMon::kFolderDefault);

  // The list fills the "Title" group but for a margin.
  Rect area{0, 0, 300, 200};
  if (Window* group = GetDlgItem(IDC_GROUP_TITLE)) {
    area = group->GetWindowRect();
    ScreenToClient(&area);
  }
  const Rect listRect{area.left + kListInset, area.top + kListInset, area.right - kListInset,
                      area.bottom - kListInset};
  m_list = std::make_unique<IpMon>(m_app, m_link, m_protocol, m_nameText, m_link6);
  if (m_list->MonListCreate(this, IDC_LIST, listRect) != 0) {
    // Without its list and thread the window can only be closed; every handler finds no list.
    MessageBox(this, kNotCreatedText + m_list->CreateFailure() + kNotCreatedEnd, kCaption, MB_OK);
    m_list.reset();
    for (int id : kListControls) EnableItems({id}, false);
    ShowOpeningTitle();
    PlaceWindow();
    return true;
  }
  // The list is made hidden, like every pane; it is shown here, over the group that frames it.
  m_list->SetWindowPos(HWND_TOP, listRect.left, listRect.top, listRect.Width(), listRect.Height(), SWP_SHOWWINDOW);
  m_list->ListCreateFont(10, "Courier New");
  m_list->ListSetFont();
  PelorinCThreadIpMon* thread = GetThread();
  thread->LogSetPageSize(m_pageSize);
  for (int id : {IDC_EDIT_PAGE_SIZE, IDC_EDIT_MIN_SIZE, IDC_EDIT_MAX_SIZE})
    if (auto* edit = GetDlgItemAs<Edit>(id)) edit->LimitText(kNumberLimit);

  EnableItems({IDC_BUTTON_STOP}, false);
  if (profile.GetProfileInt("", "AdapterCurr", 0) < 0) {
    MessageBox(this, kNoAdapterText, kNoAdapterCaption, MB_OK);
    EnableItems({IDC_BUTTON_START, IDC_BUTTON_STOP, IDC_BUTTON_SAVE_LOG, IDC_BUTTON_LOAD_LOG, IDC_BUTTON_FROM}, false);
  } else if (!m_linkSet) {
    EnableItems({IDC_BUTTON_START, IDC_BUTTON_STOP, IDC_BUTTON_SAVE_LOG}, false);
    EnableItems({IDC_BUTTON_LOAD_LOG, IDC_BUTTON_FROM, IDC_BUTTON_SET_LINK}, true);
  } else {
    OnStartMonitor();
    EnableItems({IDC_BUTTON_SET_LINK}, false);
  }

  ShowLogPath();
  DWORD start = 0, end = 0;
  thread->LogGetRange(&start, &end);
  SetDlgItemInt(IDC_EDIT_RANGE_START, static_cast<int>(start));
  SetDlgItemInt(IDC_EDIT_RANGE_END, static_cast<int>(end));
  ShowOpeningTitle();
  ShowFlags();

  SetDlgItemInt(IDC_EDIT_PAGE_SIZE, profile.GetProfileInt("", "LogPageSize", 256));
  const int minimum = profile.GetProfileInt("", "ConnectionsMinPktSz", 0);
  const int maximum = profile.GetProfileInt("", "ConnectionsMaxPktSz", 0);
  SetDlgItemText(IDC_EDIT_MIN_SIZE, minimum ? std::to_string(minimum) : "");
  SetDlgItemText(IDC_EDIT_MAX_SIZE, maximum ? std::to_string(maximum) : "");
  thread->SetPacketSize(minimum, maximum);
  PlaceWindow();
  return true;
}

void DlgIpMon::ShowOpeningTitle() {
  if (m_linkSet)
    SetTitle(m_description);
  else
    SetWindowText(m_description.empty() ? kCaption : m_description);
}

void DlgIpMon::PlaceWindow() {
  const Rect own = GetWindowRect();
  Point corner = kUnownedCorner;
  if (Window* list = OpeningList()) {
    const Rect at = list->GetWindowRect();
    corner = Point{at.left, at.top};
  } else if (m_parent && m_connections == nullptr && m_packets == nullptr && m_clickPoint != Point{}) {
    corner = m_clickPoint;  // the frame passes where the window goes
  }
  SetWindowPos(HWND_TOP, corner.x, corner.y, own.Width(), own.Height(), SWP_NOSIZE | SWP_NOZORDER);
}

void DlgIpMon::SetTitle(const std::string& description) {
  m_description = description;
  SetWindowText(kTitlePrefix + description);
}

void DlgIpMon::ShowFlags() {
  const DWORD flags = GetThread() ? GetThread()->GetMonFlags() : 0;
  for (const FlagBox& box : kFlagBoxes) CheckDlgButton(box.id, (flags & box.flag) ? BST_CHECKED : BST_UNCHECKED);
}

void DlgIpMon::ShowLogPath() { SetDlgItemText(IDC_EDIT_LOG_PATH, GetThread() ? GetThread()->LogGet() : ""); }

// --- capture ---

void DlgIpMon::OnStartMonitor() {
  PelorinCThreadIpMon* thread = GetThread();
  if (thread == nullptr) return;
  m_list->ListStart();
  // An interface that does not open leaves the monitor stopped, and its buttons say so.
  if (!thread->GetIdleMessage()) return;
  m_list->EnableNextPrev(0);
  SetDlgItemText(IDC_STATIC_LOG_PAGE, "");
  for (int id : kIdleOnly) EnableItems({id}, false);
  EnableItems({IDC_BUTTON_STOP}, true);
}

void DlgIpMon::OnStopMonitor() {
  if (GetThread() == nullptr) return;
  m_list->ListStop();
  SetDlgItemText(IDC_STATIC_LOG_PAGE, "");
  for (int id : kIdleOnly) EnableItems({id}, true);
  EnableItems({IDC_BUTTON_STOP}, false);
}

void DlgIpMon::OnApplyRange() {
  if (PelorinCThreadIpMon* thread = GetThread())
    thread->LogSetRange(static_cast<DWORD>(GetDlgItemInt(IDC_EDIT_RANGE_START)),
                        static_cast<DWORD>(GetDlgItemInt(IDC_EDIT_RANGE_END)));
}

void DlgIpMon::OnApplySizes() {
  // An empty edit reads as 0: no limit.
  const int minimum = GetDlgItemInt(IDC_EDIT_MIN_SIZE);
  const int maximum = GetDlgItemInt(IDC_EDIT_MAX_SIZE);
  if (m_app) {
    m_app->WriteProfileInt("", "ConnectionsMinPktSz", minimum);
    m_app->WriteProfileInt("", "ConnectionsMaxPktSz", maximum);
  }
  if (PelorinCThreadIpMon* thread = GetThread()) thread->SetPacketSize(minimum, maximum);
}

void DlgIpMon::OnClear() {
  PelorinCThreadIpMon* thread = GetThread();
  if (thread == nullptr) return;
  // Either way the capture thread clears, so a page reload it is running cannot race the clear.
  if (thread->GetIdleMessage())
    m_list->SetDeleteAll(1, 1);
  else
    m_list->ClearRows();
}

void DlgIpMon::OnFeed() {
  if (!m_list) return;
  if (Window* feed = m_list->GetFeedWindow())
    feed->SetFocus();
  else
    m_list->MonListView();
}

void DlgIpMon::OnExportLog() {
  MonListIpMonCWinThread* thread = m_list ? m_list->GetCaptureThread() : nullptr;
  if (thread == nullptr) return;
  DlgPacketLogExport::Run(this, *thread);
}

void DlgIpMon::OnSetLink() {
  if (GetThread() == nullptr) return;
  DlgIpMonSetLink dialog(this, m_app);
  if (dialog.DoModal() != IDOK) return;
  SetTitle(EndPointText(dialog.From(), dialog.FromPort()) + " -> " + EndPointText(dialog.To(), dialog.ToPort()));
  m_protocol.clear();  // no "Type" filtering for a link typed in
  SetLinkFromTexts(dialog.From(), dialog.FromPort(), dialog.To(), dialog.ToPort());
  ShowFlags();
  EnableItems({IDC_BUTTON_SAVE_LOG, IDC_BUTTON_FROM, IDC_BUTTON_LOAD_PAGE, IDC_EDIT_PAGE_SIZE, IDC_BUTTON_FIND,
               IDC_BUTTON_START},
              true);
}

// --- logs ---

std::string DlgIpMon::AskForLinkLog(bool open) {
  FileDialogRequest request;
  request.open = open;
  request.filter = std::string(LinkLogFiles::kFilterName) + "|" + LinkLogFiles::kFilterPattern + "||";
  request.fileName = LinkLogFiles::DefaultName(GetWindowText());
  // Two monitors of one link would propose one name: a save skips the files other monitors hold.
  if (!open) request.fileName = LinkLogFiles::UnheldName(m_folder, request.fileName, GetThread()->LogGet());
  request.initialDir = m_folder;
  request.defaultExt = "cnl";
  std::string chosen;
  if (!UiServices::Current().FileDialog(this, request, &chosen)) chosen.clear();
  return chosen;
}

void DlgIpMon::OnSaveLog() {
  PelorinCThreadIpMon* thread = GetThread();
  if (thread == nullptr) return;
  SetDlgItemText(IDC_STATIC_LOG_PAGE, "");
  KeepCurrentFolder keep;
  std::string chosen = AskForLinkLog(false);
  if (chosen.empty()) return;
  chosen = LinkLogFiles::MakeCnlFileName(chosen);
  switch (m_list->LogSave(chosen)) {
    case IpMon::LogResult::Ok:
      ShowLogPath();
      return;
    case IpMon::LogResult::OtherMonitor:
      MessageBox(this, chosen + kOtherMonitorText, kSaveCaption, MB_OK);
      return;
    case IpMon::LogResult::ReadOnly:
      MessageBox(this, chosen + kReadOnlyText, kSaveCaption, MB_OK);
      return;
    default:
      MessageBox(this, kSaveFailedText + chosen + ".", kSaveCaption, MB_OK);
      return;
  }
}

void DlgIpMon::OnLoadLog() {
  PelorinCThreadIpMon* thread = GetThread();
  if (thread == nullptr) return;
  KeepCurrentFolder keep;
  const std::string chosen = AskForLinkLog(true);
  if (chosen.empty()) return;
  if (!LinkLogFiles::IsCnlName(chosen)) {
    MessageBox(this, kInvalidFileText, kInvalidFileCaption, MB_OK);
    return;
  }
  IpMon::LogResult result;
  {
    WaitCursor wait;
    result = m_list->LogLoad(chosen);
  }
  switch (result) {
    case IpMon::LogResult::Ok:
      break;
    case IpMon::LogResult::OtherMonitor:
      MessageBox(this, chosen + kOtherMonitorText, kLoadCaption, MB_OK);
      return;
    case IpMon::LogResult::ReadOnly:
      MessageBox(this, chosen + kReadOnlyText, kLoadCaption, MB_OK);
      return;
    default:
      // A name with ".cnl" in it is not enough: the file must be a packet log.
      MessageBox(this, std::string(kInvalidFileText) + "\n\n" + chosen + kNotALogText, kInvalidFileCaption, MB_OK);
      return;
  }
  m_loadedPosition = -1;
  TakeLinkFromRows();
}

void DlgIpMon::TakeLinkFromRows() {
  std::string type, from, fromPort, to, toPort;
  if (m_list->ReadRow(0, [&](const ListRow& row) {
        type = m_list->CellText(row, kColumnType);
        from = m_list->CellText(row, kColumnFrom);
        fromPort = m_list->CellText(row, kColumnFromPort);
        to = m_list->CellText(row, kColumnTo);
        toPort = m_list->CellText(row, kColumnToPort);
      })) {
    SetTitle(type + " - " + EndPointText(from, fromPort) + " -> " + EndPointText(to, toPort));
    m_protocol = type;
    SetLinkFromTexts(from, fromPort, to, toPort);
  }
  ShowFlags();
  ShowLogPath();
  EnableItems({IDC_BUTTON_START, IDC_BUTTON_SAVE_LOG, IDC_BUTTON_FROM, IDC_BUTTON_LOAD_PAGE, IDC_EDIT_PAGE_SIZE,
               IDC_BUTTON_FIND},
              true);
}

void DlgIpMon::SetLinkFromTexts(const std::string& from, const std::string& fromPort, const std::string& to,
                                const std::string& toPort) {
  m_link6 = LinkFromTexts(from, fromPort, to, toPort, m_link);
  m_linkSet = true;
  if (PelorinCThreadIpMon* thread = GetThread()) {
    thread->SetLink(m_link, m_link6);
    thread->InitMonFlags(m_protocol);
  }
}

void DlgIpMon::OnLoadPage() {
  PelorinCThreadIpMon* thread = GetThread();
  if (thread == nullptr) return;
  LONG size = GetDlgItemInt(IDC_EDIT_PAGE_SIZE);
  if (size < kPageSizeMin || size > kPageSizeMax) {
    size = size < kPageSizeMin ? kPageSizeMin : kPageSizeMax;
    SetDlgItemInt(IDC_EDIT_PAGE_SIZE, size);
  }
  m_pageSize = size;
  if (m_app) m_app->WriteProfileInt("", "LogPageSize", size);
  DlgPelorinLogPages pages(this, thread->LogGet(), size);
  if (pages.DoModal() != IDOK) return;
  const auto page = pages.GetSelectedPage();
  if (!page) return;
  thread->LogSetPageSize(size);
  m_list->Reload(page->position);
  m_loadedPosition = page->position;
  SetDlgItemText(IDC_STATIC_LOG_PAGE,
                 "Page : " + std::to_string(page->page) + " - File Pos : " + std::to_string(page->position));
  TakeLinkFromRows();
}

bool DlgIpMon::HasSelectedRow() const { return m_list && m_list->GetNextItem(-1, LVNI_SELECTED) >= 0; }

void DlgIpMon::OnLoadFrom() {
  if (!m_list) return;
  const int row = m_list->GetNextItem(-1, LVNI_SELECTED);
  LONG position = -1;
  if (row >= 0) {
    m_list->ReadRow(row, [&position](const ListRow& locked) {
      if (const auto* item = reinterpret_cast<const _ShowPacketReceivePackIp*>(locked.data))
        position = item->recordPosition;
    });
  }
  if (row < 0 || position < 0) {
    MessageBox(this, kNoRowText, kNoRowCaption, MB_OK);
    return;
  }
  m_list->Reload(position);
  m_loadedPosition = position;
}

void DlgIpMon::OnFind() {
  PelorinCThreadIpMon* thread = GetThread();
  if (thread == nullptr) return;
  DlgPelorinFindPkt find(this, m_app, thread->LogGet(), m_pageSize);
  find.DoModal();
  if (const auto found = find.GetSelectedPage()) {
    m_list->Reload(found->position);
    m_loadedPosition = found->position;
  }
}

// --- the context menu ---

LRESULT DlgIpMon::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CONTEXTMENU && m_list && static_cast<HWND>(lParam) == m_list->GetSafeHwnd()) {
    const auto point = static_cast<LPARAM>(wParam);
    ShowContextMenu(Point{GET_X_LPARAM(point), GET_Y_LPARAM(point)});
    return 0;
  }
  return Dialog::WindowProc(message, wParam, lParam);
}

void DlgIpMon::ShowContextMenu(Point screenPoint) {
  Menu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, ID_LINK_ALLOW_BLOCK, "Allow/Block");
  menu.AppendMenu(MF_STRING, ID_LINK_COMPARE, "Compare");
  menu.AppendMenu(MF_STRING, ID_LINK_COMPARE_ADD, "Compare Add");
  menu.AppendMenu(MF_STRING, ID_LINK_TRACE, "Trace");
  menu.AppendMenu(MF_SEPARATOR);
  WiresharkHandoff::AppendMenu(menu);
  menu.TrackPopupMenu(TPM_RIGHTBUTTON, screenPoint.x, screenPoint.y, this);
}

void DlgIpMon::OnAllowBlock() {
  if (m_list) m_list->IpSetProperties();
}

void DlgIpMon::OnCompare() {
  if (!HasSelectedRow()) return;
  if (m_list->GetCompareWindow() == nullptr)
    m_list->MonListCompare();
  else
    m_list->MonListCompareAdd();
}

void DlgIpMon::OnCompareAdd() {
  if (!m_list) return;
  if (m_list->GetCompareWindow() != nullptr)
    m_list->MonListCompareAdd();
  else
    m_list->MonListCompare();
}

void DlgIpMon::OnTrace() {
  if (m_list) m_list->MonListIpTrace(0);
}

// --- closing ---

void DlgIpMon::OnDone() {
  if (m_closed) return;  // the owner's close message after the request
  m_closed = true;
  ShowWindow(SW_HIDE);
  if (m_list) m_list->ProcessClose();
  // The owner destroys the window: the opening list, or the frame that opened it without one.
  Window* owner = OpeningList() ? OpeningList() : m_parent;
  if (owner != nullptr)
    ::PostMessage(owner->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(GetSafeHwnd()));
}

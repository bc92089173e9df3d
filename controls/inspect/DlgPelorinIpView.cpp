#include "controls/inspect/DlgPelorinIpView.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "common/Messages.h"
#include "common/PacketRowItem.h"
#include "controls/framework/PelorinCListView.h"
#include "controls/inspect/DlgPelorinFindPkt.h"
#include "controls/inspect/PacketTitle.h"
#include "controls/packets/PacketLogLock.h"
#include "platform/AppProfile.h"
#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/ListControl.h"
#include "wincap/DecodedPacket.h"
#include "wincap/PacketLogSet.h"

namespace {

constexpr int kMargin = 10;          // px around the caption line and the panes
constexpr int kCaptionHeight = 25;   // px
constexpr int kLabelAbove = 15;      // px between a pane label's top and its pane
constexpr int kPaneGap = 5;          // px between a pane and what follows it
constexpr int kColumnCount = 7;      // texts of a monitor row in a title
constexpr std::size_t kTitleFieldLimit = 255;
constexpr Rect kPanePlaceholder{0, 0, 10, 10};

const char* ProtocolOfType(LONG typeCode) {
  switch (typeCode) {
    case kPacketTypeIcmp: return "ICMP";
    case kPacketTypeTcp: return "TCP";
    case kPacketTypeUdp: return "UDP";
    default: return "IP";
  }
}

// A search row names the IP protocol number; a monitor row its own type code.
LONG TypeOfProtocol(LONG protocol) {
  switch (protocol) {
    case 1: return kPacketTypeIcmp;
    case 6: return kPacketTypeTcp;
    case 17: return kPacketTypeUdp;
    default: return kPacketTypeIp;
  }
}

// Controls that keep their place at the bottom right when the window is resized.
bool RightAnchored(int id) {
  return id == DlgPelorinIpView::kButtonNext || id == DlgPelorinIpView::kButtonPrev || id == IDOK;
}

}  // namespace

DialogTemplate DlgPelorinIpView::MakeTemplate() {
  return DialogTemplate{
      "Packet View", 334, 227, "MS Sans Serif", 8,
      {EditItem(kCaptionLine, 7, 4, 320, 14, ES_AUTOHSCROLL | ES_READONLY),
       LabelItem("Packet Header", 7, 22, 120, 8, kHeaderLabel),
       LabelItem("Packet Data", 7, 74, 120, 8, kDataLabel),
       CheckBoxItem(kCheckHorizontal, "Show Horizontal", 200, 21, 70, 10).Hidden(),
       GroupItem("Display Settings", 7, 166, 320, 38, kDisplayGroup),
       RadioButtonItem(kRadioHex, "Hex", 13, 176, 30, 10, true),
       RadioButtonItem(kRadioDecimal, "Decimal", 45, 176, 40, 10),
       RadioButtonItem(kRadioText, "Text", 87, 176, 30, 10),
       CheckBoxItem(kCheckWrap, "Wrap", 121, 176, 32, 10),
       CheckBoxItem(kCheckFeed, "Feed", 157, 176, 32, 10).Hidden(),
       CheckBoxItem(kCheckHeaders, "Headers", 191, 176, 40, 10).Hidden(),
       CheckBoxItem(kCheckEnhance, "Enhance", 233, 176, 42, 10).Hidden(),
       LabelItem("Packet Range From :", 13, 190, 66, 8, kRangeFromLabel).Hidden(),
       EditItem(kRangeFrom, 80, 188, 24, 12, ES_AUTOHSCROLL | ES_NUMBER).Hidden(),
       LabelItem("To : ", 108, 190, 16, 8, kRangeToLabel).Hidden(),
       EditItem(kRangeTo, 124, 188, 24, 12, ES_AUTOHSCROLL | ES_NUMBER).Hidden(),
       PushButtonItem(kButtonClear, "Clear", 156, 187, 40, 14).Hidden(),
       PushButtonItem(kButtonLoadLog, "Load Log", 200, 187, 40, 14).Hidden(),
       PushButtonItem(kButtonLoadPage, "Load Page", 244, 187, 40, 14).Hidden(),
       PushButtonItem(kButtonFeed, "Feed", 288, 187, 34, 14).Hidden(),
       PushButtonItem(kButtonNext, "Next Packet", 158, 208, 52, 14),
       PushButtonItem(kButtonPrev, "Previous Packet", 213, 208, 64, 14),
       DefPushButtonItem(IDOK, "Done", 280, 208, 47, 14)}};
}

DlgPelorinIpView::DlgPelorinIpView(Window* parent) : Dialog(MakeTemplate(), parent) {
  MapHandlers();
  CreateModeless(parent);
}

DlgPelorinIpView::DlgPelorinIpView(Window* parent, AppProfile* app, std::string name, PelorinCListView* list,
                                   PacketLogFile* logFile, PacketLogLock* logLock, int navigation)
    : Dialog(MakeTemplate(), parent),
      m_app(app),
      m_name(std::move(name)),
      m_list(list),
      m_logFileObject(logFile),
      m_logLock(logLock),
      m_navigation(navigation) {
  MapHandlers();
  CreateModeless(parent);
}

DlgPelorinIpView::DlgPelorinIpView(Window* parent, AppProfile* app, std::string name, DlgPelorinFindPkt* find)
    : Dialog(MakeTemplate(), parent), m_app(app), m_name(std::move(name)), m_find(find), m_navigation(1) {
  MapHandlers();
  CreateModeless(parent);
}

DlgPelorinIpView::~DlgPelorinIpView() {
  CloseLog();
  DestroyWindow();
}

void DlgPelorinIpView::MapHandlers() {
  MapCommand(kRadioHex, [this] { OnRadioHex(); });
  MapCommand(kRadioDecimal, [this] { OnRadioDecimal(); });
  MapCommand(kRadioText, [this] { OnRadioText(); });
  MapCommand(kCheckWrap, [this] { OnCheckWrap(); });
  MapCommand(kButtonNext, [this] { OnButtonNext(); });
  MapCommand(kButtonPrev, [this] { OnButtonPrev(); });
  MapCommand(kButtonFeed, [this] { OnButtonFeed(); });
  MapCommand(kCheckFeed, [this] { OnCheckShow(); });
  MapCommand(kCheckHeaders, [this] { OnCheckHeaders(); });
  MapCommand(kButtonClear, [this] { OnButtonClear(); });
  MapCommand(kButtonLoadLog, [this] { OnButtonLoadlog(); });
  MapCommand(kButtonLoadPage, [this] { OnButtonLoadpage(); });
  MapCommand(kCheckEnhance, [this] { OnCheckEnhance(); });
  MapCommand(kCheckHorizontal, [this] { OnCheckHorizontal(); });
  MapCommand(kRangeFrom, [this] { OnChangeEditDisplaybytes(); }, EN_CHANGE);
  MapCommand(kRangeTo, [this] { OnChangeEditDisplaybytesto(); }, EN_CHANGE);
}

AppProfile& DlgPelorinIpView::Profile() const {
  static AppProfile fallback;
  return m_app != nullptr ? *m_app : fallback;
}

int DlgPelorinIpView::ReadSetting(const char* section, const char* key, const char* defaultText) const {
  return std::atoi(Profile().GetProfileString(section, key, defaultText).c_str());
}

void DlgPelorinIpView::WriteSetting(const char* section, const char* key, int value) const {
  Profile().WriteProfileString(section, key, std::to_string(value));
}

// --- initialisation and layout ---

void DlgPelorinIpView::OnInitStartup() {
  InitView("Format", "Wrap");
  OnClickDisplay(kLinkHeader);
  MoveToOpener();
  if (m_navigation == 0) {
    GetDlgItem(kButtonNext)->EnableWindow(false);
    GetDlgItem(kButtonPrev)->EnableWindow(false);
  }
  const Rect client = GetClientRect();
  OnSize(0, client.Width(), client.Height());
}

void DlgPelorinIpView::InitView(const char* formatKey, const char* wrapKey) {
  m_formatKey = formatKey;
  m_wrapKey = wrapKey;
  const int wrap = ReadSetting("Filters", wrapKey, "1");
  if (m_headerPane == nullptr) {
    m_headerPane = static_cast<PelorinCRichEditView*>(
        Adopt(std::make_unique<PelorinCRichEditView>(this, kPanePlaceholder, kHeaderPane, wrap)));
    m_dataPane = static_cast<PelorinCRichEditView*>(
        Adopt(std::make_unique<PelorinCRichEditView>(this, kPanePlaceholder, kDataPane, wrap)));
  }
  int mode = ReadSetting("ViewData", formatKey, "3");
  if (mode < PacketFormat::kHex || mode > PacketFormat::kText) mode = PacketFormat::kText;
  SetCheckedMode(mode);
  CheckDlgButton(kCheckWrap, wrap ? BST_CHECKED : BST_UNCHECKED);
  if (m_find != nullptr)
    SetTitleFind();
  else
    SetTitle();
  m_headerPane->ShowWindow(SW_SHOW);
  m_dataPane->ShowWindow(SW_SHOW);
  AllocateBuffers();
}

void DlgPelorinIpView::AllocateBuffers() {
  if (m_packet) return;
  m_packet = std::make_unique<std::uint8_t[]>(kBufferSize);
  m_dataText = std::make_unique<char[]>(kBufferSize);
  m_headerText = std::make_unique<char[]>(kBufferSize);
}

void DlgPelorinIpView::SetCheckedMode(int mode) {
  m_mode = mode;
  CheckRadioButton(kRadioHex, kRadioText, kRadioHex + mode - 1);
}

void DlgPelorinIpView::MoveToOpener() {
  Window* opener = Opener();
  if (opener == nullptr || !opener->IsCreated()) return;
  const Rect corner = opener->GetWindowRect();
  SetWindowPos(kNoWindow, corner.left, corner.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void DlgPelorinIpView::OnSize(UINT, int cx, int cy) {
  LayoutFrame(cx, cy);
  LayoutPanes(m_paneArea);
}

void DlgPelorinIpView::LayoutFrame(int cx, int cy) {
  const Rect templateClient = MapDialogRect(Rect{0, 0, Template().cx, Template().cy});
  const int dx = cx - templateClient.Width();
  const int dy = cy - templateClient.Height();
  if (Window* caption = GetDlgItem(kCaptionLine))
    caption->MoveWindow(Rect{kMargin, kMargin, std::max(cx - kMargin, kMargin + 1), kMargin + kCaptionHeight});
  // The display settings and the buttons keep their distance from the bottom (and the buttons
  // from the right) edge.
  const auto& items = Template().items;
  const auto group = std::find_if(items.begin(), items.end(), [](const DialogItem& item) { return item.id == kDisplayGroup; });
  const int bandStart = group != items.end() ? MapDialogRect(Rect{0, group->y, 0, group->y}).top : templateClient.bottom;
  int bandTop = cy;
  for (const DialogItem& item : items) {
    const Rect placed = MapDialogRect(Rect{item.x, item.y, item.x + item.cx, item.y + item.cy});
    if (placed.top < bandStart) continue;
    Window* control = GetDlgItem(static_cast<int>(item.id));
    if (control == nullptr) continue;
    const int shiftX = RightAnchored(static_cast<int>(item.id)) ? dx : 0;
    control->MoveWindow(Rect{placed.left + shiftX, placed.top + dy, placed.right + shiftX, placed.bottom + dy});
    bandTop = std::min(bandTop, placed.top + dy);
  }
  m_paneArea = Rect{kMargin, kMargin + kCaptionHeight, std::max(cx - kMargin, kMargin + 1), bandTop - kPaneGap};
}

void DlgPelorinIpView::LayoutPanes(const Rect& area) {
  if (m_headerPane == nullptr) return;
  // The header pane takes a quarter of the client height; the data pane the rest.
  const int headerTop = area.top + kLabelAbove;
  const int headerBottom = headerTop + std::max((GetClientRect().Height()) / 4, 1);
  const int dataTop = headerBottom + kPaneGap + kLabelAbove;
  const int dataBottom = std::max(area.bottom, dataTop + 1);
  m_headerPane->MoveWindow(Rect{area.left, headerTop, area.right, headerBottom});
  m_dataPane->MoveWindow(Rect{area.left, dataTop, area.right, dataBottom});
  if (Window* label = GetDlgItem(kHeaderLabel))
    label->MoveWindow(Rect{area.left, headerTop - kLabelAbove, area.left + label->GetClientRect().Width(), headerTop});
  if (Window* label = GetDlgItem(kDataLabel))
    label->MoveWindow(Rect{area.left, dataTop - kLabelAbove, area.left + label->GetClientRect().Width(), dataTop});
  if (m_headerPane->IsWrapOn()) m_headerPane->PelorinCRichEditViewWrapOn();
  if (m_dataPane->IsWrapOn()) m_dataPane->PelorinCRichEditViewWrapOn();
}

// --- showing a packet ---

Window* DlgPelorinIpView::Opener() const {
  if (m_find != nullptr) return m_find;
  return m_list;
}

std::string DlgPelorinIpView::LogPath() const { return LogPathOf(m_cacheFile); }

std::string DlgPelorinIpView::LogPathOf(std::uint32_t file) const {
  if (m_find != nullptr) return PacketLogSet::FileName(m_find->LogGet(), file == kFileBeingWritten ? 0 : file);
  if (m_logFileObject == nullptr) return "";
  std::unique_lock<PacketLogLock> lock;
  if (m_logLock != nullptr) lock = std::unique_lock<PacketLogLock>(*m_logLock);
  if (file == kFileBeingWritten) return m_logFileObject->Path();
  return PacketLogSet::FileName(m_logFileObject->FirstOfSet(), file);
}

void DlgPelorinIpView::FollowFile(std::uint32_t file) { FollowPath(LogPathOf(file)); }

void DlgPelorinIpView::FollowPath(const std::string& path) {
  // The record may lie in another file of the log's set than the one open; a file the ring has
  // removed opens nothing, and nothing is shown.
  if (!m_log.IsOpen()) return;
  if (path == m_log.Path()) return;
  if (!m_log.OpenReadOnly(path)) m_cacheSize = 0;
  m_openPosition = 0;
}

bool DlgPelorinIpView::OpenLog() {
  if (m_log.IsOpen()) return true;
  const std::string path = LogPath();
  if (path.empty() || !m_log.OpenReadOnly(path)) return false;
  m_openPosition = m_log.Tell();
  return true;
}

void DlgPelorinIpView::CloseLog() {
  if (!m_log.IsOpen()) return;
  m_log.Seek(m_openPosition);
  m_log.Close();
}

LONG DlgPelorinIpView::LogRead(LONG position, std::uint8_t* buffer, LONG capacity, std::string* source,
                               std::string* destination, std::string* time, std::string* protocol,
                               _LogRecMarker* marker) {
  if (!m_log.IsOpen() || buffer == nullptr || capacity < 1) return -1;
  LONG read = m_log.Read(position, buffer, capacity, source, destination, time, marker);
  if (read < 1 && m_logLock != nullptr) {
    // Not in the file yet: taking the capture thread's lock writes out what it holds back.
    std::lock_guard<PacketLogLock> lock(*m_logLock);
    read = m_log.Read(position, buffer, capacity, source, destination, time, marker);
  }
  if (read < 1) return -1;
  if (protocol != nullptr) *protocol = PacketFormat::ProtocolOf(buffer, read);
  return read;
}

char* DlgPelorinIpView::displayFormat(int mode, const char* protocol, const std::uint8_t* packet, LONG packetLength,
                                      char* data, LONG dataCapacity, char* header, LONG headerCapacity, int flag,
                                      PacketFormat::Written* written) {
  char* result = PacketFormat::displayFormat(mode, protocol, packet, packetLength, data, dataCapacity, header,
                                             headerCapacity, flag, written);
  if (result != nullptr) m_mode = mode;
  return result;
}

bool DlgPelorinIpView::Render(const char* protocol, LONG length) {
  m_written = PacketFormat::Written{};
  return displayFormat(m_mode, protocol, m_packet.get(), length, m_dataText.get(), kBufferSize, m_headerText.get(),
                       kBufferSize, 0, &m_written) != nullptr;
}

bool DlgPelorinIpView::ReadSelectedRow() {
  if (m_find != nullptr) {
    _LogFind found{};
    if (!m_find->RowRecord(m_find->CurrentRow(), &found)) return false;
    m_cachePosition = found.position;
    m_cacheFile = m_find->RowFile(m_find->CurrentRow());
    m_cacheType = TypeOfProtocol(found.protocol);
    m_cacheSize = found.size;
    FollowRowFile();
    return true;
  }
  if (m_list == nullptr) return false;
  const int row = m_list->GetNextItem(-1, LVNI_SELECTED);
  if (row < 0) return false;
  // The record is read while the rows are locked: the capture thread frees it with its row.
  PacketRowItem item{};
  std::string size;
  bool found = false;
  m_list->ReadRow(row, [&](const ListRow& locked) {
    if (const auto* record = reinterpret_cast<const PacketRowItem*>(locked.data)) {
      item = *record;
      found = true;
    }
    size = m_list->CellText(locked, 1);
  });
  if (!found) return false;
  m_cachePosition = item.record.recordPosition;
  m_cacheFile = item.logFile;
  m_cacheType = item.record.typeCode;
  m_cacheSize = std::atoi(size.c_str());
  FollowRowFile();
  return true;
}

void DlgPelorinIpView::OnClickDisplay(LONG linkHeader) {
  const bool wasOpen = m_log.IsOpen();
  if (!OpenLog()) return;
  if (m_cacheValid || ReadSelectedRow()) {
    if (m_cacheSize > 0) {
      m_cacheValid = true;
      ShowPacket(m_cachePosition, m_cacheSize, linkHeader, ProtocolOfType(m_cacheType));
    }
  }
  m_log.Seek(m_openPosition);
  // A packet view holds the log open only while it reads.
  if (!wasOpen) CloseLog();
}

void DlgPelorinIpView::SetLastShown(LONG position) {
  m_last = position;
  if (m_first == -1) m_first = position;
}

void DlgPelorinIpView::ShowPacket(LONG position, LONG size, LONG linkHeader, const char* protocol) {
  SetLastShown(position);
  std::string source, destination, time;
  const LONG capacity = std::min(size + linkHeader, kBufferSize);
  const LONG read = LogRead(position, m_packet.get(), capacity, &source, &destination, &time, nullptr, nullptr);
  if (read < 1) return;
  // The row's type code names the protocol alone; an IPv6 packet is titled by its own type text.
  if (IsIpv6Frame(m_packet.get(), static_cast<std::uint32_t>(read), static_cast<std::uint32_t>(linkHeader)))
    protocol = PacketFormat::ProtocolOf(m_packet.get(), read);
  // Rendered from the bytes that were read, whatever the header claims.
  Render(protocol, read);
  SetDlgItemText(kCaptionLine, std::string(protocol) + "( " + std::to_string(size) + " ) " + source + " -> " +
                                   destination + " ( " + time + " ) ");
  m_headerPane->SetWindowText(HeaderText());
  m_dataPane->SetWindowText(DataText());
}

// --- titles ---

bool DlgPelorinIpView::TitleGetFields(std::string fields[7]) const {
  if (m_list == nullptr) return false;
  const int row = m_list->GetNextItem(-1, LVNI_SELECTED);
  // The cells are made from the row's record, read while the rows are locked.
  const PelorinCListView* list = m_list;
  return row >= 0 && list->ReadRow(row, [&](const ListRow& locked) {
    for (int i = 0; i < kColumnCount; ++i) fields[i] = list->CellText(locked, i).substr(0, kTitleFieldLimit);
  });
}

void DlgPelorinIpView::SetTitle() {
  std::string f[kColumnCount];
  if (TitleGetFields(f)) SetWindowText(PacketTitle::TitleBuild(f[0], f[1], f[2], f[3], f[4], f[5], f[6]));
}

void DlgPelorinIpView::SetTitleFind() {
  ListControl* list = m_find != nullptr ? m_find->GetResultList() : nullptr;
  const int row = m_find != nullptr ? m_find->CurrentRow() : -1;
  if (list == nullptr || row < 0) return;
  const auto text = [&](int column) { return list->GetItemText(row, column).substr(0, kTitleFieldLimit); };
  SetWindowText(PacketTitle::TitleBuildFind(text(3), text(5), text(0), text(1), text(2)));
}

// --- the user's controls ---

void DlgPelorinIpView::SelectMode(int mode) {
  SetMode(mode);
  WriteSetting("ViewData", m_formatKey, mode);
  OnModeChanged();
}

void DlgPelorinIpView::OnCheckWrap() {
  const int wrap = IsDlgButtonChecked(kCheckWrap) == BST_CHECKED ? 1 : 0;
  WriteSetting("Filters", m_wrapKey, wrap);
  ApplyWrap(wrap);
}

void DlgPelorinIpView::ApplyWrap(int on) {
  for (PelorinCRichEditView* pane : {m_headerPane, m_dataPane}) {
    if (pane == nullptr) continue;
    pane->ShowWindow(SW_HIDE);
    pane->PelorinCRichEditViewSetWrap(on);
    pane->ShowWindow(SW_SHOW);
  }
}

void DlgPelorinIpView::ClearPanes() {
  for (PelorinCRichEditView* pane : {m_headerPane, m_dataPane})
    if (pane != nullptr) pane->SetWindowText("");
}

void DlgPelorinIpView::OnButtonNext() { Navigate(1); }
void DlgPelorinIpView::OnButtonPrev() { Navigate(-1); }

void DlgPelorinIpView::Navigate(int step) {
  if (m_find != nullptr) {
    const int row = m_find->CurrentRow();
    const int next = row + step;
    ListControl* list = m_find->GetResultList();
    if (row < 0 || next < 0 || list == nullptr || next >= list->GetItemCount()) return;
    m_find->SelectRow(next);
    SetTitleFind();
    m_cacheValid = false;
    OnClickDisplay(kLinkHeader);
    return;
  }
  if (m_list == nullptr) return;
  const int row = m_list->GetNextItem(-1, LVNI_SELECTED);
  const int next = row + step;
  if (row < 0 || next < 0 || next >= m_list->GetItemCount()) return;
  m_list->ListUnselect(row);
  m_list->ListSelect(next);
  m_list->EnsureVisible(next, false);
  SetTitle();
  m_cacheValid = false;
  OnClickDisplay(kLinkHeader);
}

// --- closing ---

void DlgPelorinIpView::CloseWindow(int result) {
  if (m_closing) return;
  m_closing = true;
  EndDialog(result);
  if (Window* owner = Opener())
    ::PostMessage(owner->GetSafeHwnd(), WM_PELORIN_CLOSE_WINDOW, 0, static_cast<LPARAM>(GetSafeHwnd()));
}

void DlgPelorinIpView::OnOK() { CloseWindow(IDOK); }

void DlgPelorinIpView::OnClose() { CloseWindow(IDCANCEL); }

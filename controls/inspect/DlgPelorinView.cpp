#include "controls/inspect/DlgPelorinView.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "common/FieldText.h"
#include "common/Messages.h"
#include "controls/framework/PelorinCListView.h"
#include "controls/framework/PelorinCThread.h"
#include "controls/packets/PacketLogLock.h"
#include "platform/AppProfile.h"
#include "ui/Edit.h"
#include "ui/UiServices.h"
#include "wincap/DlgPelorinLogPages.h"
#include "wincap/LogPageSize.h"

namespace {

constexpr UINT kDrainTimer = 1;
constexpr UINT kDrainElapseMs = 1;
constexpr int kHeaderScrollLines = 10;
constexpr int kDataScrollLines = 200;
constexpr char kBlankLines[] = "\r\n\r\n";

using Clock = std::chrono::steady_clock;

}  // namespace

DlgPelorinView::DlgPelorinView(Window* parent) : DlgPelorinIpView(parent) {}

DlgPelorinView::DlgPelorinView(Window* parent, AppProfile* app, std::string name, PelorinCListView* list,
                               PacketLogFile* logFile, PacketLogLock* logLock, int navigation)
    : DlgPelorinIpView(parent, app, std::move(name), list, logFile, logLock, navigation) {}

DlgPelorinView::~DlgPelorinView() { DestroyWindow(); }

// --- flags ---

void DlgPelorinView::SetShow(int show) {
  CriticalSectionLock lock(m_flagsLock);
  m_show = show;
}

int DlgPelorinView::GetShow() {
  CriticalSectionLock lock(m_flagsLock);
  return m_show;
}

void DlgPelorinView::SetShowHeaders(int show) {
  CriticalSectionLock lock(m_flagsLock);
  m_showHeaders = show;
}

int DlgPelorinView::GetShowHeaders() {
  CriticalSectionLock lock(m_flagsLock);
  return m_showHeaders;
}

UINT DlgPelorinView::RegistrationMessage() const { return WM_PELORIN_SET_FEED_WINDOW; }

// --- initialisation ---

void DlgPelorinView::InitRange(const char* fromKey, const char* fromDefault, const char* toKey, const char* toDefault) {
  for (int id : {kRangeFrom, kRangeTo})
    if (auto* edit = GetDlgItemAs<Edit>(id)) edit->SetLimitText(kRangeLimit);
  SetDlgItemInt(kRangeFrom, ReadSetting("Filters", fromKey, fromDefault));
  SetDlgItemInt(kRangeTo, ReadSetting("Filters", toKey, toDefault));
}

void DlgPelorinView::ShowFeedControls(int feedChecked, int headers) {
  for (int id : {kRangeFromLabel, kRangeFrom, kRangeToLabel, kRangeTo, kCheckFeed, kCheckHeaders, kCheckEnhance,
                 kButtonClear, kButtonLoadPage})
    GetDlgItem(id)->ShowWindow(SW_SHOW);
  for (int id : {kButtonNext, kButtonPrev}) GetDlgItem(id)->ShowWindow(SW_HIDE);
  CheckDlgButton(kCheckFeed, feedChecked ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kCheckHeaders, headers ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kCheckEnhance, BST_UNCHECKED);
  SetShow(feedChecked);
  SetShowHeaders(headers);
  EnableWhileStopped(!feedChecked);
}

void DlgPelorinView::OnInitStartup() {
  OpenLog();
  InitRange("DisplayBytes", "100", "DisplayBytesTo", "0");
  InitView("FormatFeed", "WrapFeed");
  SetWindowText(CaptionTitle());
  SetDlgItemText(kCaptionLine, CaptionTitle());
  HeaderPane()->LimitText(kPaneLimit);
  DataPane()->LimitText(kPaneLimit);
  ShowFeedControls(1, ReadSetting("Filters", "FeedShowHeader", "1"));
  MoveToOpener();
  const Rect client = GetClientRect();
  OnSize(0, client.Width(), client.Height());
}

void DlgPelorinView::EnableWhileStopped(bool enable) {
  for (int id : {kRangeFrom, kRangeTo, kCheckWrap, kRadioHex, kRadioDecimal, kRadioText})
    GetDlgItem(id)->EnableWindow(enable);
  GetDlgItem(kButtonLoadPage)->EnableWindow(enable);
}

// --- the live feed ---

bool DlgPelorinView::PreTranslateMessage(const WindowMessage& message) {
  if (message.message == WM_PELORIN_NEW_PACKET && message.hwnd == GetSafeHwnd()) {
    OnNewPacket(static_cast<LONG>(message.wParam & 0xFFFFFFFF), static_cast<std::uint32_t>(message.wParam >> 32),
                static_cast<LONG>(message.lParam));
    return true;
  }
  return DlgPelorinIpView::PreTranslateMessage(message);
}

void DlgPelorinView::OnNewPacket(LONG size, std::uint32_t file, LONG position) {
  // A feed opened before the capture thread had its log opens it with the first notice.
  if (!GetShow() || !OpenLog()) return;
  if (m_pending.size() >= kMaxPending) {
    m_pending.pop_front();
    ++m_skipped;
  }
  m_pending.push_back(Notice{position, size, file});
  if (!m_draining) {
    m_draining = true;
    SetTimer(kDrainTimer, kDrainElapseMs);
  }
}

void DlgPelorinView::OnTimer(UINT id) {
  if (id == kDrainTimer) {
    Drain();
    return;
  }
  DlgPelorinIpView::OnTimer(id);
}

void DlgPelorinView::Drain() {
  const auto until = Clock::now() + std::chrono::milliseconds(kDrainBudgetMs);
  int shown = 0;
  while (!m_pending.empty()) {
    if (!GetShow()) {
      m_pending.clear();
      break;
    }
    const Notice notice = m_pending.front();
    m_pending.pop_front();
    FollowFile(notice.file);
    // The notice's size is the frame length, the link header included.
    ShowPacket(notice.position, notice.size - kLinkHeader, kLinkHeader, "IP");
    if (++shown % 16 == 0 && Clock::now() >= until) break;
  }
  if (m_pending.empty()) {
    KillTimer(kDrainTimer);
    m_draining = false;
  }
}

void DlgPelorinView::ShowPacket(LONG position, LONG size, LONG linkHeader, const char*) {
  SetLastShown(position);
  _LogRecMarker marker{};
  const LONG capacity = std::clamp<LONG>(size + linkHeader, 1, kBufferSize);
  const LONG read = LogRead(position, PacketBuffer(), capacity, nullptr, nullptr, nullptr, nullptr, &marker);
  if (read < 1) return;
  PacketDisplay(marker, linkHeader, size + linkHeader, read);
  CountPacket();
}

void DlgPelorinView::CountPacket() {
  if (m_counter % 10 == 0) {
    std::string caption = std::string(CaptionTitle()) + " ( " + std::to_string(m_counter) +
                          " ) Remaining Memory : " + std::to_string(kBufferSize - DataPane()->GetTextLength());
    if (m_skipped > 0) caption += " Skipped : " + std::to_string(m_skipped);
    SetDlgItemText(kCaptionLine, caption);
  }
  ++m_counter;
}

// --- rendering one packet ---

std::string DlgPelorinView::Separator(const _LogRecMarker& marker, const std::uint8_t* packet, LONG length,
                                      const char* protocol, LONG ipLength) {
  std::string source, destination;
  PacketLogFile::RecordAddressTexts(marker, packet, static_cast<std::size_t>(std::max<LONG>(length, 0)), &source,
                                    &destination);
  return std::string("<>-< ") + protocol + "( " + std::to_string(ipLength) + " )" + source + " - " + destination +
         "(" + std::to_string(marker.position) + ") >-<>";
}

void DlgPelorinView::AppendColoured(RichEdit* pane, const std::string& text, COLORREF colour) {
  CharFormat format;
  format.dwMask = CFM_COLOR | CFM_UNDERLINE;
  format.dwEffects = CFE_UNDERLINE;
  format.crTextColor = colour;
  pane->SetSel(-1, -1);
  pane->SetSelectionCharFormat(format);
  pane->ReplaceSel(text);
}

void DlgPelorinView::AppendPlain(RichEdit* pane, const std::string& text) {
  CharFormat format;
  format.dwMask = CFM_COLOR | CFM_UNDERLINE;
  format.dwEffects = CFE_AUTOCOLOR;
  pane->SetSel(-1, -1);
  pane->SetSelectionCharFormat(format);
  pane->ReplaceSel(text);
}

void DlgPelorinView::ReadRange(LONG* from, LONG* to) const {
  *from = std::max(GetDlgItemInt(kRangeFrom, nullptr, false), 0);
  *to = std::max(GetDlgItemInt(kRangeTo, nullptr, false), 0);
}

void DlgPelorinView::ApplyRange(LONG length, LONG from, LONG to, LONG* begin, LONG* end) {
  *begin = 0;
  *end = length;
  if (to != 0) {
    if (length > to) {
      *end = to;
    } else if (from < length) {
      *end = length - 1;
    }
  }
  if (from != 0 && (from < to || to == 0)) {
    if (from >= *end) {
      *end = 0;
    } else {
      *begin = from;
    }
  }
}

void DlgPelorinView::ResetFormat(RichEdit* pane) {
  CharFormat automatic;
  automatic.dwMask = CFM_COLOR | CFM_UNDERLINE;
  automatic.dwEffects = CFE_AUTOCOLOR;
  pane->SetDefaultCharFormat(automatic);
}

LONG DlgPelorinView::PacketDisplay(const _LogRecMarker& marker, LONG, LONG packetLength, LONG bytesRead) {
  LONG from = 0, to = 0;
  ReadRange(&from, &to);
  const LONG length = std::min(packetLength, bytesRead);
  const char* protocol = PacketFormat::ProtocolOf(PacketBuffer(), length);
  Render(protocol, length);
  const std::string header = HeaderText();
  const std::string separator = std::string(kBlankLines) + Separator(marker, PacketBuffer(), length, protocol,
                                PacketFormat::IpTotalLength(PacketBuffer(), length)) + kBlankLines;

  // A pane that would reach its limit: both start again. The rendered texts count, since they
  // are what is appended (a hex text is about three times the packet's bytes).
  RichEdit* headerPane = HeaderPane();
  RichEdit* dataPane = DataPane();
  const LONG sep = static_cast<LONG>(separator.size());
  if (sep + headerPane->GetTextLength() + static_cast<LONG>(header.size()) >= headerPane->GetLimitText() ||
      sep + dataPane->GetTextLength() + DataLength() >= dataPane->GetLimitText()) {
    ClearPanes();
    SetTextFormat(1);
    ResetFormat(headerPane);
    ResetFormat(dataPane);
    SetShownRange(GetLastShown(), GetLastShown());
  }

  AppendColoured(headerPane, separator, kSeparatorColour);
  AppendPlain(headerPane, header);
  headerPane->LineScroll(kHeaderScrollLines);

  LONG begin = 0, end = 0;
  ApplyRange(DataLength(), from, to, &begin, &end);
  const bool headers = GetShowHeaders() != 0;
  if (end > begin || headers) {
    AppendColoured(dataPane, headers ? separator : std::string(kBlankLines), kSeparatorColour);
    AppendPlain(dataPane, std::string(DataBuffer() + begin, static_cast<std::size_t>(end - begin)));
  }
  dataPane->LineScroll(kDataScrollLines);
  return dataPane->GetTextLength();
}

// --- reloading ---

void DlgPelorinView::ShowPacketFeed(LONG start, LONG end, LONG count) {
  PacketLogFile& log = Log();
  if (!log.IsOpen()) return;
  // Taking the capture thread's lock writes out every record it still holds back.
  if (PacketLogLock* lock = CaptureLogLock()) std::lock_guard<PacketLogLock> flush(*lock);
  const std::int64_t length = log.Length();
  if (count < 0 && length < GetLastShown()) {
    start = 0;
    end = static_cast<LONG>(length);
  }
  HeaderPane()->ShowWindow(SW_HIDE);
  DataPane()->ShowWindow(SW_HIDE);
  ClearPanes();
  ResetCounter();
  m_lastReloaded = -1;
  if (start >= 0 && log.Seek(start)) {
    for (LONG shown = 0;;) {
      const std::int64_t noted = log.Tell();
      LONG position = 0;
      _LogRecMarker marker{};
      const LONG read = log.ReadNext(&position, PacketBuffer(), PacketLogFile::kMaxDataLength, nullptr, nullptr,
                                     nullptr, &marker);
      if (read < 1) break;
      PacketDisplay(marker, kLinkHeader, marker.dataLength, read);
      m_lastReloaded = position;
      CountPacket();
      ++shown;
      if (count > 0 && shown >= count) break;
      if (count < 1 && noted >= end) break;
    }
  }
  HeaderPane()->ShowWindow(SW_SHOW);
  DataPane()->ShowWindow(SW_SHOW);
  SetDlgItemText(kCaptionLine, "");
}

// --- the user's controls ---

void DlgPelorinView::OnModeChanged() {
  WaitCursor wait;
  ShowPacketFeed(GetFirstShown(), GetLastShown(), -1);
}

void DlgPelorinView::OnCheckShow() {
  const bool on = IsDlgButtonChecked(kCheckFeed) == BST_CHECKED;
  if (on && m_pageLoaded) {
    // Back from a loaded page to the live feed.
    ClearPanes();
    SetShownRange(m_savedFirst, m_savedLast);
    m_pageLoaded = false;
  }
  SetShow(on ? 1 : 0);
  EnableWhileStopped(!on);
}

void DlgPelorinView::OnCheckHeaders() { SetShowHeaders(IsDlgButtonChecked(kCheckHeaders) == BST_CHECKED ? 1 : 0); }

void DlgPelorinView::OnButtonClear() {
  ClearPanes();
  SetShownRange(GetLastShown(), GetLastShown());
}

void DlgPelorinView::OnCheckEnhance() {
  if (IsDlgButtonChecked(kCheckEnhance) == BST_CHECKED) {
    SetTextFormatBold(1);
  } else {
    SetTextFormat(1);
  }
}

void DlgPelorinView::SetTextFormatBold(int grow) {
  if (grow && !m_enhanced) Enhance(true);
}

void DlgPelorinView::SetTextFormat(int shrink) {
  if (shrink && m_enhanced) Enhance(false);
}

void DlgPelorinView::Enhance(bool on) {
  CharFormat format = DataPane()->GetDefaultCharFormat();
  format.dwMask = CFM_BOLD | CFM_SIZE;
  format.dwEffects = on ? format.dwEffects | CFE_BOLD : format.dwEffects & ~CFE_BOLD;
  format.yHeight += on ? kEnhanceTwips : -kEnhanceTwips;
  HeaderPane()->SetDefaultCharFormat(format);
  DataPane()->SetDefaultCharFormat(format);
  m_enhanced = on;
  CheckDlgButton(kCheckEnhance, on ? BST_CHECKED : BST_UNCHECKED);
}

void DlgPelorinView::OnButtonLoadpage() {
  const LONG pageSize = ClampLogPageSize(Profile().GetProfileInt("", "LogPageSize", kLogPageSizeDefault));
  DlgPelorinLogPages pages(this, LogPath(), pageSize);
  if (pages.DoModal() == IDCANCEL) return;
  const auto page = pages.GetSelectedPage();
  if (!page || !OpenLog()) return;
  OnPageChosen();
  // A second page keeps the live positions saved before the first.
  if (!m_pageLoaded) {
    m_savedFirst = GetFirstShown();
    m_savedLast = GetLastShown();
    m_pageLoaded = true;
  }
  WaitCursor wait;
  ShowPacketFeed(page->position, -1, pageSize);
  // A mode change now reloads the page.
  if (m_lastReloaded >= 0) SetShownRange(page->position, m_lastReloaded);
}

// --- closing ---

void DlgPelorinView::Withdraw() {
  SetShow(0);
  m_pending.clear();
  KillTimer(kDrainTimer);
  m_draining = false;
  CloseLog();
  if (PelorinCListView* list = OpeningList())
    if (PelorinCThread* thread = list->GetThread()) thread->PostThreadMessage(RegistrationMessage(), 0, 0);
}

void DlgPelorinView::OnOK() {
  LONG from = 0, to = 0;
  ReadRange(&from, &to);
  WriteSetting("Filters", "DisplayBytes", from);
  WriteSetting("Filters", "DisplayBytesTo", to);
  WriteSetting("Filters", "FeedShowHeader", GetShowHeaders());
  Withdraw();
  CloseWindow(IDOK);
}

void DlgPelorinView::OnClose() {
  Withdraw();
  CloseWindow(IDCANCEL);
}

#include "controls/inspect/DlgPelorinCompare.h"

#include <algorithm>

#include "common/Messages.h"
#include "ui/UiServices.h"

namespace {

constexpr int kLabelAbove = 15;      // px between a pane label's top and its pane
constexpr int kHalfGap = 4;          // px each pane keeps from the middle when side by side
constexpr int kPaneGap = 5;          // px
constexpr int kHorizontalBoxWidth = 110;  // px
constexpr int kBaseScrollLines = 10;
constexpr int kPacketsScrollLines = 200;
constexpr char kTitle[] = "Packet Compare";

}  // namespace

DlgPelorinCompare::DlgPelorinCompare(Window* parent) : DlgPelorinView(parent) { m_runs.reserve(PacketDiff::kInitialRuns); }

DlgPelorinCompare::DlgPelorinCompare(Window* parent, AppProfile* app, std::string name, PelorinCListView* list,
                                     PacketLogFile* logFile, PacketLogLock* logLock, int navigation)
    : DlgPelorinView(parent, app, std::move(name), list, logFile, logLock, navigation) {
  m_runs.reserve(PacketDiff::kInitialRuns);
}

DlgPelorinCompare::~DlgPelorinCompare() { DestroyWindow(); }

UINT DlgPelorinCompare::RegistrationMessage() const { return WM_PELORIN_SET_COMPARE_WINDOW; }

void DlgPelorinCompare::OnInitStartup() {
  OpenLog();
  InitRange("DisplayBytesCompare", "0", "DisplayBytesCompareTo", "0");
  InitView("FormatCompare", "WrapCompare");
  m_horizontal = ReadSetting("", "HorizontalCompare", "1") != 0;
  CheckDlgButton(kCheckHorizontal, m_horizontal ? BST_CHECKED : BST_UNCHECKED);
  HeaderPane()->LimitText(kPaneLimit);
  DataPane()->LimitText(kPaneLimit);
  SetWindowText(kTitle);
  SetDlgItemText(kCaptionLine, kTitle);
  ShowFeedControls(0, ReadSetting("Filters", "FeedShowHeaderCompare", "1"));
  GetDlgItem(kCheckHorizontal)->ShowWindow(SW_SHOW);
  SetDlgItemText(kHeaderLabel, "Base Packet");
  SetDlgItemText(kDataLabel, "Packets");
  ShowNoData(kNoDataText);
  m_initialised = true;
  MoveToOpener();
  const Rect client = GetClientRect();
  OnSize(0, client.Width(), client.Height());
}

void DlgPelorinCompare::ShowNoData(const char* text) { HeaderPane()->SetWindowText(text); }

// --- one packet ---

LONG DlgPelorinCompare::PacketDisplay(const _LogRecMarker& marker, LONG, LONG packetLength, LONG bytesRead) {
  LONG from = 0, to = 0;
  ReadRange(&from, &to);
  const LONG length = std::min(packetLength, bytesRead);
  const char* protocol = PacketFormat::ProtocolOf(PacketBuffer(), length);
  Render(protocol, length);
  RichEdit* basePane = HeaderPane();
  RichEdit* packets = DataPane();

  const bool headers = GetShowHeaders() != 0;
  std::string separator = "\r\n\r\n";
  if (headers) {
    const std::string outer = m_hasBase ? "\r\n" : "";
    separator = outer + "\r\n" + Separator(marker, PacketBuffer(), length, protocol, PacketFormat::IpTotalLength(PacketBuffer(), length)) +
                "\r\n" + outer;
  }
  if (static_cast<LONG>(separator.size()) + packets->GetTextLength() + DataLength() >= packets->GetLimitText()) {
    packets->SetWindowText("");
    SetTextFormat(1);
    ResetFormat(packets);
    SetShownRange(GetLastShown(), GetLastShown());
  }

  if (!m_hasBase) m_firstCompared = static_cast<LONG>(marker.position);
  if (DataLength() == 0) {
    if (!m_hasBase) ShowNoData(kNoPacketDataText);
    return packets->GetTextLength();
  }
  if (!m_hasBase) {
    // The base is shown whole: the range applies to the packets compared with it.
    basePane->SetWindowText("");
    AppendColoured(basePane, separator + "\r\n", kSeparatorColour);
    m_base.assign(DataBuffer(), static_cast<std::size_t>(DataLength()));
    m_hasBase = true;
    AppendPlain(basePane, m_base);
    basePane->LineScroll(kBaseScrollLines);
    return packets->GetTextLength();
  }

  LONG begin = 0, end = 0;
  ApplyRange(DataLength(), from, to, &begin, &end);
  if (end > begin || headers) {
    AppendColoured(packets, separator, kSeparatorColour);
    const LONG offset = packets->GetTextLength();
    AppendPlain(packets, std::string(DataBuffer() + begin, static_cast<std::size_t>(end - begin)));
    ShowDiff(offset, DataBuffer() + begin, end - begin, begin);
    packets->LineScroll(kPacketsScrollLines);
  }
  return packets->GetTextLength();
}

void DlgPelorinCompare::ShowDiffGet(const char* text, LONG length, LONG start) {
  if (!m_hasBase) {
    m_runs.clear();
    return;
  }
  PacketDiff::Get(m_base.data(), static_cast<long>(m_base.size()), text, length, start, GetMode() != PacketFormat::kText,
                  m_runs);
}

void DlgPelorinCompare::ShowDiff(LONG paneOffset, const char* text, LONG length, LONG start) {
  ShowDiffGet(text, length, start);
  RichEdit* packets = DataPane();
  // The text was appended in the automatic colour: only the runs change.
  for (const DiffRun& run : m_runs) {
    CharFormat colour;
    colour.dwMask = CFM_COLOR;
    colour.dwEffects = 0;
    colour.crTextColor = run.colour;
    packets->SetSel(paneOffset + static_cast<long>(run.start), paneOffset + static_cast<long>(run.end));
    packets->SetSelectionCharFormat(colour);
  }
  packets->SetSel(-1, -1);
}

// --- the user's controls ---

void DlgPelorinCompare::ForgetBase() {
  m_hasBase = false;
  m_base.clear();
  m_runs.clear();
  ClearPanes();
  ResetFormat(HeaderPane());
  ResetFormat(DataPane());
}

void DlgPelorinCompare::OnModeChanged() {
  ForgetBase();
  if (m_firstCompared < 0) {
    ShowNoData(kNoDataText);
  } else {
    // Only the base comes back, rendered in the new mode.
    WaitCursor wait;
    ShowPacketFeed(m_firstCompared, -1, 1);
  }
  SetWindowText(kTitle);
}

void DlgPelorinCompare::OnButtonClear() {
  ForgetBase();
  SetShownRange(-1, -1);
  m_firstCompared = -1;
  ShowNoData(kNoDataText);
}

void DlgPelorinCompare::OnChangeEditDisplaybytes() {
  if (m_initialised) SaveSettings();
}

void DlgPelorinCompare::OnChangeEditDisplaybytesto() {
  if (m_initialised) SaveSettings();
}

void DlgPelorinCompare::SaveSettings() {
  LONG from = 0, to = 0;
  ReadRange(&from, &to);
  WriteSetting("Filters", "DisplayBytesCompare", from);
  WriteSetting("Filters", "DisplayBytesCompareTo", to);
}

void DlgPelorinCompare::OnCheckHorizontal() {
  m_horizontal = IsDlgButtonChecked(kCheckHorizontal) == BST_CHECKED;
  WriteSetting("", "HorizontalCompare", m_horizontal ? 1 : 0);
  OnSizeBase();
}

// --- layout ---

void DlgPelorinCompare::LayoutPanes(const Rect&) { OnSizeBase(); }

void DlgPelorinCompare::OnSizeBase() {
  RichEdit* basePane = HeaderPane();
  RichEdit* packets = DataPane();
  if (basePane == nullptr || packets == nullptr) return;
  const Rect area = PaneArea();
  const Rect client = GetClientRect();
  const int top = area.top + kLabelAbove;
  Rect base, rest;
  if (m_horizontal) {
    const int half = client.Width() / 2 - kHalfGap;
    base = Rect{area.left, top, std::max(half, area.left + 1), std::max(area.bottom, top + 1)};
    rest = Rect{std::min(client.Width() - half, area.right - 1), top, area.right, base.bottom};
  } else {
    base = Rect{area.left, top, area.right, top + std::max(client.Height() / 4, 1)};
    const int restTop = base.bottom + kPaneGap + kLabelAbove;
    rest = Rect{area.left, restTop, area.right, std::max(area.bottom, restTop + 1)};
  }
  basePane->MoveWindow(base);
  packets->MoveWindow(rest);
  Window* baseLabel = GetDlgItem(kHeaderLabel);
  Window* packetsLabel = GetDlgItem(kDataLabel);
  const int labelWidth = baseLabel->GetClientRect().Width();
  baseLabel->MoveWindow(Rect{base.left, base.top - kLabelAbove, base.left + labelWidth, base.top});
  packetsLabel->MoveWindow(Rect{rest.left, rest.top - kLabelAbove, rest.left + labelWidth, rest.top});
  // "Show Horizontal" sits just above the base pane, beside its label.
  const int boxLeft = std::min(base.left + labelWidth + kPaneGap, std::max(base.right - kHorizontalBoxWidth, base.left));
  GetDlgItem(kCheckHorizontal)->MoveWindow(Rect{boxLeft, base.top - kLabelAbove, boxLeft + kHorizontalBoxWidth, base.top});
  for (auto* pane : {HeaderPane(), DataPane()})
    if (pane->IsWrapOn()) pane->PelorinCRichEditViewWrapOn();
}

// --- closing ---

void DlgPelorinCompare::OnOK() {
  SaveSettings();
  Withdraw();
  CloseWindow(IDOK);
}

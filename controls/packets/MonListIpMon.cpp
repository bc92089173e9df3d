#include "controls/packets/MonListIpMon.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

#include "common/AddressText.h"
#include "common/Messages.h"
#include "common/ResultCodes.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/inspect/InspectWindows.h"
#include "controls/link/DlgIpMon.h"
#include "controls/packets/MonListIpMonCWinThread.h"
#include "controls/packets/PacketRowCellText.h"
#include "controls/trace/RouteWindow.h"
#include "platform/AppProfile.h"
#include "ui/CellOrder.h"
#include "ui/FrameWindow.h"
#include "ui/UiServices.h"
#include "wincap/DecodedPacket.h"

namespace {

struct PacketColumn {
  const char* heading;
  int margin;     // px beyond the heading's run of "X"
  CellKind kind;  // how its cells sort
};

constexpr PacketColumn kColumns[MonListIpMon::kColumnCount] = {
    {"Type", 25, CellKind::Text},     {"Size", 13, CellKind::Number},  {"From", 80, CellKind::Address},
    {"Port", 13, CellKind::Number},   {"To", 85, CellKind::Address},   {"Port", 13, CellKind::Number},
    {"Date        Time", 19, CellKind::DateTime}, {"Status", 15, CellKind::Text},
};

constexpr PacketColumn kProcess = {"Process", 60, CellKind::Text};

constexpr int kColumnType = 0;
constexpr int kColumnSize = 1;
constexpr int kColumnFrom = 2;
constexpr int kColumnFromPort = 3;
constexpr int kColumnTo = 4;
constexpr int kColumnToPort = 5;
constexpr int kColumnStatus = 7;

constexpr std::string_view kStatusNoLog = packet_row::StatusText(PacketRowCells::kNoLog);
constexpr char kLogStoppedCaption[] = "Pelorin's Ip Data Packets";
constexpr char kLogStoppedText[] =
    "Pelorin's Ip Monitor could not write its packet log\n"
    "( the disk may be full ), so logging has stopped.\n\n"
    "Entries from now on show the Status 'NoLog'.\n";

constexpr int kStartWaitMs = 500;     // 50 checks 10 ms apart
constexpr int kStopWaitMs = 1000;     // per attempt, twice at most
constexpr int kWithdrawWaitMs = 500;  // a feed or compare window leaving the thread
constexpr int kRouteOffset = 20;      // px right of and below the frame's corner
constexpr int kRouteExtraHeight = 40; // px

// The next column click sorts descending while this holds; shared by every packet pane.
std::atomic<bool> g_nextDescending{true};

int RowNumberOf(const ListRow& row) {
  const auto* item = reinterpret_cast<const _ShowPacketReceivePackIp*>(row.data);
  return item ? item->rowNumber : 0x7FFFFFFF;
}

constexpr char kSortWhileCapturingText[] =
    "Stop scanning to sort the packets: while scanning they keep their arrival order";

template <typename T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

MonListIpMon::MonListIpMon(AppProfile* app, std::string registryPath, std::string title)
    : m_app(app), m_registryPath(std::move(registryPath)), m_title(std::move(title)) {}

MonListIpMon::~MonListIpMon() {
  m_owners.reset();  // its thread redraws this list
  ListDlgCloseAll();
  ProcessClose();
  DestroyWindow();
}

MonListIpMonCWinThread* MonListIpMon::GetCaptureThread() const {
  return static_cast<MonListIpMonCWinThread*>(GetThread());
}

template <typename Condition>
bool MonListIpMon::WaitFor(Condition condition, int timeoutMs) {
  // Returns as soon as the condition holds; checks every millisecond.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// --- creation, start, stop, close ---

LONG MonListIpMon::MonListCreate(Window* parent, UINT id, const Rect& rect) {
  const LONG created = ListCreate(parent, id, rect, 1);
  if (created != S_OK) return created;
  SetFollowNewest(true);
  if (!GetThread()) {
    auto thread = std::make_unique<MonListIpMonCWinThread>(this, m_app);
    if (!thread->IsCreated()) return E_FAIL;
    const AppProfile fallback;
    const AppProfile& profile = m_app ? *m_app : fallback;
    thread->LogSetPageSize(profile.GetProfileInt("", "LogPageSize", 256));
    thread->SetScan(static_cast<DWORD>(profile.GetProfileInt("", "ScanIpMon", 0)) * 1000);  // ms
    SetThread(std::move(thread));
  }
  for (int i = 0; i < kColumnCount; ++i) {
    ListColumn column;
    column.title = kColumns[i].heading;
    column.width = GetStringWidth(std::string(column.title.size(), 'X')) + kColumns[i].margin;
    column.format = LVCFMT_LEFT;
    column.subItem = i;
    ListInsertColumn(i, &column);
  }
  ListColumn process;
  process.title = kProcess.heading;
  process.width = GetStringWidth(std::string(process.title.size(), 'X')) + kProcess.margin;
  process.format = LVCFMT_LEFT;
  process.subItem = kProcessColumn;
  ListInsertColumn(kProcessColumn, &process);
  SetAddressColumns({kColumnFrom, kColumnTo}, kColumns[kColumnFrom].margin);
  if (!m_owners) m_owners = std::make_unique<SocketOwnerCache>(*this, [this] { RedrawRows(); });
  return S_OK;
}

LONG MonListIpMon::ListStart() {
  WaitCursor wait;
  MonListIpMonCWinThread* thread = GetCaptureThread();
  if (thread == nullptr) return 0;
  EnableNextPrev(0);
  SetStop(0);
  ListDeleteAll();
  thread->PostThreadMessage(WM_PELORIN_START_SCAN);
  WaitFor([thread] { return thread->GetIdleMessage() != 0; }, kStartWaitMs);
  return 0;
}

void MonListIpMon::ListStop() {
  WaitCursor wait;
  SetStop(1);
  MonListIpMonCWinThread* thread = GetCaptureThread();
  if (thread == nullptr) return;
  for (int attempt = 0; attempt < 2; ++attempt) {
    thread->PostThreadMessage(WM_PELORIN_STOP_SCAN);
    if (WaitFor([thread] { return thread->GetIdleMessage() == 0; }, kStopWaitMs)) break;
  }
}

void MonListIpMon::ProcessClose() {
  Show(0);
  if (IsCreated()) ShowWindow(SW_HIDE);
  if (GetThread()) {
    ListStop();
    TakeThread().reset();  // ends the platform thread, which closes the log
  }
  ListDeleteAll();
}

void MonListIpMon::SetClose() {
  if (MonListIpMonCWinThread* thread = GetCaptureThread()) thread->SetClose();
}

void MonListIpMon::SetStop(int stop) {
  CriticalSectionLock lock(m_stopLock);
  m_stop = stop;
}

int MonListIpMon::IsStop() {
  CriticalSectionLock lock(m_stopLock);
  return m_stop;
}

void MonListIpMon::ApplyFilters(int on) {
  if (MonListIpMonCWinThread* thread = GetCaptureThread()) thread->ApplyFilters(on);
}

int MonListIpMon::GetApplyFilters() {
  MonListIpMonCWinThread* thread = GetCaptureThread();
  return thread ? thread->GetApplyFilters() : 0;
}

void MonListIpMon::SetMonitorExclusive(int on) {
  if (MonListIpMonCWinThread* thread = GetCaptureThread()) thread->SetMonitorExclusive(on);
}

void MonListIpMon::LoadLastLog(LONG position) {
  MonListIpMonCWinThread* thread = GetCaptureThread();
  if (thread == nullptr) return;
  // The thread consumes the position and resets it when it handles the message.
  thread->SetLoadStart(position);
  thread->SetLogLast(1);
  thread->PostThreadMessage(WM_PELORIN_LOAD_LAST_LOG);
}

// --- rows and sorting ---

void MonListIpMon::ListDeleteAll() {
  PelorinCListView::ListDeleteAll();
  m_sortAscending.store(false);
  m_sortDescending.store(false);
  SetSortIndicator(-1, false);
}

void MonListIpMon::ListDeleteRows() {
  // Rows and records go in one step, as in the base class's clear. The capture thread clears a
  // full page over and over: the list of records taken keeps its storage.
  thread_local std::vector<DWORD_PTR> records;
  records.clear();
  if (IsCreated()) DeleteAllItems(&records);
  m_rowItems.Give(records);
  SetRowCounter(0);
  m_sortAscending.store(false);
  m_sortDescending.store(false);
  SetSortIndicator(-1, false);
}

void MonListIpMon::SetDeleteAll(int, int) {
  if (MonListIpMonCWinThread* thread = GetCaptureThread()) thread->PostThreadMessage(WM_PELORIN_DELETE_ALL);
}

bool MonListIpMon::PreTranslateMessage(const WindowMessage& message) {
  if (message.message == WM_PELORIN_LOG_STOPPED && message.hwnd == GetSafeHwnd()) {
    ::MessageBox(this, kLogStoppedText, kLogStoppedCaption, MB_OK | MB_ICONEXCLAMATION);
    return true;
  }
  return PelorinCListView::PreTranslateMessage(message);
}

void MonListIpMon::SortByRow() {
  SortRows([](const ListRow& a, const ListRow& b) {
    return Order(RowNumberOf(a), RowNumberOf(b));
  });
  m_sortAscending.store(false);
  m_sortDescending.store(false);
  SetSortIndicator(-1, false);
}

void MonListIpMon::SortByColumn(int column, bool descending) {
  if (column < 0 || column > kProcessColumn) return;
  const CellKind kind = column == kProcessColumn ? kProcess.kind : kColumns[column].kind;
  std::string textA, textB;
  SortRows([&](const ListRow& a, const ListRow& b) {
    // The cells are made as they are drawn: from the row's numbers, the process from the socket
    // table.
    if (!CallbackText(a, column, &textA)) textA = a.Text(column);
    if (!CallbackText(b, column, &textB)) textB = b.Text(column);
    int order = CompareCells(kind, textA, textB);
    if (descending) order = -order;
    // Equal rows keep arrival order in both directions.
    return order != 0 ? order : Order(RowNumberOf(a), RowNumberOf(b));
  });
  m_sortDescending.store(descending);
  m_sortAscending.store(!descending);
  SetSortIndicator(column, descending);
}

bool MonListIpMon::CallbackText(const ListRow& row, int subItem, std::string* text) const {
  const auto* item = reinterpret_cast<const PacketRowItem*>(row.data);
  if (item == nullptr) return false;
  if (subItem != kProcessColumn) return packet_row::CellText(*item, subItem, text);
  text->clear();
  const PacketRowCells& cells = item->cells;
  const std::int32_t type = item->record.typeCode;
  const int protocol = type == kPacketTypeTcp ? 6 : (type == kPacketTypeUdp ? 17 : 0);
  constexpr std::uint8_t kEnds = PacketRowCells::kSource | PacketRowCells::kDestination;
  if (m_owners == nullptr || protocol == 0 || (cells.has & kEnds) != kEnds) return true;
  if (cells.ipv6) {
    std::array<std::uint8_t, 16> source{}, destination{};
    std::memcpy(source.data(), cells.source, source.size());
    std::memcpy(destination.data(), cells.destination, destination.size());
    *text = m_owners->PacketOwner6(protocol, source, cells.sourcePort, destination, cells.destinationPort);
    return true;
  }
  std::uint32_t source = 0, destination = 0;
  std::memcpy(&source, cells.source, sizeof source);
  std::memcpy(&destination, cells.destination, sizeof destination);
  *text = m_owners->PacketOwner(protocol, source, cells.sourcePort, destination, cells.destinationPort);
  return true;
}

bool MonListIpMon::NextSortDescending() { return g_nextDescending.load(); }

void MonListIpMon::OnColumnclick(const ListNotify& notify, LRESULT* result) {
  PelorinCListView::OnColumnclick(notify, result);
  // New rows are appended in arrival order: no sorting while capture runs.
  MonListIpMonCWinThread* thread = GetCaptureThread();
  if (thread && thread->GetIdleMessage()) {
    if (auto* frame = dynamic_cast<FrameWindow*>(FrameOf())) frame->SetMessageText(kSortWhileCapturingText);
    return;
  }
  if (notify.iSubItem < 0 || notify.iSubItem > kProcessColumn) return;
  if (IsSorted()) SortByRow();
  const bool descending = g_nextDescending.load();
  g_nextDescending.store(!descending);
  SortByColumn(notify.iSubItem, descending);
}

// --- focus, double click, Enter ---

Window* MonListIpMon::FrameOf() {
  for (Window* window = GetParent(); window; window = window->GetParent())
    if (window->Kind() == WindowKind::Frame) return window;
  return nullptr;
}

void MonListIpMon::OnSetFocus(Window* oldWindow) {
  Window* frame = FrameOf();
  if (frame && !m_title.empty()) frame->SetWindowText(m_title + kCaptionSuffix);
  PelorinCListView::OnSetFocus(oldWindow);
}

void MonListIpMon::OnDblclk(const ListNotify& notify, LRESULT* result) {
  PelorinCListView::OnDblclk(notify, result);
  MonListIpView();
}

void MonListIpMon::OnReturn(const ListNotify& notify, LRESULT* result) {
  PelorinCListView::OnReturn(notify, result);
  MonListIpView();
}

// --- opening windows ---

std::vector<MonListIpMon::LoggedRecord> MonListIpMon::LoggedRecords(bool selectedOnly) const {
  std::vector<LoggedRecord> positions;
  const int count = GetItemCount();
  for (int row = selectedOnly ? GetNextItem(-1, LVNI_SELECTED) : 0; row >= 0 && row < count;
       row = selectedOnly ? GetNextItem(row, LVNI_SELECTED) : row + 1) {
    ReadRow(row, [&positions](const ListRow& locked) {
      const auto* item = reinterpret_cast<const PacketRowItem*>(locked.data);
      if (item != nullptr && item->cells.status != PacketRowCells::kNoLog)
        positions.push_back({item->logFile, item->record.recordPosition});
    });
  }
  return positions;
}

MonListIpMon::SelectedRow MonListIpMon::Selected() const {
  SelectedRow selected;
  selected.row = GetNextItem(-1, LVNI_SELECTED);
  if (selected.row >= 0) selected.status = GetItemText(selected.row, kColumnStatus);
  return selected;
}

MonListIpMon::SelectedRow MonListIpMon::RowForCommand() {
  const SelectedRow selected = Selected();
  if (selected.row >= 0) return selected;
  // The last row the user picked is still the current one unless the capture thread cleared
  // the page under it, which drops the selection and leaves the current row alone.
  if (auto* frame = dynamic_cast<FrameWindow*>(FrameOf())) frame->SetMessageText(GetCurrentItem() >= 0 ? kRowGoneText : kNoRowText);
  return selected;
}

PacketWindowRequest MonListIpMon::BaseRequest(PacketWindowKind kind, int row) {
  PacketWindowRequest request;
  request.kind = kind;
  request.list = this;
  request.app = m_app;
  request.registryPath = m_registryPath;
  MonListIpMonCWinThread* thread = GetCaptureThread();
  if (thread) {
    request.logFile = &thread->GetLogFile();
    request.logLock = &thread->GetLogLock();
  }
  request.navigation = thread && thread->GetIdleMessage() ? 0 : 1;
  request.row = row;
  // The row's record is copied while the rows are locked: the capture thread may clear the rows
  // at the page limit and free it as soon as the lock is released.
  if (row >= 0) {
    ReadRow(row, [this, &request](const ListRow& locked) {
      if (const auto* item = reinterpret_cast<const _ShowPacketReceivePackIp*>(locked.data)) request.item = *item;
      request.sizeText = CellText(locked, kColumnSize);
      request.status = CellText(locked, kColumnStatus);
    });
  }
  request.clickPoint = GetClickPoint();
  return request;
}

Window* MonListIpMon::OpenPacketWindow(const PacketWindowRequest& request) {
  switch (request.kind) {
    case PacketWindowKind::Route:
      return OpenRouteWindow(request);
    case PacketWindowKind::FirewallAddress: {
      DlgPelorinFirewallIp dialog(this, request.app, &request.address);  // modal: nothing to keep
      if (request.address6) dialog.SetPrefill6(request.address6->data());
      dialog.DoModal();
      return nullptr;
    }
    case PacketWindowKind::LinkMonitor:
      return new DlgIpMon(this, request.app, request.registryPath, request.clickPoint, request.title, &request.link,
                          nullptr, this, request.link6);
    case PacketWindowKind::PacketView:
    case PacketWindowKind::Feed:
    case PacketWindowKind::Compare:
    case PacketWindowKind::CompareAdd:
      return OpenInspectWindow(request);
    default:
      return nullptr;
  }
}

Window* MonListIpMon::Request(const PacketWindowRequest& request) {
  m_lastRequest = request;
  ++m_requestCount;
  return OpenPacketWindow(request);
}

void MonListIpMon::MonListIpView() {
  const SelectedRow selected = RowForCommand();
  if (selected.row < 0 || selected.status == kStatusNoLog) return;
  Window* view = Request(BaseRequest(PacketWindowKind::PacketView, selected.row));
  if (view == nullptr) return;
  m_packetWindows.push_back(view);
  m_lastView = view;
}

void MonListIpMon::MonListView() {
  if (m_feed) return;
  const SelectedRow selected = Selected();
  if (selected.status == kStatusNoLog) return;
  Window* feed = Request(BaseRequest(PacketWindowKind::Feed, selected.row));
  if (feed == nullptr) return;
  m_packetWindows.push_back(feed);
  m_feed = feed;
  if (MonListIpMonCWinThread* thread = GetCaptureThread())
    thread->PostThreadMessage(WM_PELORIN_SET_FEED_WINDOW, 0, static_cast<LPARAM>(feed->GetSafeHwnd()));
}

void MonListIpMon::MonListCompare() {
  if (m_compare) return;
  const SelectedRow selected = Selected();
  if (selected.status == kStatusNoLog) return;
  Window* compare = Request(BaseRequest(PacketWindowKind::Compare, selected.row));
  if (compare == nullptr) return;
  m_packetWindows.push_back(compare);
  m_compare = compare;
  if (MonListIpMonCWinThread* thread = GetCaptureThread())
    thread->PostThreadMessage(WM_PELORIN_SET_COMPARE_WINDOW, 0, static_cast<LPARAM>(compare->GetSafeHwnd()));
}

void MonListIpMon::MonListCompareAdd() {
  if (m_compare == nullptr) return;
  const SelectedRow selected = RowForCommand();
  if (selected.row < 0 || selected.status == kStatusNoLog) return;
  PacketWindowRequest request = BaseRequest(PacketWindowKind::CompareAdd, selected.row);
  request.compare = m_compare;
  Request(request);
}

void MonListIpMon::MonListIpViewMon() {
  const SelectedRow selected = RowForCommand();
  if (selected.row < 0) return;
  PacketWindowRequest request = BaseRequest(PacketWindowKind::LinkMonitor, selected.row);
  const std::string type = GetItemText(selected.row, kColumnType);
  const std::string from = GetItemText(selected.row, kColumnFrom);
  const std::string fromPort = GetItemText(selected.row, kColumnFromPort);
  const std::string to = GetItemText(selected.row, kColumnTo);
  const std::string toPort = GetItemText(selected.row, kColumnToPort);
  request.link6 = LinkFromTexts(from, fromPort, to, toPort, request.link);
  request.title = type + " - " + EndPointText(from, fromPort);
  if (!to.empty()) request.title += " -> " + EndPointText(to, toPort);
  Window* monitor = Request(request);
  if (monitor) m_monWindows.push_back(monitor);
}

void MonListIpMon::MonListIpTrace(int fromScanMenu) {
  if (m_route) {
    m_route->SetFocus();
    return;
  }
  PacketWindowRequest request;
  if (fromScanMenu) {
    request = BaseRequest(PacketWindowKind::Route, -1);
  } else {
    const SelectedRow selected = RowForCommand();
    if (selected.row < 0 || selected.status == kStatusNoLog) return;
    request = BaseRequest(PacketWindowKind::Route, selected.row);
    const int column = GetCurrentColumn();
    if (column == kColumnFrom || column == kColumnTo) request.traceTarget = GetItemText(selected.row, column);
  }
  request.traceFlag = fromScanMenu;
  Window* route = Request(request);
  if (route == nullptr) return;
  if (Window* frame = FrameOf()) {
    const Rect corner = frame->GetWindowRect();
    const Rect client = route->GetClientRect();
    // The extra height for the route list, as far as the screen has room for it.
    const int room = UiServices::Current().WorkArea().bottom - (corner.top + kRouteOffset) - kRouteOffset;
    const int height = std::max(client.Height(), std::min(client.Height() + kRouteExtraHeight, room));
    route->SetWindowPos(HWND_TOP, corner.left + kRouteOffset, corner.top + kRouteOffset, client.Width(), height, 0);
  }
  m_route = route;
  m_packetWindows.push_back(route);
}

void MonListIpMon::IpSetProperties() {
  const SelectedRow selected = RowForCommand();
  if (selected.row < 0 || selected.status == kStatusNoLog) return;
  const int column = GetCurrentColumn() == kColumnTo ? kColumnTo : kColumnFrom;
  const std::string text = GetItemText(selected.row, column);
  if (text.empty()) return;
  PacketWindowRequest request = BaseRequest(PacketWindowKind::FirewallAddress, selected.row);
  if (IsIpv6TypeText(GetItemText(selected.row, kColumnType))) {
    std::array<std::uint8_t, 16> address6{};
    if (!Inet6Pton(text.c_str(), address6.data()) || address6 == std::array<std::uint8_t, 16>{}) return;  // ::
    request.address6 = address6;
  } else {
    request.address.localAddr = InetAddr(text.c_str());
    if (request.address.localAddr == 0) return;  // 0.0.0.0
  }
  Request(request);
}

// --- the windows the pane opened ---

BOOL MonListIpMon::ListDlgIsPktView(Window* dialog) const {
  return dialog && std::find(m_packetWindows.begin(), m_packetWindows.end(), dialog) != m_packetWindows.end();
}

BOOL MonListIpMon::ListDlgIsMonView(Window* dialog) const {
  return dialog && std::find(m_monWindows.begin(), m_monWindows.end(), dialog) != m_monWindows.end();
}

void MonListIpMon::Withdraw(Window* window) {
  MonListIpMonCWinThread* thread = GetCaptureThread();
  if (window == m_feed) {
    // The thread must have dropped the window before it is destroyed: it posts to it otherwise.
    if (thread) {
      thread->PostThreadMessage(WM_PELORIN_SET_FEED_WINDOW, 0, 0);
      WaitFor([thread] { return !thread->IsFeedActive(); }, kWithdrawWaitMs);
    }
    m_feed = nullptr;
  }
  if (window == m_compare) {
    if (thread) {
      thread->PostThreadMessage(WM_PELORIN_SET_COMPARE_WINDOW, 0, 0);
      WaitFor([thread] { return !thread->IsCompareActive(); }, kWithdrawWaitMs);
    }
    m_compare = nullptr;
  }
  if (window == m_route) m_route = nullptr;
  if (window == m_lastView) m_lastView = nullptr;
}

void MonListIpMon::CloseWindow(Window* window, std::vector<Window*>& array) {
  array.erase(std::remove(array.begin(), array.end(), window), array.end());
  if (array.empty()) array.shrink_to_fit();
  window->SendMessage(WM_CLOSE);
  delete window;
}

void MonListIpMon::ListDlgClose(Window* dialog) {
  if (dialog == nullptr) return;
  if (ListDlgIsPktView(dialog)) {
    Withdraw(dialog);
    CloseWindow(dialog, m_packetWindows);
  } else if (ListDlgIsMonView(dialog)) {
    CloseWindow(dialog, m_monWindows);
  }
}

void MonListIpMon::ListDlgCloseAll() {
  for (Window* window : m_packetWindows) window->ShowWindow(SW_HIDE);
  for (Window* window : m_monWindows) window->ShowWindow(SW_HIDE);
  while (!m_packetWindows.empty()) ListDlgClose(m_packetWindows.front());
  while (!m_monWindows.empty()) ListDlgClose(m_monWindows.front());
}

void MonListIpMon::EnableNextPrev(int enable) {
  for (Window* window : m_packetWindows)
    for (int id : {kNextButton, kPrevButton})
      if (Window* button = window->GetDlgItem(id)) button->EnableWindow(enable != 0);
}

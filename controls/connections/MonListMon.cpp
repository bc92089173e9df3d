#include "controls/connections/MonListMon.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "common/AddressText.h"
#include "common/Messages.h"
#include "common/ResultCodes.h"
#include "controls/connections/EndpointIndex.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/firewall/DlgPelorinFirewallIp.h"
#include "controls/link/DlgIpMon.h"
#include "platform/AppProfile.h"
#include "platform/TaskAllocator.h"
#include "ui/UiServices.h"

namespace {

constexpr char kTcpText[] = "TCP";
constexpr char kUdpText[] = "UDP";
constexpr char kTcp6Text[] = "TCP6";
constexpr char kUdp6Text[] = "UDP6";
constexpr int kTypeColumn = 1;
constexpr int kLocalAddrColumn = 3;
constexpr int kRemoteAddrColumn = 5;

// A stop request is polled this often before it is posted once more (1 ms per poll).
constexpr DWORD kStopPollMs = 1000;

struct ColumnLayout {
  const char* title;
  int margin;            // px beyond the width of as many capital X as the title has letters
  bool needsProcessIds;  // shown only when the tables carry the owning process
};

constexpr ColumnLayout kColumns[MonListMon::kColumnCount] = {
    {"Process Name", 50, true}, {"Type", 25, false},        {"Status", 75, false},
    {"Local Addr", 50, false},  {"Port", 25, false},        {"Remote Addr", 50, false},
    {"Port", 25, false},        {"Date        Time", 15, false}, {"Elapsed", 25, false},
    {"Process Id", 25, true}};

const _MonListMonItemData* RecordOf(const ListRow& row) {
  return reinterpret_cast<const _MonListMonItemData*>(row.data);
}

int Sign(long long difference) { return difference < 0 ? -1 : difference > 0 ? 1 : 0; }

// Texts lower-cased and compared by character code.
int CompareLower(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto lower = [](char c) {
      const unsigned char u = static_cast<unsigned char>(c);
      return u >= 'A' && u <= 'Z' ? static_cast<unsigned char>(u - 'A' + 'a') : u;
    };
    const unsigned char x = lower(a[i]);
    const unsigned char y = lower(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return Sign(static_cast<long long>(a.size()) - static_cast<long long>(b.size()));
}

// Ports compare as signed 32-bit numbers.
int CompareSigned(std::uint32_t a, std::uint32_t b) {
  return Sign(static_cast<long long>(static_cast<std::int32_t>(a)) - static_cast<std::int32_t>(b));
}

bool IsIpv6(const _MonListMonItemData* r) { return r && r->family == AF_INET6; }

// Addresses in address order: IPv4 rows (stored in network order) by their value, all before
// the IPv6 rows, which compare byte by byte.
int CompareAddresses(const _MonListMonItemData* a, const _MonListMonItemData* b,
                     std::uint32_t _MonListMonItemDataIp::*address, std::uint8_t (_MonListMonItemData::*address6)[16]) {
  if (IsIpv6(a) != IsIpv6(b)) return IsIpv6(a) ? 1 : -1;
  if (IsIpv6(a)) return Sign(std::memcmp(a->*address6, b->*address6, 16));
  const std::uint32_t x = ntohl(a ? a->*address : 0u), y = ntohl(b ? b->*address : 0u);
  return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

std::atomic<bool> MonListMon::s_descendNext{true};

MonListMon::MonListMon(AppProfile* application, std::string nameText, std::string captionText)
    : m_application(application), m_nameText(std::move(nameText)), m_captionText(std::move(captionText)) {}

MonListMon::~MonListMon() {
  ProcessClose();
  ListDlgCloseAll();
  DestroyImageList();
  DestroyWindow();
}

PelorinCThreadMonListMon* MonListMon::Scanner() const {
  return static_cast<PelorinCThreadMonListMon*>(GetThread());
}

std::unique_ptr<PelorinCThreadMonListMon> MonListMon::CreateScanner() {
  return std::make_unique<PelorinCThreadMonListMon>(this, m_application);
}

// --- creation ---

LONG MonListMon::MonListCreate(Window* parent, UINT id, const Rect& rect) {
  if (ListCreate(parent, id, rect, 1) != 0) return E_FAIL;
  // Single selection, new rows placed by process name.
  SetStyle(kListStyleSorted | (GetStyle() & WS_VISIBLE));
  CreateImageList(0);
  std::unique_ptr<PelorinCThreadMonListMon> scanner = CreateScanner();
  if (!scanner || !scanner->IsCreated()) return E_FAIL;
  const bool processIds = scanner->HasExtendedTcp();
  const std::int32_t seconds = m_application ? m_application->GetProfileInt("", "ScanList", 5) : 5;
  scanner->SetScan(static_cast<DWORD>(std::max(seconds, 0)) * 1000);  // ms
  SetThread(std::move(scanner));
  for (int i = 0; i < kColumnCount; ++i) {
    const ColumnLayout& layout = kColumns[i];
    ListColumn column;
    column.title = layout.title;
    column.format = LVCFMT_LEFT;
    column.width = layout.needsProcessIds && !processIds
                       ? 0
                       : GetStringWidth(std::string(std::strlen(layout.title), 'X')) + layout.margin;
    ListInsertColumn(i, &column);
  }
  SetAddressColumns({kLocalAddrColumn, kRemoteAddrColumn}, kColumns[kLocalAddrColumn].margin);
  return 0;
}

// --- start, stop, close ---

LONG MonListMon::ListStart() {
  if (PelorinCThreadMonListMon* scanner = Scanner()) {
    ListDeleteAll();
    scanner->PostThreadMessage(WM_PELORIN_START_SCAN);
  }
  return 0;
}

void MonListMon::ListStop() {
  WaitCursor wait;
  PelorinCThreadMonListMon* scanner = Scanner();
  if (!scanner) return;
  // Two series of polls at most: a worker that never answers cannot hold the pane.
  scanner->PostThreadMessage(WM_PELORIN_STOP_SCAN);
  if (scanner->WaitIdleMessage(0, kStopPollMs)) return;
  scanner->PostThreadMessage(WM_PELORIN_STOP_SCAN);
  scanner->WaitIdleMessage(0, kStopPollMs);
}

void MonListMon::ProcessClose() {
  Show(0);
  if (PelorinCThreadMonListMon* scanner = Scanner()) {
    ListStop();
    scanner->SetClose();  // the worker lets go of the list between two rows
    TakeThread().reset();  // ends the platform thread
  }
  ListDeleteAll();
}

void MonListMon::SetClose() {
  if (PelorinCThreadMonListMon* scanner = Scanner()) scanner->SetClose();
}

void MonListMon::SetShowCurrentOnly(BOOL show) {
  if (PelorinCThreadMonListMon* scanner = Scanner()) scanner->SetShowCurrentOnly(show);
}

BOOL MonListMon::IsShowCurrentOnly() {
  PelorinCThreadMonListMon* scanner = Scanner();
  return scanner ? scanner->IsShowCurrentOnly() : 0;
}

void MonListMon::SetDeleteAll(BOOL) {
  if (PelorinCThreadMonListMon* scanner = Scanner()) scanner->PostThreadMessage(WM_PELORIN_DELETE_ALL);
}

void MonListMon::LoadLastLog() {
  if (PelorinCThreadMonListMon* scanner = Scanner()) {
    scanner->SetLogLast(1);
    scanner->PostThreadMessage(WM_PELORIN_LOAD_LAST_LOG);
  }
}

// --- records ---

void MonListMon::FreeRecord(void* record) {
  if (!record) return;
  auto* row = static_cast<_MonListMonItemData*>(record);
  CoTaskMemFree(row->logLink);
  CoTaskMemFree(row);
}

void MonListMon::FreeItemData(int row) {
  std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
  PelorinCListView::FreeItemData(row);
}

void MonListMon::ListDeleteAll() {
  std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
  PelorinCListView::ListDeleteAll();
  m_clearCount.fetch_add(1);
  m_sortedAscending = false;
  m_sortedDescending = false;
  SetSortIndicator(-1, false);
}

// --- related rows ---

LONG MonListMon::ListSelectRelated(int row) {
  std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
  const auto* record = static_cast<const _MonListMonItemData*>(GetItemData(row));
  if (!record) return 0;
  const std::string type = GetItemText(row, kTypeColumn);
  const bool tcp = type == kTcpText || type == kTcp6Text;
  if (!tcp && type != kUdpText && type != kUdp6Text) return 0;
  const EndpointKey key = EndpointKey::Of(*record, tcp);
  LONG selected = 0;
  const int count = GetItemCount();
  for (int other = 0; other < count; ++other) {
    if (other == row || GetItemText(other, kTypeColumn) != type) continue;
    const auto* candidate = static_cast<const _MonListMonItemData*>(GetItemData(other));
    if (!candidate || !(EndpointKey::Of(*candidate, tcp) == key)) continue;
    ListSelect(other);
    ++selected;
  }
  return selected;
}

// --- link monitor and firewall rule ---

void MonListMon::MonListMonIpView() {
  const int row = GetCurrentItem();
  if (row < 0 || row >= GetItemCount()) return;
  _MonListMonItemDataIp link{};
  std::optional<LinkAddresses6> link6;
  {
    std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
    // State, addresses, ports and time; never the link pointer.
    if (const auto* record = static_cast<const _MonListMonItemData*>(GetItemData(row))) {
      std::memcpy(&link, record, sizeof link);
      if (record->family == AF_INET6) {
        link6.emplace();
        std::memcpy(link6->local.data(), record->localAddr6, 16);
        std::memcpy(link6->remote.data(), record->remoteAddr6, 16);
      }
    }
  }
  const char* noAddress = link6 ? "::" : "0.0.0.0";
  auto text = [&](int column, const char* empty) {
    std::string value = GetItemText(row, column);
    return value.empty() ? std::string(empty) : value;
  };
  const std::string title = GetItemText(row, kTypeColumn) + " - " + EndPointText(text(3, noAddress), text(4, "0")) +
                            " -> " + EndPointText(text(5, noAddress), text(6, "0"));
  m_lastIpViewTitle = title;
  m_lastIpViewRecord = link;
  if (Window* window = OpenLinkMonitor(title, link, link6)) {
    m_lastWindow = window;
    m_openWindows.push_back(window);
  }
}

Window* MonListMon::OpenLinkMonitor(const std::string& title, const _MonListMonItemDataIp& link,
                                    const std::optional<LinkAddresses6>& link6) {
  return new DlgIpMon(this, m_application, m_nameText, GetClickPoint(), title, &link, this, nullptr, link6);
}

void MonListMon::IpSetProperties() {
  const int row = GetCurrentItem();
  if (row < 0 || row >= GetItemCount()) return;
  _MonListMonItemData rule{};
  {
    std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
    // The address of interest goes where the rule editor reads it: the second field (for an
    // IPv6 row its 16-byte counterpart).
    if (const auto* record = static_cast<const _MonListMonItemData*>(GetItemData(row))) {
      rule.localAddr = record->remoteAddr;
      if (record->family == AF_INET6) {
        rule.family = AF_INET6;
        std::memcpy(rule.localAddr6, record->remoteAddr6, sizeof rule.localAddr6);
      }
    }
  }
  m_lastFirewallRecord = rule;
  // UDP rows have no remote address.
  static constexpr std::uint8_t kNoAddress6[16] = {};
  const bool remote =
      rule.family == AF_INET6 ? std::memcmp(rule.localAddr6, kNoAddress6, 16) != 0 : rule.localAddr != 0;
  if (remote) OpenFirewallRule(rule);
}

void MonListMon::OpenFirewallRule(const _MonListMonItemData& record) {
  DlgPelorinFirewallIp dialog(this, m_application, &record);
  if (record.family == AF_INET6) dialog.SetPrefill6(record.localAddr6);
  dialog.DoModal();
}

void MonListMon::ListDlgClose(Window* dialog) {
  // Only a window this pane opened is closed and deleted here.
  auto it = std::find(m_openWindows.begin(), m_openWindows.end(), dialog);
  if (it == m_openWindows.end()) return;
  m_openWindows.erase(it);
  if (m_lastWindow == dialog) m_lastWindow = nullptr;
  if (dialog->IsCreated()) dialog->SendMessage(WM_CLOSE);
  delete dialog;
  if (m_openWindows.empty()) m_openWindows.shrink_to_fit();
}

void MonListMon::ListDlgCloseAll() {
  std::vector<Window*> windows;
  windows.swap(m_openWindows);
  m_lastWindow = nullptr;
  for (Window* window : windows)
    if (window->IsCreated()) window->ShowWindow(SW_HIDE);
  for (Window* window : windows) {
    if (window->IsCreated()) window->SendMessage(WM_CLOSE);
    delete window;
  }
}

// --- sorting ---

int MonListMon::CompareRows(const ListRow& a, const ListRow& b, int column, bool descending) {
  const _MonListMonItemData* ra = RecordOf(a);
  const _MonListMonItemData* rb = RecordOf(b);
  auto field = [](const _MonListMonItemData* r, std::uint32_t _MonListMonItemDataIp::*member) {
    return r ? r->*member : 0u;
  };
  int result = 0;
  switch (column) {
    case 0:
    case 1:
    case 2:
    case 8:
    case 9: result = CompareLower(a.Text(column), b.Text(column)); break;
    case 3:
      result = CompareAddresses(ra, rb, &_MonListMonItemDataIp::localAddr, &_MonListMonItemData::localAddr6);
      break;
    case 4: result = CompareSigned(field(ra, &_MonListMonItemDataIp::localPort), field(rb, &_MonListMonItemDataIp::localPort)); break;
    case 5:
      result = CompareAddresses(ra, rb, &_MonListMonItemDataIp::remoteAddr, &_MonListMonItemData::remoteAddr6);
      break;
    case 6: result = CompareSigned(field(ra, &_MonListMonItemDataIp::remotePort), field(rb, &_MonListMonItemDataIp::remotePort)); break;
    case 7: {
      const std::uint32_t ta = field(ra, &_MonListMonItemDataIp::connectTime);
      const std::uint32_t tb = field(rb, &_MonListMonItemDataIp::connectTime);
      result = ta < tb ? -1 : ta > tb ? 1 : 0;
      break;
    }
    default: break;
  }
  if (descending) result = -result;
  if (result != 0) return result;
  // Creation order breaks ties in both directions; rows without a link come last.
  const std::uint32_t sa = ra && ra->logLink ? ra->logLink->rowSequence : 0xFFFFFFFFu;
  const std::uint32_t sb = rb && rb->logLink ? rb->logLink->rowSequence : 0xFFFFFFFFu;
  return sa < sb ? -1 : sa > sb ? 1 : 0;
}

void MonListMon::SortByRow() {
  std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
  SortRows([](const ListRow& a, const ListRow& b) { return CompareRows(a, b, -1, false); });
  m_sortedAscending = false;
  m_sortedDescending = false;
  SetSortIndicator(-1, false);
}

void MonListMon::SortByColumn(int column) {
  std::lock_guard<std::recursive_mutex> lock(m_recordsLock);
  if (m_sortedAscending.load() || m_sortedDescending.load()) SortByRow();
  const bool descending = s_descendNext.exchange(!s_descendNext.load());
  SortRows([column, descending](const ListRow& a, const ListRow& b) { return CompareRows(a, b, column, descending); });
  m_sortedDescending = descending;
  m_sortedAscending = !descending;
  m_sortColumn = column;
  SetSortIndicator(column, descending);
}

// --- notifications ---

void MonListMon::OnColumnclick(const ListNotify& notify, LRESULT* result) {
  WaitCursor wait;
  if (result) *result = 0;
  // While the scan runs, or the log is being reloaded, the rows stay put; a stopped (or
  // thread-less) pane sorts.
  if (PelorinCThreadMonListMon* scanner = Scanner(); scanner && (scanner->GetIdleMessage() || scanner->IsLogLast()))
    return;
  SortByColumn(notify.iSubItem);
}

void MonListMon::OnClick(const ListNotify& notify, LRESULT* result) {
  WaitCursor wait;
  PelorinCListView::OnClick(notify, result);
  ListSelectRelated(GetCurrentItem());
}

void MonListMon::OnRclick(const ListNotify& notify, LRESULT* result) { PelorinCListView::OnRclick(notify, result); }

void MonListMon::OnDblclk(const ListNotify& notify, LRESULT* result) {
  PelorinCListView::OnDblclk(notify, result);
  MonListMonIpView();
}

void MonListMon::OnReturn(const ListNotify& notify, LRESULT* result) {
  PelorinCListView::OnReturn(notify, result);
  MonListMonIpView();
}

void MonListMon::OnSetFocus(Window* oldWindow) {
  if (Window* parent = GetParentWindow(); parent && !m_captionText.empty())
    parent->SetWindowText(m_captionText + " - Connections");
  PelorinCListView::OnSetFocus(oldWindow);
}

void MonListMon::OnContextMenu(Window* window, Point screenPoint) {
  PelorinCListView::OnContextMenu(window, screenPoint);
}

#include "app/CRamparoListView.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/AddressText.h"
#include "common/FieldText.h"
#include "controls/connections/PelorinCThreadMonListMon.h"
#include "controls/firewall/FirewallProcessFile.h"
#include "ui/Menu.h"
#include "ui/UiServices.h"

namespace {

struct Column {
  const char* title;
  int width;  // px
};
constexpr Column kColumns[] = {{"Process Name", 130}, {"Type", 45},         {"Status", 80}, {"Local Addr", 110},
                               {"Port", 50},          {"Remote Addr", 110}, {"Port", 50},   {"Process Id", 70}};
constexpr int kLocalAddrColumn = 3;
constexpr int kRemoteAddrColumn = 5;
constexpr int kAddressMargin = 12;  // px beyond an IPv6 text

std::string AddressText(const TableEndpoint& e, bool local) {
  if (e.family != AF_INET6) return InetNtoa(local ? e.localAddr : e.remoteAddr);
  return Inet6Ntop(local ? e.localAddr6.data() : e.remoteAddr6.data());
}

constexpr LONG kIconList = 2006;

std::string FileProblemText(const std::string& path, const char* failed, const char* outcome) {
  return "The firewall process file\n" + path + "\ncould not be " + failed +
         ". It may be locked by the firewall.\n\n" + outcome + "\n\n";
}

}  // namespace

std::string CRamparoListView::UnreadText(const std::string& path) {
  return FileProblemText(path, "read", "No process is blocked or allowed until it can be read.");
}

CRamparoListView::CRamparoListView() {
  MapCommand(kMenuAllow, [this] { MarkProcess(GetCurrentItem(), false); });
  MapCommand(kMenuBlock, [this] { MarkProcess(GetCurrentItem(), true); });
  MapUpdate(kMenuAllow, [this](CmdUI& cmd) { cmd.Enable(GetCurrentItem() >= 0 && IsRowBlocked(GetCurrentItem())); });
  MapUpdate(kMenuBlock, [this](CmdUI& cmd) { cmd.Enable(GetCurrentItem() >= 0 && !IsRowBlocked(GetCurrentItem())); });
}

CRamparoListView::~CRamparoListView() { DestroyWindow(); }

bool CRamparoListView::CreateView(Window* parent, UINT id, const Rect& rect) {
  if (ListCreate(parent, id, rect, 1) != 0) return false;
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    const ListColumn column{kColumns[i].title, kColumns[i].width, LVCFMT_LEFT, -1};
    ListInsertColumn(i, &column);
  }
  ListCreateFont(10, "Courier New");
  ListSetFont();
  SetAddressColumns({kLocalAddrColumn, kRemoteAddrColumn}, kAddressMargin);
  CreateImageList(kIconList);
  m_tables.Load();
  return true;
}

bool CRamparoListView::SetProcessFile(const std::string& path) {
  m_processFile = path;
  FirewallProcessFile::Contents contents = FirewallProcessFile::Read(path, FirewallProcessFile::Sharing::Exclusive);
  m_loaded = contents.opened || contents.missing;
  m_entries = std::move(contents.records);
  return m_loaded;
}

_FirewallProcessRecord* CRamparoListView::EntryOf(const std::string& name) {
  for (_FirewallProcessRecord& entry : m_entries)
    if (GetFieldText(entry.processName) == name) return &entry;
  return nullptr;
}

void CRamparoListView::AddRow(const TableEndpoint& endpoint, bool tcp, bool extended) {
  const std::string name = extended ? ProcessGetName(endpoint.processId, nullptr) : std::string();
  const int image = extended && !name.empty() ? GetAppIcon(name, GetItemCount(), endpoint.processId) : -1;
  const int row = InsertItem(GetItemCount(), name, image);
  if (row < 0) return;
  const bool ipv6 = endpoint.family == AF_INET6;
  // The types the connections pane shows, so a row names its family.
  SetItemText(row, 1, tcp ? (ipv6 ? "TCP6" : "TCP") : (ipv6 ? "UDP6" : "UDP"));
  // A table read once has no endpoint that has gone: UDP rows all listen.
  SetItemText(row, 2, tcp ? PelorinCThreadMonListMon::GetTcpState(endpoint.state) : "Listen");
  const std::string local = AddressText(endpoint, true), remote = tcp ? AddressText(endpoint, false) : std::string();
  if (ipv6) WidenAddressColumns(std::max(local.size(), remote.size()));
  SetItemText(row, kLocalAddrColumn, local);
  SetItemText(row, 4, std::to_string(endpoint.localPort));
  SetItemText(row, kRemoteAddrColumn, remote);
  SetItemText(row, 6, tcp ? std::to_string(endpoint.remotePort) : std::string());
  SetItemText(row, 7, std::to_string(endpoint.processId));
  if (name.empty()) return;
  _FirewallProcessRecord* entry = EntryOf(name);
  if (entry == nullptr && m_entries.size() < FirewallProcessFile::kMaxRecords) {
    _FirewallProcessRecord fresh{};
    // The row data is the engine's; we give it the process id of the first row seen.
    std::memcpy(fresh.rowHead, &endpoint.processId, sizeof endpoint.processId);
    SetFieldText(fresh.processName, name);
    m_entries.push_back(fresh);
    entry = &m_entries.back();
  }
  ListControl::SetItemData(row, entry != nullptr && entry->blocked != 0 ? 1 : 0);
}

bool CRamparoListView::Refresh() {
  // A file that could not be read may be free now.
  if (!m_loaded && !m_processFile.empty()) SetProcessFile(m_processFile);
  ListEndpoints();
  return Save();
}

bool CRamparoListView::Save() {
  if (m_processFile.empty()) return true;  // a list without a file
  if (!m_loaded) return false;
  if (FirewallProcessFile::Write(m_processFile, m_entries)) {
    m_written = true;
    return true;
  }
  MessageBox(this, FileProblemText(m_processFile, "written", "The list shows the file as it is."), kCaption, MB_OK);
  return false;
}

void CRamparoListView::ListEndpoints() {
  DeleteAllItems();
  std::vector<TableEndpoint> endpoints;
  ProcessSnapshotTake();
  // A table that cannot be fetched leaves its endpoints empty; the IPv6 ones (with their process
  // ids always) are listed after them whatever became of the IPv4 table.
  m_tables.FetchTcp(&endpoints);
  m_tables.AppendTcp6(&endpoints);
  for (const TableEndpoint& endpoint : endpoints)
    AddRow(endpoint, true, endpoint.family == AF_INET6 || m_tables.HasExtendedTcp());
  m_tables.FetchUdp(&endpoints);
  m_tables.AppendUdp6(&endpoints);
  for (const TableEndpoint& endpoint : endpoints)
    AddRow(endpoint, false, endpoint.family == AF_INET6 || m_tables.HasExtendedUdp());
  ProcessSnapshotClose();
}

bool CRamparoListView::IsRowBlocked(int row) const {
  return row >= 0 && row < GetItemCount() && ListControl::GetItemData(row) != 0;
}

void CRamparoListView::MarkProcess(int row, bool blocked) {
  if (row < 0 || row >= GetItemCount()) return;
  const std::string name = GetItemText(row, kColumnProcessName);
  if (name.empty()) return;
  if (!m_loaded && !SetProcessFile(m_processFile)) {
    MessageBox(this, UnreadText(m_processFile), kCaption, MB_OK);
    return;
  }
  const std::vector<_FirewallProcessRecord> before = m_entries;
  for (_FirewallProcessRecord& entry : m_entries)
    if (GetFieldText(entry.processName) == name) entry.blocked = blocked ? 1 : 0;
  // Every row of the process shows its entry's mark again: the new one once it is in the file.
  ListEndpoints();
  if (Save()) return;
  m_entries = before;
  ListEndpoints();
}

void CRamparoListView::OnRclick(const ListNotify& notify, LRESULT* result) {
  PelorinCListView::OnRclick(notify, result);
  if (notify.iItem < 0) return;
  Menu menu;
  menu.AppendMenu(MF_STRING, kMenuAllow, "Allow");
  menu.AppendMenu(MF_STRING, kMenuBlock, "Block");
  const Point screen = ClientToScreen(notify.ptAction);
  menu.TrackPopupMenu(TPM_RIGHTBUTTON, screen.x, screen.y, this);
}

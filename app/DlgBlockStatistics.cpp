#include "app/DlgBlockStatistics.h"

#include <chrono>

#include "app/FirewallConsole.h"
#include "ui/ListControl.h"

DlgBlockStatistics::DlgBlockStatistics(Window* parent, FirewallConsole& console)
    : Dialog(MakeTemplate(), parent), m_console(console) {}

DlgBlockStatistics::~DlgBlockStatistics() {
  DestroyWindow();
  Abandon();
}

DialogTemplate DlgBlockStatistics::MakeTemplate() {
  DialogTemplate dialog{"Blocking Statistics",
                        310,
                        180,
                        "MS Sans Serif",
                        8,
                        {ReportListItem(IDC_LIST_STATISTICS, 7, 7, 296, 146, LVS_SINGLESEL),
                         PushButtonItem(IDC_BUTTON_REFRESH, "Refresh", 160, 160, 50, 14).Hidden().Disabled(),
                         DefPushButtonItem(IDOK, "OK", 253, 160, 50, 14)}};
  return dialog;
}

ListControl* DlgBlockStatistics::List() const { return GetDlgItemAs<ListControl>(IDC_LIST_STATISTICS); }

bool DlgBlockStatistics::OnInitDialog() {
  if (ListControl* list = List()) {
    list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_FULLROWSELECT);
    list->InsertColumn(0, "Rule", LVCFMT_LEFT, 120);
    list->InsertColumn(1, "Blocking Ip", LVCFMT_LEFT, 105);
    list->InsertColumn(2, "In", LVCFMT_RIGHT, 50);
    list->InsertColumn(3, "Out", LVCFMT_RIGHT, 50);
    list->InsertColumn(4, "Protocol(s)", LVCFMT_LEFT, 120);
  }
  m_abort.store(false);
  Refresh();
  SetTimer(kRefreshTimer, kRefreshMs);
  return true;
}

void DlgBlockStatistics::OnTimer(UINT id) {
  if (id == kRefreshTimer) Refresh();
  if (id == kReplyTimer) TakeReply();
}

void DlgBlockStatistics::OnDestroy() { Abandon(); }

void DlgBlockStatistics::Refresh() {
  if (m_pending.valid()) return;  // the last request has not been answered yet
  if (CRampaMem* channel = m_console.Channel()) channel->SetAbortFlag(&m_abort);
  m_pending = std::async(std::launch::async, [this]() -> std::optional<RampaStatisticsReply> {
    const std::uint8_t* payload = m_console.EngineRequest(kRampaMsgStatistics);
    if (payload == nullptr) return std::nullopt;
    // Parsed from a copy and checked against the payload's size before anything is shown.
    return RampaStatisticsReply::Parse(payload, kRampaPayloadSize);
  });
  SetTimer(kReplyTimer, kReplyPollMs);
}

bool DlgBlockStatistics::TakeReply() {
  if (!m_pending.valid() || m_pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
  KillTimer(kReplyTimer);
  const std::optional<RampaStatisticsReply> reply = m_pending.get();
  if (!reply) return false;
  m_table.Apply(*reply, m_console.RuleTable());
  Show();
  return true;
}

void DlgBlockStatistics::Abandon() {
  m_abort.store(true);
  if (m_pending.valid()) m_pending.wait();
  m_pending = {};
  if (CRampaMem* channel = m_console.Channel()) channel->SetAbortFlag(nullptr);
}

void DlgBlockStatistics::Show() {
  ListControl* list = List();
  if (list == nullptr) return;
  const auto& rows = m_table.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    int index = static_cast<int>(i);
    if (index >= list->GetItemCount()) index = list->InsertItem(index, row.rule);
    if (index < 0) continue;
    list->SetItemText(index, 1, row.blocking);
    list->SetItemText(index, 2, std::to_string(row.in));
    list->SetItemText(index, 3, std::to_string(row.out));
    list->SetItemText(index, 4, row.protocols);
  }
}

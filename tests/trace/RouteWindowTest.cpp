// The route window on the user-interface thread: its first contents and settings, the server
// list, a trace of the machine's own loopback address, host vitals and free queries against a
// whois server of ours, and closing while a whois wait is pending.
#include <gtest/gtest.h>

#include "TraceTestSupport.h"
#include "common/TraceRoutePoint.h"
#include "controls/trace/CTraceThread.h"
#include "controls/trace/CWhoIsQuery.h"
#include "controls/trace/DlgPelorinTrace.h"
#include "controls/trace/DlgPelorinTraceIds.h"
#include "controls/trace/WhoIsServerList.h"
#include "ui/ComboBox.h"
#include "ui/ListBox.h"

using namespace trace_test;
using namespace TraceIds;
using Manner = WhoIsServer::Manner;

namespace {

_MonListMonItemDataIp AddressRecord(const char* address) {
  _MonListMonItemDataIp record{};
  record.localAddr = inet_addr(address);
  return record;
}

std::vector<std::string> Lines(DlgPelorinTrace& window) { return window.GetDlgItemAs<ListBox>(IDC_LIST_ROUTE)->Lines(); }

bool HasLine(DlgPelorinTrace& window, const std::string& line) {
  const std::vector<std::string> lines = Lines(window);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace

TEST(RouteWindow, OpensWithTheSavedSettingsAndKeepsTheServerList) {
  TraceEnv env;
  env.App().WriteProfileString("", "TraceIp", "10.5.6.7");
  auto window = std::make_unique<DlgPelorinTrace>(nullptr, &env.App(), nullptr, 1);
  EXPECT_TRUE(window->IsReady());
  EXPECT_EQ(window->GetDlgItemText(IDC_IPADDRESS_TRACE), "10.5.6.7");
  EXPECT_EQ(window->GetDlgItemText(IDC_EDIT_WHOIS_QUERY), "?");
  // No list file yet: it is made with the defaults, the first one chosen.
  auto* servers = window->GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS);
  EXPECT_EQ(servers->Entries(), WhoIsServerList::Defaults());
  EXPECT_EQ(servers->GetWindowText(), WhoIsServerList::Defaults()[0]);

  // A server already listed is only chosen; a new one is added; both disable the button.
  servers->TypeText(WhoIsServerList::Defaults()[2]);
  EXPECT_TRUE(window->ClickButton(IDC_BUTTON_ADD_SERVER));
  EXPECT_EQ(servers->GetCount(), 4);
  EXPECT_EQ(servers->GetCurSel(), 2);
  EXPECT_FALSE(window->GetDlgItem(IDC_BUTTON_ADD_SERVER)->IsWindowEnabled());
  servers->TypeText("whois.example.net");
  EXPECT_TRUE(window->ClickButton(IDC_BUTTON_ADD_SERVER));
  EXPECT_EQ(servers->GetCount(), 5);
  EXPECT_EQ(servers->GetCurSel(), 4);

  // Nothing to trace: the address field is empty.
  window->SetDlgItemText(IDC_IPADDRESS_TRACE, "");
  window->TypeInto(IDC_EDIT_TRACE_HOST, "");
  ASSERT_TRUE(window->ClickButton(IDC_BUTTON_TRACE));
  ASSERT_TRUE(PumpUntil([&] { return HasLine(*window, CTraceThread::kNotSpecified); }, 2000));

  // Done saves the settings and the list, with the new server.
  window->TypeInto(IDC_EDIT_TRACE_HOST, "far.example");
  window->ClickButton(IDC_BUTTON_DONE);
  EXPECT_EQ(env.App().GetProfileString("", "TraceHost", ""), "far.example");
  EXPECT_EQ(env.App().GetProfileString("", "TraceWhoIsServer", ""), "whois.example.net");
  EXPECT_EQ(WhoIsServerList::Read(WhoIsServerList::kFileName)->size(), 5u);
  window.reset();

  // Opened for an address, the window shows it and takes no host name.
  const _MonListMonItemDataIp record = AddressRecord("10.8.8.8");
  DlgPelorinTrace forAddress(nullptr, &env.App(), &record, 0);
  EXPECT_EQ(forAddress.GetDlgItemText(IDC_IPADDRESS_TRACE), "10.8.8.8");
  EXPECT_FALSE(forAddress.GetDlgItem(IDC_EDIT_TRACE_HOST)->IsWindowEnabled());
  EXPECT_EQ(forAddress.GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS)->GetCount(), 5);
}

TEST(RouteWindow, TracesTheOwnAddressThenFetchesHostVitalsAndQueries) {
  if (!IsRoot()) GTEST_SKIP() << "ICMP echoes need a raw socket: run as root";
  TraceEnv env;
  WhoIsServer server(Manner::Normal);
  WhoIsServer empty(Manner::Empty);
  const _MonListMonItemDataIp record = AddressRecord("127.0.0.1");
  DlgPelorinTrace window(nullptr, &env.App(), &record, 0);
  auto* servers = window.GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS);
  servers->TypeText(server.Name());

  // The machine's own address answers the first echoes: one hop, and the trace is complete.
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_TRACE));
  ASSERT_TRUE(PumpUntil([&] { return HasLine(window, CTraceThread::kTraceComplete); }, 5000));
  const std::vector<std::string> lines = Lines(window);
  ASSERT_EQ(lines.size(), 2u);
  const std::string hostName = CTraceCallback::ReverseLookup(record.localAddr);
  // The round trip is a few milliseconds at most, more on a loaded machine: only its form is checked.
  const std::string tail = " ms " + (hostName.empty() ? std::string("127.0.0.1") : hostName + " [127.0.0.1]");
  ASSERT_GT(lines[0].size(), 4 + tail.size()) << lines[0];
  const std::string rtt = lines[0].substr(4, lines[0].size() - 4 - tail.size());
  EXPECT_EQ(lines[0].substr(0, 4) + "0" + lines[0].substr(lines[0].size() - tail.size()), "1 - 0" + tail) << lines[0];
  EXPECT_EQ(rtt.find_first_not_of("0123456789"), std::string::npos) << lines[0];
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItem(IDC_BUTTON_TRACE)->IsWindowEnabled(); }, 2000));
  EXPECT_TRUE(window.IsReady());
  // The route point's record and its first detail text.
  auto* list = window.GetDlgItemAs<ListBox>(IDC_LIST_ROUTE);
  const auto* point = reinterpret_cast<const _TraceRoutePoint*>(list->GetItemData(0));
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->hop, 1);
  EXPECT_STREQ(point->address, "127.0.0.1");
  EXPECT_EQ(list->GetItemData(1), 0u);
  EXPECT_TRUE(window.SelectListItem(IDC_LIST_ROUTE, 0));
  EXPECT_EQ(window.GetDlgItemText(IDC_RICHEDIT_VITALS), TraceRouteList::kDefaultDetail);

  // A double click fetches the point's whois text: the address, without the prefix.
  const std::string expected = CWhoIsQuery::ToCrLf(WhoIsServer::kAnswer);
  ASSERT_TRUE(window.DoubleClickListItem(IDC_LIST_ROUTE, 0));
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItemText(IDC_RICHEDIT_VITALS) == expected; }, 5000));
  EXPECT_EQ(server.Queries(), (std::vector<std::string>{"127.0.0.1\r\n"}));
  EXPECT_EQ(window.GetDlgItemText(IDC_STATIC_STATUS), server.Name() + "->? 127.0.0.1");

  // Host Vitals for every point, by host name, from a server that has nothing to say.
  servers->TypeText(empty.Name());
  window.CheckDlgButton(IDC_CHECK_USE_HOST_NAMES, BST_CHECKED);
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_HOST_VITALS));
  ASSERT_TRUE(PumpUntil([&] { return HasLine(window, CTraceThread::kVitalsComplete); }, 5000));
  EXPECT_EQ(empty.Queries(), (std::vector<std::string>{(hostName.empty() ? "127.0.0.1" : hostName) + "\r\n"}));
  EXPECT_EQ(window.GetDlgItemText(IDC_RICHEDIT_VITALS), CWhoIsQuery::kNotAvailable);

  // A free query sends the query text; an empty answer reads "Timeout".
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItem(IDC_BUTTON_QUERY)->IsWindowEnabled(); }, 2000));
  window.TypeInto(IDC_EDIT_WHOIS_QUERY, "? 10.0.0.1");
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_QUERY));
  ASSERT_TRUE(PumpUntil([&] { return window.GetDlgItemText(IDC_RICHEDIT_VITALS) == CWhoIsQuery::kTimeout; }, 5000));
  EXPECT_EQ(empty.Queries().back(), "? 10.0.0.1\r\n");
  EXPECT_EQ(window.GetDlgItemText(IDC_STATIC_STATUS), empty.Name() + "->? 10.0.0.1");
  EXPECT_EQ(env.App().GetProfileString("", "WhoIsPrefix", ""), "? 10.0.0.1");  // Query saves whatever the record
}

TEST(RouteWindow, DoneCutsAPendingWhoisWaitShort) {
  TraceEnv env;
  WhoIsServer silent(Manner::Silent);
  DlgPelorinTrace window(nullptr, &env.App(), nullptr, 0);
  window.GetDlgItemAs<ComboBox>(IDC_COMBO_WHOIS_SERVERS)->TypeText(silent.Name());
  ASSERT_TRUE(window.ClickButton(IDC_BUTTON_QUERY));
  ASSERT_TRUE(PumpUntil([&] { return silent.Queries().size() == 1; }, 2000));
  const auto start = std::chrono::steady_clock::now();
  window.ClickButton(IDC_BUTTON_DONE);
  EXPECT_LT(MillisecondsSince(start), 500);
  EXPECT_EQ(window.GetThread(), nullptr);
  EXPECT_FALSE(window.IsWindowVisible());
}

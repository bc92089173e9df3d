#include <pcap/pcap.h>

#include <fstream>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "common/FieldText.h"
#include "controls/framework/DlgPelorinLogSelect.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "wincap/AdapterDescription.h"
#include "wincap/DlgPelorinAdapters.h"

namespace settings_test {
namespace {

using Dlg = DlgPelorinLogSelect;
constexpr int kAdapterList = DlgPelorinAdapters::IDC_LIST_ADAPTERS;

std::vector<int> Checks(const Dialog& d) {
  std::vector<int> checks;
  for (int id : {Dlg::IDC_CHECK_LOGLIST, Dlg::IDC_CHECK_LOGIPMON, Dlg::IDC_CHECK_LOGSTATS, Dlg::IDC_CHECK_LOGSTATSIP})
    checks.push_back(d.IsDlgButtonChecked(id));
  return checks;
}

// The loopback device with its index among all devices, from the capture library directly.
struct Device {
  int index = -1;
  std::string name, description;
};
Device Loopback() {
  Device found;
  pcap_if_t* devices = nullptr;
  char error[PCAP_ERRBUF_SIZE] = {};
  if (pcap_findalldevs(&devices, error) != 0) return found;
  int index = 0;
  for (pcap_if_t* d = devices; d != nullptr; d = d->next, ++index)
    if (std::string(d->name) == "lo" && d->addresses != nullptr) found = {index, d->name, AdapterDescription(*d)};
  pcap_freealldevs(devices);
  return found;
}

// The chooser's row of a device name (sub-item 2), or -1.
int RowOf(Dialog& chooser, const std::string& name) {
  auto* list = chooser.GetDlgItemAs<ListControl>(kAdapterList);
  for (int row = 0; row < list->GetItemCount(); ++row)
    if (list->GetItemText(row, 2) == name) return row;
  return -1;
}

// Chooses the chooser's last row, Close Adapter.
void ChooseCloseAdapter(Dialog& chooser) {
  chooser.DoubleClickListItem(kAdapterList, chooser.GetDlgItemAs<ListControl>(kAdapterList)->GetItemCount() - 1);
}

class settings_LogSelect : public SettingsTest {
 protected:
  std::vector<int> ThreadLogs() const {
    return {m_connections->Scanner()->IsLog(), m_packets->GetCaptureThread()->GetLog()};
  }
};

TEST_F(settings_LogSelect, OpensWithTheDefaultsOrTheStoredSwitchesAndInterface) {
  ScriptedServices script;
  std::vector<int> checks;
  bool statsClicked = true;
  std::string shown = "?";
  script.OnNextModal([&](Dialog& d) {
    checks = Checks(d);
    statsClicked = d.ClickButton(Dlg::IDC_CHECK_LOGSTATS) || d.ClickButton(Dlg::IDC_CHECK_LOGSTATSIP);
    shown = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.ClickButton(Dlg::IDC_CHECK_LOGLIST);
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).DoModal(), IDCANCEL);
  EXPECT_EQ(checks, (std::vector<int>{1, 1, 0, 0}));
  EXPECT_FALSE(statsClicked);  // the statistics boxes are disabled
  EXPECT_EQ(shown, "");
  for (const char* value : {"LogList", "LogIpMon", "LogStats", "LogStatsIp"})
    EXPECT_FALSE(Stored(value).has_value()) << value;

  m_app.WriteProfileInt("", "LogList", 0);
  m_app.WriteProfileInt("", "LogStatsIp", 1);
  m_app.WriteProfileInt("", "AdapterCurr", 3);
  m_app.WriteProfileString("", "AdapterCurrName", "eth7");
  m_app.WriteProfileString("", "AdapterCurrDesc", "Seventh card");
  script.OnNextModal([&](Dialog& d) {
    checks = Checks(d);
    shown = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.PressEscape();
  });
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  dialog.DoModal();
  EXPECT_EQ(checks, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(shown, "Seventh card");
  EXPECT_EQ(dialog.GetAdapter().index, 3);
  EXPECT_EQ(GetFieldText(dialog.GetAdapter().name), "eth7");
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST_F(settings_LogSelect, OkOnlySavesWhileApplyAlsoSwitchesTheRunningThreads) {
  CreatePanes();
  ASSERT_EQ(ThreadLogs(), (std::vector<int>{1, 1}));
  ScriptedServices script;
  script.AnswerMessageBox(IDYES);
  script.OnNextModal([](Dialog& d) {
    d.ClickButton(Dlg::IDC_CHECK_LOGLIST);
    d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);  // answered Yes
    d.ClickButton(IDOK);
  });
  Dlg dialog(nullptr, &m_app, m_connections.get(), m_packets.get(), m_stats.get(), m_statsIp.get());
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(Stored("LogList"), 0);
  EXPECT_EQ(Stored("LogIpMon"), 0);
  EXPECT_EQ(Stored("LogStats"), 0);
  EXPECT_EQ(Stored("LogStatsIp"), 0);
  EXPECT_EQ(ThreadLogs(), (std::vector<int>{1, 1}));

  std::vector<int> opened, applied, reapplied;
  bool stayedOpen = false;
  script.OnNextModal([&](Dialog& d) {
    opened = Checks(d);
    d.ClickButton(Dlg::IDC_BUTTON_APPLY);
    stayedOpen = !d.IsEnded();
    applied = ThreadLogs();
    d.ClickButton(Dlg::IDC_CHECK_LOGLIST);
    d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);  // switching the log on asks nothing
    d.ClickButton(Dlg::IDC_BUTTON_APPLY);
    reapplied = ThreadLogs();
    d.ClickButton(IDCANCEL);
  });
  dialog.DoModal();
  EXPECT_EQ(opened, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(applied, (std::vector<int>{0, 0}));
  EXPECT_EQ(reapplied, (std::vector<int>{1, 1}));
  EXPECT_EQ(Stored("LogIpMon"), 1);
  EXPECT_EQ(script.Messages().size(), 1u);
}

TEST_F(settings_LogSelect, SwitchingThePacketLogOffAsksAndNoKeepsItOn) {
  ScriptedServices script;
  script.AnswerMessageBox(IDNO);
  int afterNo = -1;
  script.OnNextModal([&](Dialog& d) {
    d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);
    afterNo = d.IsDlgButtonChecked(Dlg::IDC_CHECK_LOGIPMON);
    d.ClickButton(IDCANCEL);
  });
  Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).DoModal();
  EXPECT_EQ(afterNo, BST_CHECKED);
  EXPECT_FALSE(Stored("LogIpMon").has_value());
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].caption, "Pelorin's Ip Data Packets");
  EXPECT_EQ(script.Messages()[0].text,
            "You are requesting to NOT log Pelorin's Ip Monitor\ndata packets.\n\n"
            "This results in Ip Monitor entries that will not have\nthe ability to display it's data packets. "
            "The Status\nwill show 'NoLog', hence no data packet information\nis stored for display...nor "
            "analytical reasons.\n\nAre you sure you want to disable Pelorin's Logs ?\n\n");
  EXPECT_EQ(script.Messages()[0].type & 0xF, MB_YESNO);
}

TEST_F(settings_LogSelect, AChosenInterfaceIsSavedAtOnceAndACancelledOneChangesNothing) {
  const Device lo = Loopback();
  ASSERT_GE(lo.index, 0) << "lo is not a usable capture device here";
  ScriptedServices script;
  std::string shown;
  script.OnNextModal([&](Dialog& d) {
    EXPECT_TRUE(d.ClickButton(Dlg::IDC_BUTTON_INTERFACES));
    shown = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.ClickButton(IDCANCEL);
  });
  script.OnNextModal([&](Dialog& chooser) {
    EXPECT_TRUE(chooser.SelectListItem(kAdapterList, RowOf(chooser, lo.name)));
    chooser.ClickButton(IDOK);
  });
  EXPECT_EQ(Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).DoModal(), IDCANCEL);
  EXPECT_EQ(shown, lo.description);
  EXPECT_EQ(Stored("AdapterCurr"), lo.index);
  EXPECT_EQ(StoredText("AdapterCurrName"), lo.name);
  EXPECT_EQ(StoredText("AdapterCurrDesc"), lo.description);
  EXPECT_FALSE(Stored("LogList").has_value());  // Cancel saved no switch
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].caption, "Interface Setting");
  EXPECT_EQ(script.Messages()[0].text,
            "\n\nNew Interface Saved.\n\nSettings will take effect the next time Pelorin Scan\n"
            "is stopped, then re-started.\n\nie...Menu Scan->Stop Scanning , Scan->Start Scanning\n\n");

  // Opened again, the chooser starts on the stored device; a choice it cancels is not stored.
  int reopenedOn = -2, loRow = -1;
  script.OnNextModal([&](Dialog& d) {
    d.ClickButton(Dlg::IDC_BUTTON_INTERFACES);
    shown = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.ClickButton(IDOK);
  });
  script.OnNextModal([&](Dialog& chooser) {
    reopenedOn = chooser.GetDlgItemAs<ListControl>(kAdapterList)->GetNextItem(-1, LVNI_SELECTED);
    loRow = RowOf(chooser, lo.name);
    chooser.SelectListItem(kAdapterList, 0);
    chooser.PressEscape();
  });
  EXPECT_EQ(Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).DoModal(), IDOK);
  EXPECT_EQ(reopenedOn, loRow);
  EXPECT_EQ(shown, lo.description);
  EXPECT_EQ(Stored("AdapterCurr"), lo.index);
  EXPECT_EQ(StoredText("AdapterCurrName"), lo.name);
  EXPECT_EQ(script.Messages().size(), 1u);

  // Close Adapter is stored as no interface.
  script.OnNextModal([](Dialog& d) {
    d.ClickButton(Dlg::IDC_BUTTON_INTERFACES);
    d.ClickButton(IDCANCEL);
  });
  script.OnNextModal(ChooseCloseAdapter);
  Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).DoModal();
  EXPECT_EQ(Stored("AdapterCurr"), -1);
  EXPECT_EQ(StoredText("AdapterCurrName"), "Close Adapter");
  EXPECT_EQ(StoredText("AdapterCurrDesc"), "Close Adapter");
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST_F(settings_LogSelect, AnInterfaceThatCannotBeWrittenIsNotReportedAsSaved) {
  // A store below a plain file: every read gives its default, every write fails.
  std::ofstream(m_dir + "/plain").put('x');
  ::setenv("PELORIN_REGISTRY", (m_dir + "/plain/registry.reg").c_str(), 1);
  ScriptedServices script;
  std::string shown = "?";
  script.OnNextModal([&](Dialog& d) {
    d.ClickButton(Dlg::IDC_BUTTON_INTERFACES);
    shown = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.ClickButton(IDCANCEL);
  });
  script.OnNextModal(ChooseCloseAdapter);
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  dialog.DoModal();
  EXPECT_EQ(shown, "");
  EXPECT_EQ(dialog.GetAdapter().index, 0);  // the record keeps what is stored
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].caption, "Interface Setting");
  EXPECT_EQ(script.Messages()[0].text.find("New Interface Saved"), std::string::npos);
  EXPECT_FALSE(dialog.SaveSettings());
}

}  // namespace
}  // namespace settings_test

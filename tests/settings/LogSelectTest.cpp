#include <pcap/pcap.h>

#include <array>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "common/FieldText.h"
#include "controls/framework/DlgPelorinLogSelect.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "wincap/DlgPelorinAdapters.h"

namespace settings_test {
namespace {

using Dlg = DlgPelorinLogSelect;
constexpr std::array<int, 4> kBoxes{Dlg::IDC_CHECK_LOGLIST, Dlg::IDC_CHECK_LOGIPMON, Dlg::IDC_CHECK_LOGSTATS,
                                    Dlg::IDC_CHECK_LOGSTATSIP};
constexpr std::array<const char*, 4> kValues{"LogList", "LogIpMon", "LogStats", "LogStatsIp"};
constexpr int kAdapterList = DlgPelorinAdapters::IDC_LIST_ADAPTERS;

std::vector<int> Checks(const Dialog& d) {
  std::vector<int> checks;
  for (int id : kBoxes) checks.push_back(d.IsDlgButtonChecked(id));
  return checks;
}

// The loopback device as the capture library numbers it among all devices.
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
    if (std::string(d->name) == "lo" && d->addresses != nullptr) {
      found = {index, d->name, d->description ? d->description : ""};
      break;
    }
  pcap_freealldevs(devices);
  return found;
}

// The row of the chooser whose device name (sub-item 2) is the one given.
int RowOf(Dialog& chooser, const std::string& name) {
  auto* list = chooser.GetDlgItemAs<ListControl>(kAdapterList);
  for (int row = 0; list != nullptr && row < list->GetItemCount(); ++row)
    if (list->GetItemText(row, 2) == name) return row;
  return -1;
}

class settings_LogSelect : public SettingsTest {
 protected:
  int Run(Dlg& dialog, ScriptedServices& script, std::function<void(Dialog&)> act) {
    script.OnNextModal(std::move(act));
    return dialog.DoModal();
  }
  std::vector<int> ThreadLogs() const {
    return {m_connections->Scanner()->IsLog(), m_packets->GetCaptureThread()->GetLog()};
  }
};

TEST_F(settings_LogSelect, OpensWithTheDefaultsOrTheStoredSwitchesAndInterface) {
  ScriptedServices script;
  std::vector<int> checks;
  bool statsClicked = true, statsIpClicked = true;
  std::string interfaceText = "?";
  {
    Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(Run(dialog, script,
                  [&](Dialog& d) {
                    checks = Checks(d);
                    statsClicked = d.ClickButton(Dlg::IDC_CHECK_LOGSTATS);
                    statsIpClicked = d.ClickButton(Dlg::IDC_CHECK_LOGSTATSIP);
                    interfaceText = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
                    d.ClickButton(Dlg::IDC_CHECK_LOGLIST);
                    d.ClickButton(IDCANCEL);
                  }),
              IDCANCEL);
    EXPECT_EQ(dialog.GetAdapter().index, 0);  // no interface stored yet: index 0, no name
  }
  EXPECT_EQ(checks, (std::vector<int>{1, 1, 0, 0}));
  EXPECT_FALSE(statsClicked);
  EXPECT_FALSE(statsIpClicked);
  EXPECT_EQ(interfaceText, "");
  for (const char* value : kValues) EXPECT_FALSE(Stored(value).has_value()) << value;
  EXPECT_EQ(script.ModalCaptions(), std::vector<std::string>{"Log Properties"});

  m_app.WriteProfileInt("", "LogList", 0);
  m_app.WriteProfileInt("", "LogStatsIp", 1);
  m_app.WriteProfileInt("", "AdapterCurr", 3);
  m_app.WriteProfileString("", "AdapterCurrName", "eth7");
  m_app.WriteProfileString("", "AdapterCurrDesc", "Seventh card");
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  Run(dialog, script, [&](Dialog& d) {
    checks = Checks(d);
    interfaceText = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.PressEscape();
  });
  EXPECT_EQ(checks, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(interfaceText, "Seventh card");
  EXPECT_EQ(dialog.GetAdapter().index, 3);
  EXPECT_EQ(GetFieldText(dialog.GetAdapter().name), "eth7");

  // A description is only taken together with a device name.
  m_app.WriteProfileString("", "AdapterCurrName", "");
  Dlg nameless(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  Run(nameless, script, [&](Dialog& d) {
    interfaceText = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.PressEscape();
  });
  EXPECT_EQ(interfaceText, "");
  EXPECT_EQ(GetFieldText(nameless.GetAdapter().description), "");
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST_F(settings_LogSelect, OkSavesTheSwitchesAndApplyAlsoHandsThemToTheThreads) {
  CreatePanes();
  ASSERT_EQ(ThreadLogs(), (std::vector<int>{1, 1}));
  ScriptedServices script;
  script.AnswerMessageBox(IDYES);
  {
    Dlg dialog(nullptr, &m_app, m_connections.get(), m_packets.get(), m_stats.get(), m_statsIp.get());
    EXPECT_EQ(Run(dialog, script,
                  [](Dialog& d) {
                    d.ClickButton(Dlg::IDC_CHECK_LOGLIST);
                    d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);  // answered Yes
                    d.ClickButton(IDOK);
                  }),
              IDOK);
  }
  EXPECT_EQ(Stored("LogList"), 0);
  EXPECT_EQ(Stored("LogIpMon"), 0);
  EXPECT_EQ(Stored("LogStats"), 0);
  EXPECT_EQ(Stored("LogStatsIp"), 0);
  EXPECT_EQ(ThreadLogs(), (std::vector<int>{1, 1}));  // OK leaves the running threads alone

  // The boxes now open unchecked; Apply turns the threads' logs off, then on again.
  std::vector<int> opened, afterApply, afterSecondApply;
  bool stillOpen = false;
  Dlg dialog(nullptr, &m_app, m_connections.get(), m_packets.get(), m_stats.get(), m_statsIp.get());
  Run(dialog, script, [&](Dialog& d) {
    opened = Checks(d);
    d.ClickButton(Dlg::IDC_BUTTON_APPLY);
    stillOpen = !d.IsEnded();
    afterApply = ThreadLogs();
    d.ClickButton(Dlg::IDC_CHECK_LOGLIST);
    d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);  // switching the log on asks nothing
    d.ClickButton(Dlg::IDC_BUTTON_APPLY);
    afterSecondApply = ThreadLogs();
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(opened, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(afterApply, (std::vector<int>{0, 0}));
  EXPECT_EQ(afterSecondApply, (std::vector<int>{1, 1}));
  EXPECT_EQ(Stored("LogList"), 1);
  EXPECT_EQ(Stored("LogIpMon"), 1);
  EXPECT_EQ(script.Messages().size(), 1u);  // the one question of the first run
}

TEST_F(settings_LogSelect, SwitchingThePacketLogOffAsksFirstAndNoKeepsIt) {
  ScriptedServices script;
  script.AnswerMessageBox(IDNO);
  int afterNo = -1;
  {
    Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
    Run(dialog, script, [&](Dialog& d) {
      d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);
      afterNo = d.IsDlgButtonChecked(Dlg::IDC_CHECK_LOGIPMON);
      d.ClickButton(IDCANCEL);
    });
  }
  EXPECT_EQ(afterNo, BST_CHECKED);
  EXPECT_FALSE(Stored("LogIpMon").has_value());
  ASSERT_EQ(script.Messages().size(), 1u);
  const auto& question = script.Messages()[0];
  EXPECT_EQ(question.caption, "Pelorin's Ip Data Packets");
  EXPECT_EQ(question.text,
            "You are requesting to NOT log Pelorin's Ip Monitor\ndata packets.\n\n"
            "This results in Ip Monitor entries that will not have\nthe ability to display it's data packets. "
            "The Status\nwill show 'NoLog', hence no data packet information\nis stored for display...nor "
            "analytical reasons.\n\nAre you sure you want to disable Pelorin's Logs ?\n\n");
  EXPECT_EQ(question.type & 0xF, MB_YESNO);

  // No, then OK: the log stays on in the profile too.
  script.AnswerMessageBox(IDNO);
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  Run(dialog, script, [](Dialog& d) {
    d.ClickButton(Dlg::IDC_CHECK_LOGIPMON);
    d.ClickButton(IDOK);
  });
  EXPECT_EQ(Stored("LogIpMon"), 1);
  EXPECT_TRUE(script.AllAnswersUsed());
}

TEST_F(settings_LogSelect, AChosenInterfaceIsSavedAtOnceEvenWhenTheDialogIsCancelled) {
  const Device lo = Loopback();
  ASSERT_GE(lo.index, 0) << "lo is not a usable capture device here";
  ScriptedServices script;
  std::string shownAfterChoice;
  script.OnNextModal([&](Dialog& d) {
    EXPECT_TRUE(d.ClickButton(Dlg::IDC_BUTTON_INTERFACES));
    shownAfterChoice = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.ClickButton(IDCANCEL);
  });
  script.OnNextModal([&](Dialog& chooser) {
    const int row = RowOf(chooser, lo.name);
    EXPECT_TRUE(chooser.SelectListItem(kAdapterList, row));
    chooser.ClickButton(IDOK);
  });
  {
    Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.GetAdapter().index, lo.index);
  }
  EXPECT_EQ(shownAfterChoice, lo.description);
  EXPECT_EQ(Stored("AdapterCurr"), lo.index);
  EXPECT_EQ(StoredText("AdapterCurrName"), lo.name);
  EXPECT_EQ(StoredText("AdapterCurrDesc"), lo.description);
  for (const char* value : kValues) EXPECT_FALSE(Stored(value).has_value()) << value;  // Cancel saved no switch
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].caption, "Interface Setting");
  EXPECT_EQ(script.Messages()[0].text,
            "\n\nNew Interface Saved.\n\nSettings will take effect the next time Pelorin Scan\n"
            "is stopped, then re-started.\n\nie...Menu Scan->Stop Scanning , Scan->Start Scanning\n\n");

  // Opened again, the chooser starts on the stored device; choosing Close Adapter stores "none".
  int reopenedOn = -2, loRow = -1;
  script.OnNextModal([](Dialog& d) {
    d.ClickButton(Dlg::IDC_BUTTON_INTERFACES);
    d.ClickButton(IDOK);
  });
  script.OnNextModal([&](Dialog& chooser) {
    auto* list = chooser.GetDlgItemAs<ListControl>(kAdapterList);
    reopenedOn = list->GetNextItem(-1, LVNI_SELECTED);
    loRow = RowOf(chooser, lo.name);
    chooser.DoubleClickListItem(kAdapterList, list->GetItemCount() - 1);
  });
  Dlg again(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(again.DoModal(), IDOK);
  EXPECT_EQ(reopenedOn, loRow);
  EXPECT_EQ(Stored("AdapterCurr"), -1);
  EXPECT_EQ(StoredText("AdapterCurrName"), "Close Adapter");
  EXPECT_EQ(StoredText("AdapterCurrDesc"), "Close Adapter");
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST_F(settings_LogSelect, ACancelledChoiceChangesNothing) {
  m_app.WriteProfileInt("", "AdapterCurr", 4);
  m_app.WriteProfileString("", "AdapterCurrName", "eth4");
  m_app.WriteProfileString("", "AdapterCurrDesc", "Fourth card");
  ScriptedServices script;
  std::string shown;
  script.OnNextModal([&](Dialog& d) {
    d.ClickButton(Dlg::IDC_BUTTON_INTERFACES);
    shown = d.GetDlgItemText(Dlg::IDC_EDIT_ADAPTER);
    d.ClickButton(IDOK);
  });
  script.OnNextModal([](Dialog& chooser) {
    auto* list = chooser.GetDlgItemAs<ListControl>(kAdapterList);
    chooser.SelectListItem(kAdapterList, list->GetItemCount() - 1);
    chooser.PressEscape();
  });
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(shown, "Fourth card");
  EXPECT_EQ(Stored("AdapterCurr"), 4);
  EXPECT_EQ(StoredText("AdapterCurrName"), "eth4");
  EXPECT_EQ(StoredText("AdapterCurrDesc"), "Fourth card");
  EXPECT_TRUE(script.Messages().empty());
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
  script.OnNextModal([](Dialog& chooser) {
    auto* list = chooser.GetDlgItemAs<ListControl>(kAdapterList);
    chooser.DoubleClickListItem(kAdapterList, list->GetItemCount() - 1);
  });
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  dialog.DoModal();
  EXPECT_EQ(shown, "");
  EXPECT_EQ(dialog.GetAdapter().index, 0);
  ASSERT_EQ(script.Messages().size(), 1u);
  EXPECT_EQ(script.Messages()[0].caption, "Interface Setting");
  EXPECT_EQ(script.Messages()[0].text.find("New Interface Saved"), std::string::npos);
  EXPECT_FALSE(dialog.SaveSettings());
}

}  // namespace
}  // namespace settings_test

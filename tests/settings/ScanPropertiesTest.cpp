#include <functional>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "controls/framework/DlgPelorinScanProperties.h"
#include "ui/ScriptedServices.h"

namespace settings_test {
namespace {

using Dlg = DlgPelorinScanProperties;

std::vector<std::string> FieldTexts(const Dialog& d) {
  std::vector<std::string> texts;
  for (int id : {Dlg::IDC_EDIT_SCANLIST, Dlg::IDC_EDIT_SCANIPMON, Dlg::IDC_EDIT_SCANSTATS, Dlg::IDC_EDIT_SCANSTATSIP,
                 Dlg::IDC_EDIT_LOGPAGESIZE})
    texts.push_back(d.GetDlgItemText(id));
  return texts;
}

class settings_ScanProperties : public SettingsTest {
 protected:
  // The intervals of the connections, packet, protocol and IP statistics threads, ms.
  std::vector<DWORD> Intervals() const {
    return {m_connections->Scanner()->GetScan(), m_packets->GetCaptureThread()->GetScan(),
            m_stats->GetStatsThread()->GetScan(), m_statsIp->GetStatsThread()->GetScan()};
  }
};

TEST_F(settings_ScanProperties, OpensWithTheStoredValuesOrTheDefaultsAndCancelWritesNothing) {
  ScriptedServices script;
  std::vector<std::string> shown;
  bool packetFieldTyped = true;
  script.OnNextModal([&](Dialog& d) {
    shown = FieldTexts(d);
    packetFieldTyped = d.TypeInto(Dlg::IDC_EDIT_SCANIPMON, "7");  // shown, but closed to the user
    d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "9");
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).DoModal(), IDCANCEL);
  EXPECT_EQ(shown, (std::vector<std::string>{"5", "0", "30", "30", "256"}));
  EXPECT_FALSE(packetFieldTyped);
  for (const char* value : {"ScanList", "ScanIpMon", "ScanStats", "ScanStatsIp", "LogPageSize"})
    EXPECT_FALSE(Stored(value).has_value()) << value;

  // Without an application object the dialog reads the same application key; a negative value
  // comes back as it was written.
  m_app.WriteProfileInt("", "ScanList", 12);
  m_app.WriteProfileInt("", "ScanStats", -4);
  m_app.WriteProfileInt("", "LogPageSize", 1000);
  script.OnNextModal([&](Dialog& d) {
    shown = FieldTexts(d);
    d.PressEscape();
  });
  Dlg(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr).DoModal();
  EXPECT_EQ(shown, (std::vector<std::string>{"12", "0", "-4", "30", "1000"}));

  // Saved before it is opened, the dialog writes the values it read, not empty fields.
  EXPECT_TRUE(Dlg(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr).SaveSettings());
  EXPECT_EQ(Stored("LogPageSize"), 1000);
  EXPECT_EQ(Stored("ScanStatsIp"), 30);
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST_F(settings_ScanProperties, OkOnlySavesWhileApplyAlsoChangesTheRunningThreads) {
  CreatePanes();
  const std::vector<DWORD> before = Intervals();
  ASSERT_EQ(before, (std::vector<DWORD>{5000, 0, 10000, 10000}));  // the panes' own defaults
  ScriptedServices script;
  script.OnNextModal([](Dialog& d) {
    d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "ten");             // not a number: 0
    d.TypeInto(Dlg::IDC_EDIT_SCANSTATS, " 45 ");           // a number with spaces around
    d.TypeInto(Dlg::IDC_EDIT_SCANSTATSIP, "-3");           // kept as typed
    d.TypeInto(Dlg::IDC_EDIT_LOGPAGESIZE, "99999999999");  // beyond an int: 0
    d.PressEnter();
  });
  Dlg dialog(nullptr, &m_app, m_connections.get(), m_packets.get(), m_stats.get(), m_statsIp.get());
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(Stored("ScanList"), 0);
  EXPECT_EQ(Stored("ScanIpMon"), 0);
  EXPECT_EQ(Stored("ScanStats"), 45);
  EXPECT_EQ(Stored("ScanStatsIp"), -3);
  EXPECT_EQ(Stored("LogPageSize"), 0);
  EXPECT_EQ(Intervals(), before);

  std::vector<DWORD> applied, reapplied;
  bool stayedOpen = false;
  script.OnNextModal([&](Dialog& d) {
    d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "2");
    d.TypeInto(Dlg::IDC_EDIT_SCANSTATS, "7");
    d.TypeInto(Dlg::IDC_EDIT_SCANSTATSIP, "11");
    EXPECT_TRUE(d.ClickButton(Dlg::IDC_BUTTON_APPLY));
    stayedOpen = !d.IsEnded();
    applied = Intervals();
    // A negative interval is no pause rather than a wrapped, endless one; an oversize one stops
    // at the longest interval a thread can hold.
    d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "-1");
    d.TypeInto(Dlg::IDC_EDIT_SCANSTATS, "2147483647");
    d.ClickButton(Dlg::IDC_BUTTON_APPLY);
    reapplied = Intervals();
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(applied, (std::vector<DWORD>{2000, 0, 7000, 11000}));
  EXPECT_EQ(reapplied, (std::vector<DWORD>{0, 0, 0xFFFFFFFFu, 11000}));
  EXPECT_EQ(Stored("ScanList"), -1);  // what was applied stays saved after Cancel
  EXPECT_EQ(Stored("ScanStats"), 2147483647);
}

}  // namespace
}  // namespace settings_test

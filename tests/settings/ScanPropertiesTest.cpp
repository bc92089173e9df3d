#include <array>
#include <functional>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "controls/framework/DlgPelorinScanProperties.h"
#include "ui/ScriptedServices.h"

namespace settings_test {
namespace {

using Dlg = DlgPelorinScanProperties;
constexpr std::array<int, 5> kFields{Dlg::IDC_EDIT_SCANLIST, Dlg::IDC_EDIT_SCANIPMON, Dlg::IDC_EDIT_SCANSTATS,
                                     Dlg::IDC_EDIT_SCANSTATSIP, Dlg::IDC_EDIT_LOGPAGESIZE};
constexpr std::array<const char*, 5> kValues{"ScanList", "ScanIpMon", "ScanStats", "ScanStatsIp", "LogPageSize"};

std::vector<std::string> FieldTexts(const Dialog& d) {
  std::vector<std::string> texts;
  for (int id : kFields) texts.push_back(d.GetDlgItemText(id));
  return texts;
}

// The intervals of the four panes' threads, ms.
struct Intervals {
  DWORD connections, packets, stats, statsIp;
  bool operator==(const Intervals&) const = default;
};

class settings_ScanProperties : public SettingsTest {
 protected:
  Intervals Current() const {
    return {m_connections->Scanner()->GetScan(), m_packets->GetCaptureThread()->GetScan(),
            m_stats->GetStatsThread()->GetScan(), m_statsIp->GetStatsThread()->GetScan()};
  }
  int Run(Dlg& dialog, ScriptedServices& script, std::function<void(Dialog&)> act) {
    script.OnNextModal(std::move(act));
    return dialog.DoModal();
  }
};

TEST_F(settings_ScanProperties, OpensWithTheStoredValuesOrTheDefaultsAndCancelWritesNothing) {
  ScriptedServices script;
  std::vector<std::string> shown;
  bool packetFieldTyped = true;
  {
    Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(Run(dialog, script,
                  [&](Dialog& d) {
                    shown = FieldTexts(d);
                    // The packet monitor's field is there but closed to the user.
                    packetFieldTyped = d.TypeInto(Dlg::IDC_EDIT_SCANIPMON, "7");
                    d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "9");
                    d.ClickButton(IDCANCEL);
                  }),
              IDCANCEL);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"5", "0", "30", "30", "256"}));
  EXPECT_FALSE(packetFieldTyped);
  for (const char* value : kValues) EXPECT_FALSE(Stored(value).has_value()) << value;
  EXPECT_EQ(script.ModalCaptions(), std::vector<std::string>{"Scan Properties"});

  // Stored values, a negative one among them, come back as they were written. Without an
  // application object the dialog reads the same application key.
  m_app.WriteProfileInt("", "ScanList", 12);
  m_app.WriteProfileInt("", "ScanIpMon", 2);
  m_app.WriteProfileInt("", "ScanStats", -4);
  m_app.WriteProfileInt("", "LogPageSize", 1000);
  {
    Dlg dialog(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    Run(dialog, script, [&](Dialog& d) {
      shown = FieldTexts(d);
      d.PressEscape();
    });
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"12", "2", "-4", "30", "1000"}));
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST_F(settings_ScanProperties, OkStoresTheTypedNumbersAndLeavesRunningThreadsAlone) {
  CreatePanes();
  const Intervals before = Current();
  EXPECT_EQ(before, (Intervals{5000, 0, 10000, 10000}));  // the panes' own defaults

  ScriptedServices script;
  Dlg dialog(nullptr, &m_app, m_connections.get(), m_packets.get(), m_stats.get(), m_statsIp.get());
  EXPECT_EQ(Run(dialog, script,
                [](Dialog& d) {
                  d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "ten");            // not a number: 0
                  d.TypeInto(Dlg::IDC_EDIT_SCANSTATS, " 45 ");          // spaces around a number
                  d.TypeInto(Dlg::IDC_EDIT_SCANSTATSIP, "-3");          // kept as typed
                  d.TypeInto(Dlg::IDC_EDIT_LOGPAGESIZE, "99999999999");  // beyond an int: 0
                  d.PressEnter();
                }),
            IDOK);
  EXPECT_EQ(Stored("ScanList"), 0);
  EXPECT_EQ(Stored("ScanIpMon"), 0);
  EXPECT_EQ(Stored("ScanStats"), 45);
  EXPECT_EQ(Stored("ScanStatsIp"), -3);
  EXPECT_EQ(Stored("LogPageSize"), 0);
  EXPECT_EQ(Current(), before);
  EXPECT_EQ(dialog.GetScanStats(), 45);
}

TEST_F(settings_ScanProperties, ApplyHandsTheIntervalsToEveryPaneThreadAndStaysOpen) {
  CreatePanes();
  ScriptedServices script;
  Intervals applied{}, afterSecondApply{};
  bool stillOpen = false;
  Dlg dialog(nullptr, &m_app, m_connections.get(), m_packets.get(), m_stats.get(), m_statsIp.get());
  EXPECT_EQ(Run(dialog, script,
                [&](Dialog& d) {
                  d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "2");
                  d.TypeInto(Dlg::IDC_EDIT_SCANSTATS, "7");
                  d.TypeInto(Dlg::IDC_EDIT_SCANSTATSIP, "11");
                  d.TypeInto(Dlg::IDC_EDIT_LOGPAGESIZE, "64");
                  EXPECT_TRUE(d.ClickButton(Dlg::IDC_BUTTON_APPLY));
                  stillOpen = !d.IsEnded();
                  applied = Current();
                  // A negative interval means no pause rather than a wrapped, endless one; an
                  // oversize one stops at the longest interval a thread can take.
                  d.TypeInto(Dlg::IDC_EDIT_SCANLIST, "-1");
                  d.TypeInto(Dlg::IDC_EDIT_SCANSTATS, "2147483647");
                  d.ClickButton(Dlg::IDC_BUTTON_APPLY);
                  afterSecondApply = Current();
                  d.ClickButton(IDCANCEL);
                }),
            IDCANCEL);
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(applied, (Intervals{2000, 0, 7000, 11000}));
  EXPECT_EQ(afterSecondApply, (Intervals{0, 0, 0xFFFFFFFFu, 11000}));
  // What was applied stays saved although the dialog was then cancelled.
  EXPECT_EQ(Stored("ScanList"), -1);
  EXPECT_EQ(Stored("ScanStats"), 2147483647);
  EXPECT_EQ(Stored("LogPageSize"), 64);
}

TEST_F(settings_ScanProperties, ApplyWithoutPanesOnlySaves) {
  ScriptedServices script;
  Dlg dialog(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  Run(dialog, script, [](Dialog& d) {
    d.TypeInto(Dlg::IDC_EDIT_SCANSTATSIP, "8");
    d.ClickButton(Dlg::IDC_BUTTON_APPLY);
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(Stored("ScanStatsIp"), 8);
  EXPECT_EQ(Stored("ScanList"), 5);

  // Saved before the dialog opens, the values read at construction are written, not zeros.
  m_app.WriteProfileInt("", "LogPageSize", 512);
  Dlg unopened(nullptr, &m_app, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(unopened.SaveSettings());
  EXPECT_EQ(Stored("LogPageSize"), 512);
  EXPECT_EQ(Stored("ScanStats"), 30);
}

}  // namespace
}  // namespace settings_test

// The "Find" and "Log Pages" dialogs driven through scripted services over logs written by the
// packet log writer; their scans run on the dialogs' own threads while the test pumps.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/AppProfile.h"
#include "tests/wincap/PacketLogTestSupport.h"
#include "tests/wincap/TempFolder.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "ui/UiPump.h"
#include "wincap/DlgPelorinFind.h"
#include "wincap/DlgPelorinLogPages.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;
constexpr int kFindList = DlgPelorinFind::IDC_LIST_PACKETS;
constexpr int kPagesList = DlgPelorinLogPages::IDC_LIST_PAGES;

Rows RowsOf(Dialog& d, int id) {
  auto* list = d.GetDlgItemAs<ListControl>(id);
  Rows rows;
  for (int i = 0; i < list->GetItemCount(); ++i) {
    rows.emplace_back();
    for (int c = 0; c < list->GetColumnCount(); ++c) rows.back().push_back(list->GetItemText(i, c));
  }
  return rows;
}

class LogDialogsTest : public ::testing::Test {
 protected:
  LogDialogsTest() {
    setenv("PELORIN_REGISTRY", m_folder.File("registry.reg").c_str(), 1);
    UiPump::Instance().AttachToCurrentThread();
  }
  ~LogDialogsTest() override { unsetenv("PELORIN_REGISTRY"); }

  // Clicks Find and pumps until the search is over.
  static void FindAll(Dialog& d) {
    auto& find = dynamic_cast<DlgPelorinFind&>(d);
    ASSERT_TRUE(d.ClickButton(IDOK));
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !find.IsSearching(); }, 5000));
  }
  static void ListAll(Dialog& d) {
    auto& pages = dynamic_cast<DlgPelorinLogPages&>(d);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !pages.IsListing(); }, 5000));
  }

  TempFolder m_folder;
  std::string m_log = m_folder.File("PelorinProLogPkt.rec");
  AppProfile m_app{"DunmereIncProducts\\Setup", "PelorinPro"};
  ScriptedServices m_script;
};

}  // namespace

TEST_F(LogDialogsTest, FindOpensWithTheStoredCriteriaAndSavesWhatIsTypedWhenFindIsPressed) {
  m_app.WriteProfileString("", "FindText", "old text");
  m_app.WriteProfileString("", "FindIp", "10.0.0.5");
  m_app.WriteProfileString("", "FindPktSizeTo", "80");
  m_app.WriteProfileInt("", "FindDistinct", 1);
  log_test::Append(m_log, log_test::Numbered(600));

  m_script.OnNextModal([&](Dialog& d) {
    EXPECT_EQ(d.GetWindowText(), "/PelorinProLogPkt.rec");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_EDIT_TEXT), "old text");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_IP_FROM), "10.0.0.5");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_EDIT_SIZE_MAX), "80");
    EXPECT_EQ(d.IsDlgButtonChecked(DlgPelorinFind::IDC_CHECK_DISTINCT), 1);
    auto* list = d.GetDlgItemAs<ListControl>(kFindList);
    std::vector<std::string> titles;
    std::vector<int> widths;
    for (int c = 0; c < list->GetColumnCount(); ++c) {
      ListColumn column;
      list->GetColumn(c, &column);
      titles.push_back(column.title);
      widths.push_back(list->GetColumnWidth(c));
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Page #", "Packet #", "File Pos.", "Type", "Matched", "Size"}));
    EXPECT_EQ(widths, (std::vector<int>{50, 50, 50, 25, 250, 100}));

    // Reset empties the text, hex and address fields, not the sizes.
    d.TypeInto(DlgPelorinFind::IDC_EDIT_HEX, "0F");
    d.ClickButton(DlgPelorinFind::IDC_BUTTON_RESET);
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_EDIT_TEXT), "");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_EDIT_HEX), "");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_IP_FROM), "0.0.0.0");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_EDIT_SIZE_MAX), "80");

    d.TypeInto(DlgPelorinFind::IDC_EDIT_TEXT, "PACKET 59");
    d.TypeInto(DlgPelorinFind::IDC_IP_TO, "10.0.0.9");
    d.TypeInto(DlgPelorinFind::IDC_EDIT_SIZE_MAX, "");
    d.ClickButton(DlgPelorinFind::IDC_CHECK_DISTINCT);  // off, at once
    FindAll(d);
    // 10.0.0.0 .. 10.0.0.9 by IP, then "packet 59" and "packet 590" .. "packet 599" by text.
    const Rows rows = RowsOf(d, kFindList);
    ASSERT_EQ(rows.size(), 21u);
    EXPECT_EQ(rows[9][4], "10.0.0.9");
    EXPECT_EQ(rows[10], (std::vector<std::string>{"0", "59", rows[10][2], "TCP", "packet 59", "29"}));
    EXPECT_EQ(rows[20][0], "2");
    EXPECT_EQ(rows[20][1], "87");
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_STATIC_PROGRESS), "Search done: 21 packets found");
    EXPECT_EQ(d.GetDlgItemText(IDOK), "Find");
    d.ClickButton(IDCANCEL);
  });
  DlgPelorinFind dialog(nullptr, &m_app, m_log, 256);
  dialog.DoModal();
  EXPECT_EQ(m_app.GetProfileString("", "FindText"), "PACKET 59");
  EXPECT_EQ(m_app.GetProfileString("", "FindHex"), "");
  EXPECT_EQ(m_app.GetProfileString("", "FindIp"), "0.0.0.0");
  EXPECT_EQ(m_app.GetProfileString("", "FindIpTo"), "10.0.0.9");
  EXPECT_EQ(m_app.GetProfileString("", "FindPktSize"), "");
  EXPECT_EQ(m_app.GetProfileString("", "FindPktSizeTo"), "");
  EXPECT_EQ(m_app.GetProfileInt("", "FindDistinct", -1), 0);
  EXPECT_FALSE(dialog.GetSelectedPage());

  // Without a log the dialog says so and offers neither Find nor Done; the system close ends it.
  m_script.OnNextModal([](Dialog& d) {
    EXPECT_EQ(d.GetWindowText(), DlgPelorinFind::kInvalidLogTitle);
    EXPECT_FALSE(d.ClickButton(IDOK));
    EXPECT_FALSE(d.ClickButton(IDCANCEL));
    d.SendMessage(WM_CLOSE);
  });
  DlgPelorinFind empty(nullptr);
  EXPECT_EQ(empty.DoModal(), IDCANCEL);
  EXPECT_EQ(m_script.UnscriptedModals(), 0);
}

TEST_F(LogDialogsTest, FindLoadFromKeepsTheClickedRowAndDoneDropsIt) {
  const auto positions = log_test::Append(m_log, log_test::Numbered(600));
  const auto run = [&](const std::function<void(Dialog&)>& act) {
    m_script.OnNextModal([&](Dialog& d) {
      d.TypeInto(DlgPelorinFind::IDC_EDIT_SIZE_MIN, "30");  // "packet 100" and on
      FindAll(d);
      act(d);
    });
    auto dialog = std::make_unique<DlgPelorinFind>(nullptr, &m_app, m_log, 256);
    dialog->DoModal();
    return dialog->GetSelectedPage();
  };
  auto chosen = run([](Dialog& d) {
    d.ClickButton(DlgPelorinFind::IDC_BUTTON_LOAD_FROM);  // no row yet: nothing happens
    EXPECT_FALSE(d.IsEnded());
    d.SelectListItem(kFindList, 200);
    d.ClickButton(DlgPelorinFind::IDC_BUTTON_LOAD_FROM);
  });
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->page, 1);
  EXPECT_EQ(chosen->packet, 44);
  EXPECT_EQ(chosen->position, positions[300]);
  EXPECT_EQ(chosen->protocol, 6);
  EXPECT_EQ(chosen->size, 30);

  chosen = run([](Dialog& d) {
    d.DoubleClickListItem(kFindList, 3);
    d.ClickButton(IDCANCEL);
  });
  EXPECT_FALSE(chosen);
}

TEST_F(LogDialogsTest, StopEndsASearchAtOnceAndKeepsTheRowsFoundSoFar) {
  std::vector<log_test::Packet> packets(100000, log_test::Packet{.payload = "payload"});
  log_test::Append(m_log, packets);
  m_script.OnNextModal([&](Dialog& d) {
    auto& find = dynamic_cast<DlgPelorinFind&>(d);
    d.TypeInto(DlgPelorinFind::IDC_EDIT_TEXT, "payload");
    d.ClickButton(IDOK);
    EXPECT_EQ(d.GetDlgItemText(IDOK), "Stop");
    EXPECT_TRUE(find.IsSearching());
    d.ClickButton(IDOK);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !find.IsSearching(); }, 5000));
    const auto rows = RowsOf(d, kFindList);
    EXPECT_LT(rows.size(), packets.size());
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinFind::IDC_STATIC_PROGRESS).rfind("Search stopped at ", 0), 0u);
    EXPECT_EQ(d.GetDlgItemText(IDOK), "Find");
    // Another search, then Done while it runs: the dialog ends with its thread.
    d.ClickButton(IDOK);
    EXPECT_TRUE(find.IsSearching());
    d.ClickButton(IDCANCEL);
  });
  DlgPelorinFind dialog(nullptr, &m_app, m_log, 256);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_FALSE(dialog.IsSearching());
}

TEST_F(LogDialogsTest, LogPagesListsAPageARowWithTheTotalsAndReturnsTheChosenOne) {
  const auto positions = log_test::Append(m_log, log_test::Numbered(600));
  const auto run = [&](const std::string& path, const std::function<void(Dialog&)>& act) {
    m_script.OnNextModal([&](Dialog& d) {
      ListAll(d);
      act(d);
    });
    DlgPelorinLogPages dialog(nullptr, path, 256);
    dialog.DoModal();
    return dialog.GetSelectedPage();
  };
  auto chosen = run(m_log, [&](Dialog& d) {
    EXPECT_EQ(d.GetWindowText(), "Log Pages - PelorinProLogPkt.rec");
    EXPECT_EQ(RowsOf(d, kPagesList), (Rows{{"0", "000", "12/06/26 07:50:10:100"},
                                            {"1", std::to_string(positions[256]), "12/06/26 07:50:16:356"},
                                            {"2", std::to_string(positions[512]), "12/06/26 07:50:22:612"}}));
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinLogPages::IDC_EDIT_TOTALS),
              "Pages : 3, Page Size ( Pkts/page ) : 256, Total Log Packets : 600");
    d.SelectListItem(kPagesList, 1);
    d.ClickButton(IDOK);
  });
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->page, 1);
  EXPECT_EQ(chosen->position, positions[256]);

  chosen = run(m_log, [](Dialog& d) { d.DoubleClickListItem(kPagesList, 0); });
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->position, 0);
  EXPECT_FALSE(run(m_log, [](Dialog& d) {
    d.SelectListItem(kPagesList, 2);
    d.ClickButton(IDCANCEL);
  }));
  EXPECT_FALSE(run(m_log, [](Dialog& d) { d.ClickButton(IDOK); }));  // no row clicked

  // An empty log has no page; one that cannot be opened leaves the totals blank.
  const std::string emptyLog = m_folder.File("empty.rec");
  log_test::Append(emptyLog, {});
  run(emptyLog, [](Dialog& d) {
    EXPECT_TRUE(RowsOf(d, kPagesList).empty());
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinLogPages::IDC_EDIT_TOTALS),
              "Pages : 0, Page Size ( Pkts/page ) : 256, Total Log Packets : 0");
    d.ClickButton(IDCANCEL);
  });
  run(m_folder.File("missing.rec"), [](Dialog& d) {
    EXPECT_EQ(d.GetDlgItemText(DlgPelorinLogPages::IDC_EDIT_TOTALS), "");
    d.ClickButton(IDCANCEL);
  });
  EXPECT_EQ(m_script.UnscriptedModals(), 0);
}

// The packet pane's search window, whose result rows open packet views, over a log written by
// the packet log writer; and "Load Page" of the feed and compare windows over the log of the
// real capture thread replaying a file.
#include "../capture/CaptureTestSupport.h"
#include "controls/inspect/DlgPelorinCompare.h"
#include "controls/inspect/DlgPelorinFindPkt.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "controls/inspect/DlgPelorinView.h"
#include "controls/inspect/PacketTitle.h"
#include "tests/wincap/PacketLogTestSupport.h"
#include "ui/ListControl.h"
#include "ui/ScriptedServices.h"
#include "wincap/DlgPelorinLogPages.h"

using namespace capture_test;

namespace {

constexpr int kResults = DlgPelorinFind::IDC_LIST_PACKETS;

std::string Data(const DlgPelorinIpView* view) { return view->DataPane()->GetWindowText(); }

// Answers the next "Log Pages" dialog with its page row once the pages are listed.
void ChoosePage(ScriptedServices& script, int row) {
  script.OnNextModal([row](Dialog& d) {
    auto& pages = dynamic_cast<DlgPelorinLogPages&>(d);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !pages.IsListing(); }, 5000));
    d.DoubleClickListItem(DlgPelorinLogPages::IDC_LIST_PAGES, row);
  });
}

}  // namespace

TEST(SearchWindow, ResultRowsOpenViewsThatWalkTheRowsAndCloseWithTheWindow) {
  CaptureEnv env;
  ScriptedServices script;
  const std::string log = env.File("search.rec");
  // No transport header but in record 30 (UDP): the data text is the payload.
  auto packets = log_test::Numbered(40);
  for (auto& packet : packets) packet.protocol = 50;
  packets[30].protocol = 17;
  packets[30].payload = std::string(8, '\0') + packets[30].payload;
  const auto positions = log_test::Append(log, packets);
  ASSERT_EQ(positions.size(), 40u);

  script.OnNextModal([&](Dialog& d) {
    auto& find = dynamic_cast<DlgPelorinFindPkt&>(d);
    auto* list = d.GetDlgItemAs<ListControl>(kResults);
    // "packet 3" matches records 3 and 30..39.
    d.TypeInto(DlgPelorinFind::IDC_EDIT_TEXT, "packet 3");
    ASSERT_TRUE(d.ClickButton(IDOK));
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !find.IsSearching(); }, 5000));
    ASSERT_EQ(list->GetItemCount(), 11);

    ASSERT_TRUE(d.DoubleClickListItem(kResults, 1));
    ASSERT_EQ(find.Views().size(), 1u);
    DlgPelorinIpView* view = find.Views()[0].get();
    EXPECT_EQ(view->GetWindowText(),
              PacketTitle::TitleBuildFind("UDP", "37", "0", "30", std::to_string(positions[30])));
    EXPECT_EQ(view->GetDlgItemText(DlgPelorinIpView::kCaptionLine),
              "UDP( 37 ) 10.0.0.30 -> 10.1.0.1 ( 12/06/26 07:50:40:130 ) ");
    EXPECT_EQ(Data(view), "packet 30");
    EXPECT_EQ(view->GetWindowRect().left, d.GetWindowRect().left);
    EXPECT_FALSE(view->IsLogOpen());

    // Next and Previous walk the result rows, and stop at their ends.
    ASSERT_TRUE(view->ClickButton(DlgPelorinIpView::kButtonNext));
    EXPECT_EQ(list->GetNextItem(-1, LVNI_SELECTED), 2);
    EXPECT_EQ(Data(view), "packet 31");
    EXPECT_EQ(view->GetWindowText().substr(0, 9), "IP ( 29 )");
    view->ClickButton(DlgPelorinIpView::kButtonPrev);
    view->ClickButton(DlgPelorinIpView::kButtonPrev);
    view->ClickButton(DlgPelorinIpView::kButtonPrev);
    EXPECT_EQ(list->GetNextItem(-1, LVNI_SELECTED), 0);
    EXPECT_EQ(Data(view), "packet 3");
    d.SelectListItem(kResults, 9);
    view->ClickButton(DlgPelorinIpView::kButtonNext);
    view->ClickButton(DlgPelorinIpView::kButtonNext);
    EXPECT_EQ(list->GetNextItem(-1, LVNI_SELECTED), 10);
    EXPECT_EQ(Data(view), "packet 39");

    // A row that names no logged record opens nothing.
    const int noLog = list->InsertItem(list->GetItemCount(), DlgPelorinFindPkt::kNoLog);
    ASSERT_TRUE(d.DoubleClickListItem(kResults, noLog));
    EXPECT_EQ(find.Views().size(), 1u);

    // Done on a view: the search window destroys it on its close request.
    ASSERT_TRUE(view->ClickButton(IDOK));
    UiPump::Instance().PumpPending();
    EXPECT_TRUE(find.Views().empty());

    // Views stay sound while a new search empties and refills the list under them, and go
    // when the window closes.
    d.DoubleClickListItem(kResults, 0);
    d.DoubleClickListItem(kResults, 4);
    ASSERT_EQ(find.Views().size(), 2u);
    EXPECT_EQ(Data(find.Views()[1].get()), "packet 33");
    d.TypeInto(DlgPelorinFind::IDC_EDIT_TEXT, "packet");
    ASSERT_TRUE(d.ClickButton(IDOK));
    find.Views()[0]->ClickButton(DlgPelorinIpView::kButtonNext);
    ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return !find.IsSearching(); }, 5000));
    EXPECT_EQ(list->GetItemCount(), 40);
    d.ClickButton(IDCANCEL);
    EXPECT_TRUE(find.Views().empty());
  });
  DlgPelorinFindPkt dialog(nullptr, &env.App(), log, 256);
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

TEST(LoadPage, FeedAndCompareLoadTheChosenPageOfTheirLog) {
  CaptureEnv env;
  ScriptedServices script;
  env.App().WriteProfileInt("", "LogPageSize", 25);
  env.App().WriteProfileString("Filters", "DisplayBytes", "0");
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0; i < 30; ++i)
    frames.push_back(BuildFrame({.protocol = 17, .payload = "payload-" + std::to_string(100 + i)}));
  ASSERT_TRUE(WriteCapture(env.File("frames.pcap"), frames));
  env.UseCaptureFile(env.File("frames.pcap"));
  auto pane = MakePane(env.App());
  ASSERT_TRUE(pane);
  pane->ShowWindow(SW_SHOW);
  ASSERT_TRUE(Replay(*pane));

  pane->MonListView();
  auto* feed = dynamic_cast<DlgPelorinView*>(pane->GetFeedWindow());
  ASSERT_NE(feed, nullptr);
  EXPECT_FALSE(feed->GetDlgItem(DlgPelorinIpView::kButtonLoadPage)->IsWindowEnabled());  // while it runs
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kCheckFeed));
  ChoosePage(script, 1);
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kButtonLoadPage));
  // Page 1 of 25 records a page: the last five packets.
  std::string data = Data(feed);
  EXPECT_EQ(data.find("payload-124"), std::string::npos);
  for (int i = 125; i < 130; ++i) EXPECT_NE(data.find("payload-" + std::to_string(i)), std::string::npos) << i;
  // A mode change reloads the page.
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kRadioHex));
  data = Data(feed);
  EXPECT_EQ(std::count(data.begin(), data.end(), '<') / 3, 5);
  EXPECT_NE(data.find("31 32 39"), std::string::npos);  // "129"
  // A cancelled browser leaves the panes alone.
  script.OnNextModal([](Dialog& d) { d.ClickButton(IDCANCEL); });
  feed->ClickButton(DlgPelorinIpView::kButtonLoadPage);
  EXPECT_EQ(Data(feed), data);
  feed->ClickButton(IDOK);
  UiPump::Instance().PumpPending();

  // Compare: the page's first record becomes the base, the rest are compared with it.
  pane->MonListCompare();
  auto* compare = dynamic_cast<DlgPelorinCompare*>(pane->GetCompareWindow());
  ASSERT_NE(compare, nullptr);
  ASSERT_TRUE(compare->GetDlgItem(DlgPelorinIpView::kButtonLoadPage)->IsWindowEnabled());
  for (int page : {0, 1}) {
    ChoosePage(script, page);
    ASSERT_TRUE(compare->ClickButton(DlgPelorinIpView::kButtonLoadPage));
  }
  EXPECT_EQ(compare->BaseText(), "payload-125");
  const std::string packets = Data(compare);
  EXPECT_EQ(packets.find("payload-124"), std::string::npos);
  EXPECT_NE(packets.find("payload-129"), std::string::npos);
  ASSERT_FALSE(compare->DiffTable().empty());
  compare->ClickButton(IDOK);
  UiPump::Instance().PumpPending();
  EXPECT_EQ(script.UnscriptedModals(), 0);
}

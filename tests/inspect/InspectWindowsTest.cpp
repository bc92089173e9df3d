// The packet view, feed and compare windows as the packet pane opens them, on rows and notices
// of the real capture thread replaying capture files, and the pane's row commands while the
// capture thread clears its rows.
#include "../capture/CaptureTestSupport.h"
#include "common/Messages.h"
#include "controls/inspect/DlgPelorinCompare.h"
#include "controls/inspect/DlgPelorinIpView.h"
#include "controls/inspect/DlgPelorinView.h"
#include "controls/inspect/PacketTitle.h"
#include "ui/ScriptedServices.h"
#include "wincap/PacketLogSet.h"

using namespace capture_test;

namespace {

std::unique_ptr<MonListIpMon> ShownPane(CaptureEnv& env, const std::vector<std::vector<std::uint8_t>>& frames) {
  EXPECT_TRUE(WriteCapture(env.File("frames.pcap"), frames));
  env.UseCaptureFile(env.File("frames.pcap"));
  auto pane = MakePane(env.App());
  if (pane) pane->ShowWindow(SW_SHOW);
  return pane;
}

std::vector<std::uint8_t> Udp(const std::string& payload, int sourcePort = 1025) {
  return BuildFrame({.protocol = 17, .sourcePort = sourcePort, .payload = payload});
}

std::string Setting(CaptureEnv& env, const char* section, const char* key) {
  return env.App().GetProfileString(section, key, "(none)");
}

int Count(const std::string& text, const std::string& piece) {
  int n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

const RichEdit::Run* RunAt(const RichEdit& pane, long position) {
  static std::vector<RichEdit::Run> runs;
  runs = pane.Runs();
  for (const auto& run : runs)
    if (run.start <= position && position < run.end) return &run;
  return nullptr;
}

}  // namespace

TEST(PacketView, ShowsTheRowsPacketWalksTheRowsAndSavesItsSettingsAtOnce) {
  CaptureEnv env;
  ScriptedServices script;
  auto pane = ShownPane(env, {Udp("first"), Udp("second packet", 2000),
                              BuildFrame({.protocol = 1, .payload = std::string("ping\0data", 9)})});
  ASSERT_TRUE(Replay(*pane));
  const auto rows = Rows(*pane);
  ASSERT_EQ(rows.size(), 3u);

  pane->UserClick(1, 0);
  pane->UserDoubleClick(1, 0);
  auto* view = dynamic_cast<DlgPelorinIpView*>(pane->GetLastPacketView());
  ASSERT_NE(view, nullptr);
  const std::string* t = rows[1].texts;
  EXPECT_EQ(view->GetWindowText(), PacketTitle::TitleBuild(t[0], t[1], t[2], t[3], t[4], t[5], t[6]));
  EXPECT_EQ(view->GetDlgItemText(DlgPelorinIpView::kCaptionLine),
            "UDP( 41 ) 10.0.0.1 -> 10.0.0.2 ( " + t[6] + " ) ");
  EXPECT_EQ(view->DataPane()->GetWindowText(), "second packet");
  EXPECT_EQ(view->HeaderPane()->GetWindowText().substr(0, 13), "INTERFACE->( ");
  EXPECT_EQ(view->GetWindowRect().left, pane->GetWindowRect().left);
  EXPECT_EQ(view->GetWindowRect().top, pane->GetWindowRect().top);
  EXPECT_FALSE(view->IsLogOpen());  // held open only while it reads

  // A mode is saved at once and redraws the same packet.
  ASSERT_TRUE(view->ClickButton(DlgPelorinIpView::kRadioHex));
  EXPECT_EQ(Setting(env, "ViewData", "Format"), "1");
  EXPECT_EQ(view->DataPane()->GetWindowText(), "73 65 63 6F 6E 64 20 70 61 63 6B 65 74 ");
  ASSERT_TRUE(view->ClickButton(DlgPelorinIpView::kCheckWrap));
  EXPECT_EQ(Setting(env, "Filters", "Wrap"), "0");
  EXPECT_FALSE(view->DataPane()->IsWrapping());

  // Next and Previous walk the rows; at the ends nothing changes.
  ASSERT_TRUE(view->ClickButton(DlgPelorinIpView::kButtonNext));
  EXPECT_EQ(pane->GetNextItem(-1, LVNI_SELECTED), 2);
  EXPECT_EQ(view->DataPane()->GetWindowText(), "70 69 6E 67 00 64 61 74 61 ");
  EXPECT_EQ(view->GetWindowText().substr(0, 6), "ICMP( ");
  view->ClickButton(DlgPelorinIpView::kButtonNext);
  EXPECT_EQ(pane->GetNextItem(-1, LVNI_SELECTED), 2);
  view->ClickButton(DlgPelorinIpView::kButtonPrev);
  view->ClickButton(DlgPelorinIpView::kButtonPrev);
  view->ClickButton(DlgPelorinIpView::kButtonPrev);
  EXPECT_EQ(pane->GetNextItem(-1, LVNI_SELECTED), 0);
  EXPECT_EQ(view->DataPane()->GetWindowText(), "66 69 72 73 74 ");

  // Done: the pane destroys the view on its close request.
  ASSERT_TRUE(view->ClickButton(IDOK));
  UiPump::Instance().PumpPending();
  EXPECT_TRUE(pane->PacketWindows().empty());
  EXPECT_EQ(pane->GetLastPacketView(), nullptr);
}

// A recorded answer of 98 captured bytes whose IPv4 header says 252: the view shows the 56
// payload bytes that were logged and no more.
TEST(PacketView, ATruncatedCaptureShowsOnlyTheBytesThatWereLogged) {
  CaptureEnv env;
  ScriptedServices script;
  env.App().WriteProfileString("ViewData", "Format", "1");
  env.UseCaptureFile(kPcapFolder + "/tcpdump-dns_udp_2.pcap");
  auto pane = MakePane(env.App());
  pane->ShowWindow(SW_SHOW);
  ASSERT_TRUE(Replay(*pane));
  ASSERT_EQ(pane->GetItemText(1, 1), "252");
  pane->UserClick(1, 0);
  pane->MonListIpView();
  auto* view = dynamic_cast<DlgPelorinIpView*>(pane->GetLastPacketView());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->DataPane()->GetTextLength(), 56 * 3 + 3 * 2);
}

TEST(PacketFeed, FollowsTheLiveCaptureAndReloadsItsRangeInAnotherMode) {
  CaptureEnv env;
  ScriptedServices script;
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0; i < 25; ++i) frames.push_back(Udp("payload-" + std::to_string(100 + i)));
  env.App().WriteProfileString("Filters", "DisplayBytes", "0");  // "From" is 100 unless set
  auto pane = ShownPane(env, frames);
  MonListIpMonCWinThread* thread = pane->GetCaptureThread();
  pane->MonListView();
  auto* feed = dynamic_cast<DlgPelorinView*>(pane->GetFeedWindow());
  ASSERT_NE(feed, nullptr);
  ASSERT_TRUE(WaitUntil([thread] { return thread->IsFeedActive() != 0; }, 2000));
  EXPECT_EQ(feed->GetWindowText(), "Packet Feed");
  EXPECT_FALSE(feed->GetDlgItem(DlgPelorinIpView::kRadioHex)->IsWindowEnabled());  // while it runs

  ASSERT_TRUE(Replay(*pane));
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return feed->GetPacketCounter() == 25; }, 5000));
  EXPECT_EQ(feed->GetSkipped(), 0u);
  // The caption of the 21st packet (counter 20) and every packet in order, in text mode.
  EXPECT_EQ(feed->GetDlgItemText(DlgPelorinIpView::kCaptionLine).substr(0, 38), "Packet Feed ( 20 ) Remaining Memory : ");
  const std::string data = feed->DataPane()->GetWindowText();
  const auto rows = Rows(*pane);
  const std::string separator = "\r\n\r\n<>-< UDP( 39 )10.0.0.1 - 10.0.0.2(" + std::to_string(rows[3].item.recordPosition) +
                                ") >-<>\r\n\r\n";
  const std::size_t at = data.find(separator);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(data.substr(at + separator.size(), 11), "payload-103");
  EXPECT_EQ(Count(data, "<>-< UDP"), 25);
  const RichEdit::Run* sepRun = RunAt(*feed->DataPane(), static_cast<long>(at) + 5);
  ASSERT_NE(sepRun, nullptr);
  EXPECT_EQ(sepRun->format.crTextColor, RGB(0, 0, 255));
  EXPECT_TRUE(sepRun->format.Underline());
  const RichEdit::Run* textRun = RunAt(*feed->DataPane(), static_cast<long>(at + separator.size()));
  ASSERT_NE(textRun, nullptr);
  EXPECT_TRUE(textRun->format.AutoColor());
  EXPECT_FALSE(textRun->format.Underline());
  EXPECT_EQ(Count(feed->HeaderPane()->GetWindowText(), "INTERFACE->( "), 25);

  // Stopped, the range and the mode apply to a reload of what was shown; without "Headers" the
  // data pane's separators are blank lines.
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kCheckFeed));
  ASSERT_TRUE(feed->TypeInto(DlgPelorinIpView::kRangeFrom, "3"));
  ASSERT_TRUE(feed->TypeInto(DlgPelorinIpView::kRangeTo, "0"));
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kCheckHeaders));
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kRadioHex));
  EXPECT_EQ(feed->GetPacketCounter(), 25);
  const std::string hex = feed->DataPane()->GetWindowText();
  EXPECT_EQ(Count(hex, "<>-<"), 0);
  EXPECT_EQ(hex.substr(0, 4 + 12), "\r\n\r\n61 79 6C 6F ");  // "payload" from its second byte on
  EXPECT_EQ(Setting(env, "ViewData", "FormatFeed"), "1");

  // Done saves the range and "Headers" and withdraws the feed from the capture thread.
  ASSERT_TRUE(feed->ClickButton(IDOK));
  EXPECT_EQ(Setting(env, "Filters", "DisplayBytes"), "3");
  EXPECT_EQ(Setting(env, "Filters", "DisplayBytesTo"), "0");
  EXPECT_EQ(Setting(env, "Filters", "FeedShowHeader"), "0");
  UiPump::Instance().PumpPending();
  EXPECT_EQ(pane->GetFeedWindow(), nullptr);
  EXPECT_FALSE(thread->IsFeedActive());
}

TEST(PacketFeed, AFullPaneClearsBothPanesAndTheFeedGoesOnAcrossTheFilesOfTheLogSet) {
  CaptureEnv env;
  ScriptedServices script;
  env.App().WriteProfileString("ViewData", "FormatFeed", "1");
  env.App().WriteProfileString("Filters", "DisplayBytes", "0");
  // 45 records to a file: the log rolls over six times while the feed follows it.
  env.App().WriteProfileInt("", "LogPktFileBytes", 70000);
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0; i < 300; ++i) frames.push_back(Udp(std::string(1400, static_cast<char>('a' + i % 26))));
  auto pane = ShownPane(env, frames);
  pane->MonListView();
  auto* feed = dynamic_cast<DlgPelorinView*>(pane->GetFeedWindow());
  ASSERT_NE(feed, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return pane->GetCaptureThread()->IsFeedActive() != 0; }, 2000));
  ASSERT_TRUE(feed->ClickButton(DlgPelorinIpView::kCheckEnhance));
  ASSERT_TRUE(Replay(*pane));
  ASSERT_TRUE(UiPump::Instance().PumpUntil([&] { return feed->GetPacketCounter() == 300; }, 10000));
  // About 4,300 characters a packet: the panes started again after about 240 packets.
  const std::string data = feed->DataPane()->GetWindowText();
  EXPECT_LT(static_cast<LONG>(data.size()), DlgPelorinView::kPaneLimit);
  EXPECT_LT(Count(data, "<>-<"), 240);
  EXPECT_EQ(Count(data, "<>-<"), Count(feed->HeaderPane()->GetWindowText(), "<>-<"));
  // The 300th packet whole: 1,400 bytes in 87 lines of 16 and one of 8.
  const std::string marker = ") >-<>\r\n\r\n";
  EXPECT_EQ(data.size() - (data.rfind(marker) + marker.size()), 1400u * 3 + 87 * 2);
  EXPECT_EQ(data.substr(data.size() - 6), "6E 6E ");
  EXPECT_EQ(PacketLogSet::Files(env.LogPath()).size(), 7u);
  // The first packet of the new panes is the first shown.
  const std::size_t open = data.find("(", data.find("<>-<") + 10);
  EXPECT_EQ(std::to_string(feed->GetFirstShown()), data.substr(open + 1, data.find(')', open) - open - 1));
  // Enhance was switched off with the clearing.
  EXPECT_EQ(feed->IsDlgButtonChecked(DlgPelorinIpView::kCheckEnhance), BST_UNCHECKED);
  EXPECT_FALSE(feed->DataPane()->GetDefaultCharFormat().Bold());
}

TEST(PacketCompare, TheFirstPacketWithDataIsTheBaseAndLaterOnesAreColouredAgainstIt) {
  CaptureEnv env;
  ScriptedServices script;
  auto pane = ShownPane(env, {Udp(""), Udp("ABCDEFGH"), Udp("ABCDXFGH"), Udp("ABCDEFGHIJ")});
  ASSERT_TRUE(Replay(*pane));
  pane->MonListCompare();
  auto* compare = dynamic_cast<DlgPelorinCompare*>(pane->GetCompareWindow());
  ASSERT_NE(compare, nullptr);
  EXPECT_EQ(compare->HeaderPane()->GetWindowText(), DlgPelorinCompare::kNoDataText);
  EXPECT_EQ(compare->GetDlgItemText(DlgPelorinIpView::kHeaderLabel), "Base Packet");
  auto add = [&](int row) {
    pane->UserClick(row, 0);
    pane->MonListCompareAdd();
  };

  add(0);
  EXPECT_EQ(compare->HeaderPane()->GetWindowText(), DlgPelorinCompare::kNoPacketDataText);
  EXPECT_FALSE(compare->HasBase());
  add(1);
  ASSERT_TRUE(compare->HasBase());
  EXPECT_EQ(compare->BaseText(), "ABCDEFGH");
  add(2);
  RichEdit* packets = compare->DataPane();
  const long second = static_cast<long>(packets->GetWindowText().rfind("ABCDXFGH"));
  ASSERT_EQ(compare->DiffTable().size(), 1u);
  EXPECT_EQ(compare->DiffTable()[0].start, 4u);
  EXPECT_EQ(RunAt(*packets, second + 4)->format.crTextColor, PacketDiff::kDiffers);
  EXPECT_TRUE(RunAt(*packets, second + 5)->format.AutoColor());
  add(3);
  const long third = static_cast<long>(packets->GetWindowText().rfind("ABCDEFGHIJ"));
  EXPECT_EQ(RunAt(*packets, third + 8)->format.crTextColor, PacketDiff::kDiffers);
  EXPECT_EQ(RunAt(*packets, third + 9)->format.crTextColor, PacketDiff::kBeyondBase);
  EXPECT_TRUE(RunAt(*packets, third + 7)->format.AutoColor());

  // "From" 4: the shown "XFGH" meets the base at offset 4, where "X" differs.
  ASSERT_TRUE(compare->TypeInto(DlgPelorinIpView::kRangeFrom, "4"));
  EXPECT_EQ(Setting(env, "Filters", "DisplayBytesCompare"), "4");
  add(2);
  const long shown = static_cast<long>(packets->GetWindowText().rfind("XFGH"));
  EXPECT_EQ(packets->GetWindowText().substr(static_cast<std::size_t>(shown)), "XFGH");
  EXPECT_EQ(RunAt(*packets, shown)->format.crTextColor, PacketDiff::kDiffers);
  EXPECT_TRUE(RunAt(*packets, shown + 1)->format.AutoColor());

  // A mode change keeps only the base, rendered anew.
  ASSERT_TRUE(compare->ClickButton(DlgPelorinIpView::kRadioHex));
  EXPECT_EQ(compare->BaseText(), "41 42 43 44 45 46 47 48 ");
  EXPECT_EQ(packets->GetTextLength(), 0);
  EXPECT_EQ(Setting(env, "ViewData", "FormatCompare"), "1");

  // Side by side by default; "Show Horizontal" off puts the base above.
  EXPECT_LE(compare->HeaderPane()->GetRectInParent().right, packets->GetRectInParent().left);
  ASSERT_TRUE(compare->ClickButton(DlgPelorinIpView::kCheckHorizontal));
  EXPECT_EQ(Setting(env, "", "HorizontalCompare"), "0");
  EXPECT_LE(compare->HeaderPane()->GetRectInParent().bottom, packets->GetRectInParent().top);

  // Clear: the next packet added is the new base.
  ASSERT_TRUE(compare->ClickButton(DlgPelorinIpView::kButtonClear));
  EXPECT_EQ(compare->HeaderPane()->GetWindowText(), DlgPelorinCompare::kNoDataText);
  EXPECT_EQ(compare->GetFirstCompared(), -1);
  add(3);
  EXPECT_EQ(compare->BaseText(), "41 42 43 44 45 46 47 48 49 4A ");

  ASSERT_TRUE(compare->ClickButton(IDOK));
  UiPump::Instance().PumpPending();
  EXPECT_EQ(pane->GetCompareWindow(), nullptr);
  EXPECT_FALSE(pane->GetCaptureThread()->IsCompareActive());
}

// The row commands copy what they need from a row while the rows are locked: the capture thread
// clears the rows at the page limit (25 here) and frees their records meanwhile.
TEST(PaneRowCommands, ReadTheRowsRecordUnderTheListLockWhileCaptureClearsTheRows) {
  class CountingPane : public MonListIpMon {
   public:
    using MonListIpMon::MonListIpMon;

   protected:
    Window* OpenPacketWindow(const PacketWindowRequest&) override { return nullptr; }
  };
  CaptureEnv env;
  env.App().WriteProfileInt("", "LogPageSize", 25);
  std::vector<std::vector<std::uint8_t>> frames(3001, Udp("x"));
  ASSERT_TRUE(WriteCapture(env.File("many.pcap"), frames));
  env.UseCaptureFile(env.File("many.pcap"));
  CountingPane pane(&env.App(), kRegistryPath, "Packets");
  ASSERT_EQ(pane.MonListCreate(nullptr, 1024, Rect{0, 0, 600, 300}), 0);
  MonListIpMonCWinThread* thread = pane.GetCaptureThread();
  ASSERT_TRUE(WaitUntil([thread] { return thread->IsLogOpen() != 0; }, 2000));
  pane.ListStart();
  ASSERT_TRUE(thread->GetIdleMessage());
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  do {  // at least once: the replay may be over before the first command
    pane.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    pane.MonListIpView();
  } while (!thread->IsReplayDone() && std::chrono::steady_clock::now() < end);
  pane.ListStop();
  EXPECT_TRUE(thread->IsReplayDone());
  // A fast replay can be over while the only command met a page just cleared: once more on the
  // page it left (3001 frames on pages of 25 leave one row).
  pane.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
  pane.MonListIpView();
  EXPECT_GT(pane.RequestCount(), 0);
}

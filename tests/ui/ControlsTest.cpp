#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/ComboBox.h"
#include "ui/Edit.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/RichEdit.h"

namespace {

class Host : public Window {
 public:
  std::vector<std::pair<UINT, UINT>> commands;  // id, code

 protected:
  bool OnCommand(UINT id, UINT code, HWND) override {
    commands.emplace_back(id, code);
    return true;
  }
};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_host.Create("host", WS_VISIBLE, Rect{0, 0, 400, 400}, nullptr, 0)); }
  Host m_host;
};

constexpr COLORREF kBlue = RGB(0, 0, 255);

CharFormat BlueUnderline() {
  CharFormat format;
  format.dwMask = CFM_COLOR | CFM_UNDERLINE;
  format.dwEffects = CFE_UNDERLINE;
  format.crTextColor = kBlue;
  return format;
}

TEST_F(ControlsTest, RichTextKeepsColouredRunsAtExactOffsets) {
  RichEdit pane;
  ASSERT_TRUE(pane.Create(WS_VISIBLE | ES_MULTILINE | ES_READONLY, Rect{0, 0, 300, 200}, &m_host, 258));
  const std::string separator = "\r\n\r\n<>-< TCP( 60 )10.0.0.1 - 10.0.0.2(0) >-<>\r\n\r\n";
  // Append the separator and the text, then colour the separator, as the feed does.
  pane.AppendText(separator);
  pane.AppendText("45 00 00 3C\r\n");
  pane.SetSel(0, static_cast<long>(separator.size()));
  pane.SetSelectionCharFormat(BlueUnderline());
  const long second = pane.GetTextLength();
  pane.AppendText(separator);  // takes the format of the character before it: automatic
  pane.SetSel(second, second + static_cast<long>(separator.size()));
  pane.SetSelectionCharFormat(BlueUnderline());
  pane.AppendText("tail");

  const auto runs = pane.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].end, static_cast<long>(separator.size()));
  EXPECT_EQ(runs[0].format.crTextColor, kBlue);
  EXPECT_TRUE(runs[0].format.Underline());
  EXPECT_FALSE(runs[0].format.AutoColor());
  EXPECT_TRUE(runs[1].format.AutoColor());
  EXPECT_EQ(runs[1].start, static_cast<long>(separator.size()));
  // Text typed after a blue run continues it, and the two join into one run.
  EXPECT_EQ(runs[2].start, second);
  EXPECT_TRUE(runs[2].format.Underline());
  EXPECT_EQ(runs[2].end, pane.GetTextLength());

  // "Enhance": bold and 50 twips more for all the text, colours kept.
  CharFormat enhance = pane.GetDefaultCharFormat();
  enhance.dwMask = CFM_BOLD | CFM_SIZE;
  enhance.dwEffects |= CFE_BOLD;
  enhance.yHeight += 50;
  pane.SetDefaultCharFormat(enhance);
  for (const auto& run : pane.Runs()) {
    EXPECT_TRUE(run.format.Bold());
    EXPECT_EQ(run.format.yHeight, 250);
  }
  EXPECT_EQ(pane.Runs()[0].format.crTextColor, kBlue);

  // The view draws a line at a time: its text without the line break, its runs from its start.
  pane.AppendText("\r\nmore");
  RichEdit::Line line;
  ASSERT_TRUE(pane.GetLine(2, &line));
  EXPECT_EQ(line.text, "<>-< TCP( 60 )10.0.0.1 - 10.0.0.2(0) >-<>");
  ASSERT_EQ(line.runs.size(), 1u);
  EXPECT_EQ(line.runs[0].end, static_cast<long>(line.text.size()));
  EXPECT_EQ(line.runs[0].format.crTextColor, kBlue);
  ASSERT_TRUE(pane.GetLine(4, &line));
  EXPECT_EQ(line.text, "45 00 00 3C");
  EXPECT_TRUE(line.runs[0].format.AutoColor());
  ASSERT_TRUE(pane.GetLine(pane.GetLineCount() - 1, &line));
  EXPECT_EQ(line.text, "more");
  EXPECT_FALSE(pane.GetLine(pane.GetLineCount(), &line));
  EXPECT_EQ(pane.GetLongestLine(), static_cast<long>(separator.size()) - 6);  // the separator's line and its CR LF

  pane.LimitText(static_cast<long>(pane.GetTextLength()) + 3);
  pane.AppendText("abcdef");
  EXPECT_EQ(pane.GetWindowText().substr(pane.GetWindowText().size() - 3), "abc");
  pane.LineScroll(200);
  EXPECT_EQ(pane.GetFirstVisibleLine(), pane.GetLineCount() - 1);
  pane.LineScroll(-1000);
  EXPECT_EQ(pane.GetFirstVisibleLine(), 0);
  pane.SetWindowText("");
  EXPECT_TRUE(pane.Runs().empty());
}

TEST_F(ControlsTest, AddressFieldsReadZeroWhenEmptyAndRefuseBadText) {
  IpAddressControl address;
  ASSERT_TRUE(address.Create(WS_VISIBLE, Rect{0, 0, 100, 20}, &m_host, 2111));
  EXPECT_TRUE(address.IsBlank());
  EXPECT_EQ(address.GetWindowText(), "0.0.0.0");
  address.SetWindowText("192.168.1.20");
  DWORD value = 0;
  EXPECT_EQ(address.GetAddress(value), 4);
  EXPECT_EQ(value, 0xC0A80114u);
  for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "a.b.c.d", "1..2.3", "1.2.3.4 "}) {
    address.SetWindowText(bad);
    EXPECT_TRUE(address.IsBlank()) << bad;
  }
  address.SetAddress(0x0A000005u);
  EXPECT_EQ(address.GetWindowText(), "10.0.0.5");
  EXPECT_TRUE(address.TypeText("10.0.0.9"));
  EXPECT_EQ(m_host.commands.back(), (std::pair<UINT, UINT>{2111, EN_CHANGE}));
}

TEST_F(ControlsTest, SortedListBoxesAndCombos) {
  ListBox list;
  ASSERT_TRUE(list.Create(WS_VISIBLE | LBS_SORT, Rect{0, 0, 100, 100}, &m_host, 2003));
  for (const char* text : {"80", "1025", "443", "Beta", "alpha"}) list.AddString(text);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"1025", "443", "80", "alpha", "Beta"}));
  list.SetItemData(list.FindStringExact(-1, "443"), 7);
  list.SelectItem(2);
  EXPECT_EQ(list.GetCurSel(), 2);
  EXPECT_EQ(list.DeleteString(0), 4);
  EXPECT_EQ(list.GetCurSel(), 1);  // the selection follows its line
  EXPECT_EQ(list.GetItemData(list.FindString(-1, "44")), 7u);
  EXPECT_EQ(list.FindStringExact(-1, "ALPHA"), 2);
  EXPECT_EQ(list.DeleteString(9), LB_ERR);

  ComboBox servers;
  ASSERT_TRUE(servers.Create(WS_VISIBLE, Rect{0, 0, 100, 100}, &m_host, 2107));
  servers.AddString("whois.example.net");
  servers.AddString("whois.example.org");
  EXPECT_EQ(servers.SetCurSel(1), 1);
  EXPECT_EQ(servers.GetWindowText(), "whois.example.org");
  EXPECT_TRUE(servers.TypeText("whois.other.net"));
  EXPECT_EQ(servers.FindStringExact(-1, "WHOIS.EXAMPLE.NET"), 0);
  EXPECT_EQ(servers.FindStringExact(-1, "whois.other.net"), CB_ERR);
}

TEST_F(ControlsTest, EditFieldsTellTheirParentOfEveryChange) {
  Edit edit;
  ASSERT_TRUE(edit.Create(WS_VISIBLE | ES_NUMBER, Rect{0, 0, 100, 20}, &m_host, 2092));
  edit.SetLimitText(4);
  edit.SetWindowText("123456");  // the program may set more than the user may type
  EXPECT_EQ(edit.GetWindowText(), "123456");
  edit.SetWindowText("123456");  // unchanged: no notification
  EXPECT_EQ(m_host.commands.size(), 1u);
  EXPECT_FALSE(edit.TypeText("98765"));
  EXPECT_EQ(edit.GetWindowText(), "9876");
  edit.SetSel(-1, -1);
  EXPECT_FALSE(edit.TypeText("1", false));  // full
  edit.SetReadOnly(true);
  EXPECT_FALSE(edit.TypeText("1"));
  EXPECT_EQ(edit.GetWindowText(), "9876");
  EXPECT_EQ(m_host.commands.front(), (std::pair<UINT, UINT>{2092, EN_CHANGE}));
}

}  // namespace

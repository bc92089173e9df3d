#pragma once
#include <cstddef>
#include <deque>
#include <string>

#include "controls/inspect/DlgPelorinIpView.h"
#include "platform/CriticalSection.h"

// The packet feed: while "Feed" is ticked, every packet the capture thread logs is appended to
// the two panes (its header text to the header pane, its data text, cut to "Packet Range From"
// and "To", to the data pane), each after a separator line naming the packet. It can instead
// reload the range it has shown in another mode, or a page of the log ("Load Page").
//
// The capture thread posts message 1524 (wParam frame length, lParam record position) for every
// new row. Each notice is queued here and the queue is worked off a few milliseconds at a time:
// every packet is re-read from the log by its position and appended, and the panes redraw in
// batches, so the window stays responsive at any rate. Should the queue ever hold kMaxPending
// notices, the oldest are skipped and the caption line says how many.
class DlgPelorinView : public DlgPelorinIpView {
 public:
  static constexpr LONG kPaneLimit = 0xFFFFF;         // characters of each pane
  static constexpr std::size_t kMaxPending = 20000;   // notices waiting to be shown
  static constexpr int kDrainBudgetMs = 15;           // work per turn of the message pump
  static constexpr int kRangeLimit = 4;               // characters of each range edit
  static constexpr LONG kEnhanceTwips = 50;
  static constexpr COLORREF kSeparatorColour = RGB(0, 0, 255);

  explicit DlgPelorinView(Window* parent);
  DlgPelorinView(Window* parent, AppProfile* app, std::string name, PelorinCListView* list, PacketLogFile* logFile,
                 PacketLogLock* logLock, int navigation);
  ~DlgPelorinView() override;

  void OnInitStartup() override;
  void ShowPacket(LONG position, LONG size, LONG linkHeader, const char* protocol) override;
  void OnCheckShow() override;
  void OnCheckHeaders() override;
  void OnButtonClear() override;
  void OnCheckEnhance() override;
  // A page chosen in the log page browser, reloaded in the panes while the feed is stopped.
  void OnButtonLoadpage() override;
  void OnClose() override;
  void OnOK() override;

  // Reloads the records from position start: count of them when count is positive, else up to
  // and including the record at end (a log now shorter than the last position shown, with a
  // negative count, is reloaded from its start to its end).
  virtual void ShowPacketFeed(LONG start, LONG end, LONG count);
  // Renders one packet of the packet buffer and appends it; the data pane's text length after it.
  virtual LONG PacketDisplay(const _LogRecMarker& marker, LONG linkHeader, LONG packetLength, LONG bytesRead);

  void SetShow(int show);
  int GetShow();
  void SetShowHeaders(int show);
  int GetShowHeaders();
  // "Enhance" on (bold, kEnhanceTwips larger) and off, for all the text of both panes.
  void SetTextFormatBold(int grow);
  void SetTextFormat(int shrink);

  // The part [*begin, *end) of a rendered data text of length characters that the range values
  // let through ("To" cuts or drops the last character, "From" starts later).
  static void ApplyRange(LONG length, LONG from, LONG to, LONG* begin, LONG* end);

  LONG GetPacketCounter() const { return m_counter; }
  std::size_t GetSkipped() const { return m_skipped; }
  std::size_t GetPending() const { return m_pending.size(); }

 protected:
  bool PreTranslateMessage(const WindowMessage& message) override;
  // A mode change reloads the range shown.
  void OnModeChanged() override;
  void OnTimer(UINT id) override;

  // What the window calls itself in its title and caption ("Packet Feed").
  virtual const char* CaptionTitle() const { return "Packet Feed"; }
  // The capture thread's message that registers this kind of window (1380).
  virtual UINT RegistrationMessage() const;
  // The separator line before a packet's texts; the addresses are the record's (packet holds its
  // length bytes).
  static std::string Separator(const _LogRecMarker& marker, const std::uint8_t* packet, LONG length,
                               const char* protocol, LONG ipLength);
  // Appends text to the end of a pane in a colour (underlined), or in the automatic colour.
  static void AppendColoured(RichEdit* pane, const std::string& text, COLORREF colour);
  static void AppendPlain(RichEdit* pane, const std::string& text);
  void ReadRange(LONG* from, LONG* to) const;
  void InitRange(const char* fromKey, const char* fromDefault, const char* toKey, const char* toDefault);
  // Shows the feed's own controls (range, "Feed", "Headers", "Enhance", "Clear", "Load Page").
  void ShowFeedControls(int feedChecked, int headers);
  void EnableWhileStopped(bool enable);
  // Caption line on every tenth packet; counts the packet.
  void CountPacket();
  void ResetCounter() { m_counter = 0; }
  // Withdraws the window from the capture thread and stops taking notices.
  void Withdraw();
  // Back to plain text in the automatic colour (a full pane was cleared).
  void ResetFormat(RichEdit* pane);
  // Before a chosen page is loaded; the compare window frees its base here.
  virtual void OnPageChosen() {}

 private:
  struct Notice {
    LONG position;
    LONG size;
    std::uint32_t file;  // of the log's set
  };
  void OnNewPacket(LONG size, std::uint32_t file, LONG position);
  void Enhance(bool on);
  void Drain();

  CriticalSection m_flagsLock;  // show and show-headers
  int m_show = 0;
  int m_showHeaders = 1;
  bool m_enhanced = false;
  LONG m_counter = 0;
  bool m_pageLoaded = false;
  LONG m_savedFirst = -1;
  LONG m_savedLast = -1;
  LONG m_lastReloaded = -1;  // the last record position ShowPacketFeed showed

  std::deque<Notice> m_pending;
  bool m_draining = false;
  std::size_t m_skipped = 0;
};

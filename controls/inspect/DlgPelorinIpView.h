#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "common/LogRecMarker.h"
#include "common/WinTypes.h"
#include "controls/inspect/PacketFormat.h"
#include "controls/inspect/PelorinCRichEditView.h"
#include "ui/Dialog.h"
#include "wincap/PacketLogFile.h"

class AppProfile;
class DlgPelorinFindPkt;
class PacketLogLock;
class PelorinCListView;

// The packet view: one logged packet, the one selected in the list that opened it, as a header
// text and a data text in hex, decimal or text mode, with "Next Packet" and "Previous Packet"
// walking that list. The feed (DlgPelorinView) and the compare window (DlgPelorinCompare) are
// built on it and share its "IpView" template.
//
// The window keeps record positions, never packet bytes: a packet is read back from the log by
// position each time it is shown, through the window's own read-only handle, so the capture
// thread keeps appending to the same file meanwhile. The capture thread's log lock, when given,
// is taken only when a record is not in the file yet: taking it writes out the records the
// capture thread still holds back.
//
// Modeless: it creates and shows itself as it is constructed; the opener then calls
// OnInitStartup. "Done" (and the system close) post WM_PELORIN_CLOSE_WINDOW to the opening
// list, which destroys the window.
class DlgPelorinIpView : public Dialog {
 public:
  // Controls of the "IpView" template.
  static constexpr int kCaptionLine = 2086;
  static constexpr int kHeaderLabel = 2010;
  static constexpr int kDataLabel = 2012;
  static constexpr int kDisplayGroup = 2008;
  static constexpr int kRadioHex = 2004;
  static constexpr int kRadioDecimal = 2005;
  static constexpr int kRadioText = 2006;
  static constexpr int kCheckWrap = 2007;
  static constexpr int kButtonNext = 2084;
  static constexpr int kButtonPrev = 2085;
  static constexpr int kRangeFromLabel = 2093;
  static constexpr int kRangeFrom = 2092;
  static constexpr int kRangeToLabel = 2096;
  static constexpr int kRangeTo = 2095;
  static constexpr int kCheckFeed = 2094;
  static constexpr int kCheckHeaders = 2097;
  static constexpr int kCheckEnhance = 2102;
  static constexpr int kCheckHorizontal = 2106;
  static constexpr int kButtonClear = 2050;
  static constexpr int kButtonLoadLog = 2100;
  static constexpr int kButtonLoadPage = 2070;
  static constexpr int kButtonFeed = 2091;
  static constexpr int kHeaderPane = 257;
  static constexpr int kDataPane = 258;

  static constexpr LONG kBufferSize = 0xFFFFF;  // bytes of each of the three buffers
  static constexpr LONG kLinkHeader = PacketFormat::kLinkHeader;

  static DialogTemplate MakeTemplate();

  // An empty window.
  explicit DlgPelorinIpView(Window* parent);
  // Opened from the packet monitor: list is the pane, logFile and logLock the capture thread's
  // log file object and log lock; navigation 0 disables "Next Packet" and "Previous Packet".
  DlgPelorinIpView(Window* parent, AppProfile* app, std::string name, PelorinCListView* list, PacketLogFile* logFile,
                   PacketLogLock* logLock, int navigation);
  // Opened from a search window: it walks the search's result rows and reads the log the search
  // names through its own handle.
  DlgPelorinIpView(Window* parent, AppProfile* app, std::string name, DlgPelorinFindPkt* find);
  ~DlgPelorinIpView() override;

  virtual void OnInitStartup();
  // Shows the packet of the opening list's selected row (the cached row while it is valid).
  virtual void OnClickDisplay(LONG linkHeader);
  virtual void ShowPacket(LONG position, LONG size, LONG linkHeader, const char* protocol);
  virtual void OnCheckWrap();
  virtual void OnRadioDecimal() { SelectMode(PacketFormat::kDecimal); }
  virtual void OnRadioHex() { SelectMode(PacketFormat::kHex); }
  virtual void OnRadioText() { SelectMode(PacketFormat::kText); }
  void OnSize(UINT type, int cx, int cy) override;
  virtual void OnButtonNext();
  virtual void OnButtonPrev();
  virtual void OnButtonFeed() {}
  virtual void OnCheckShow() {}
  virtual void OnCheckHeaders() {}
  virtual void OnButtonClear() {}
  virtual void OnButtonLoadlog() {}
  virtual void OnButtonLoadpage() {}
  virtual void OnCheckEnhance() {}
  virtual void OnChangeEditDisplaybytes() {}
  virtual void OnChangeEditDisplaybytesto() {}
  void OnClose() override;
  virtual void OnCheckHorizontal() {}

  void OnOK() override;
  void OnCancel() override { OnClose(); }

  // Renders a packet as PacketFormat::displayFormat does and, on success, makes the mode
  // rendered the window's current mode.
  char* displayFormat(int mode, const char* protocol, const std::uint8_t* packet, LONG packetLength, char* data,
                      LONG dataCapacity, char* header, LONG headerCapacity, int flag,
                      PacketFormat::Written* written = nullptr);
  // Reads the record stored at position through the window's handle: the packet bytes copied
  // (at most capacity), or -1. Hands back the record's texts, the protocol name from IP header
  // byte 9 and the marker (any pointer may be null).
  LONG LogRead(LONG position, std::uint8_t* buffer, LONG capacity, std::string* source, std::string* destination,
               std::string* time, std::string* protocol, _LogRecMarker* marker);

  // Window titles from the opening list's selected row.
  bool TitleGetFields(std::string fields[7]) const;
  void SetTitle();
  // From the search window's selected row.
  void SetTitleFind();

  // Forgets the cached row, so that the next OnClickDisplay reads the selection again.
  void InvalidateCache() { m_cacheValid = false; }

  int GetMode() const { return m_mode; }
  LONG GetFirstShown() const { return m_first; }
  LONG GetLastShown() const { return m_last; }
  bool IsLogOpen() const { return m_log.IsOpen(); }
  PelorinCRichEditView* HeaderPane() const { return m_headerPane; }
  PelorinCRichEditView* DataPane() const { return m_dataPane; }
  // The texts the last rendering wrote.
  std::string HeaderText() const { return std::string(m_headerText.get(), static_cast<std::size_t>(m_written.header)); }
  std::string DataText() const { return std::string(m_dataText.get(), static_cast<std::size_t>(m_written.data)); }

 protected:
  // The profile's value as the number its text reads (texts "1", "100", ...), default when missing.
  int ReadSetting(const char* section, const char* key, const char* defaultText) const;
  void WriteSetting(const char* section, const char* key, int value) const;

  // Opens the log read-only the first time it is needed and remembers the position; true when
  // open. CloseLog restores that position and closes it.
  bool OpenLog();
  void CloseLog();
  std::string LogPath() const;
  // Reads from then on from the given file of the log's set (a live notice's), when open.
  void FollowFile(std::uint32_t file);
  PacketLogFile& Log() { return m_log; }
  PacketLogLock* CaptureLogLock() const { return m_logLock; }

  // The view's own part of the initialisation (panes, mode, wrap, title, buffers); the feed and
  // compare windows run it as their packet view initialisation. The keys name where the mode
  // ("ViewData") and the wrap ("Filters") of this kind of window are saved.
  void InitView(const char* formatKey, const char* wrapKey);
  // A mode radio: the mode is saved at once, then the window redraws in it.
  void SelectMode(int mode);
  // Redraws after a mode change: the view shows its packet again.
  virtual void OnModeChanged() { OnClickDisplay(kLinkHeader); }
  // Pane, caption and bottom-band layout for a client size; LayoutPanes puts the two panes in
  // the space between the caption line and the display settings.
  void LayoutFrame(int cx, int cy);
  virtual void LayoutPanes(const Rect& area);
  Rect PaneArea() const { return m_paneArea; }
  void SetMode(int mode) { m_mode = mode; }
  void SetCheckedMode(int mode);
  // Clears both panes; with the enhance format and colours back to automatic when asked.
  void ClearPanes();
  // Hides, wraps and shows both panes.
  void ApplyWrap(int on);
  // Puts the window's top-left corner on the opening list's.
  void MoveToOpener();
  // Posts the close request to the opening list and ends the dialog.
  void CloseWindow(int result);
  // The capture thread's message queue is told through the opening pane; null without one.
  PelorinCListView* OpeningList() const { return m_list; }
  Window* Opener() const;
  // Renders the first length bytes of the packet buffer into the text buffers in the current
  // mode; HeaderText and DataText give the result.
  bool Render(const char* protocol, LONG length);
  std::uint8_t* PacketBuffer() const { return m_packet.get(); }
  const char* DataBuffer() const { return m_dataText.get(); }
  LONG DataLength() const { return m_written.data; }
  void SetLastShown(LONG position);
  void SetShownRange(LONG first, LONG last) {
    m_first = first;
    m_last = last;
  }
  AppProfile& Profile() const;

 private:
  void MapHandlers();
  void AllocateBuffers();
  void Navigate(int step);
  bool ReadSelectedRow();
  std::string LogPathOf(std::uint32_t file) const;
  // Opens the cached record's file of the set in place of the one open.
  void FollowRowFile() { FollowPath(LogPath()); }
  void FollowPath(const std::string& path);

  AppProfile* m_app = nullptr;
  std::string m_name;
  const char* m_formatKey = "Format";
  const char* m_wrapKey = "Wrap";
  PelorinCListView* m_list = nullptr;
  DlgPelorinFindPkt* m_find = nullptr;
  PacketLogFile* m_logFileObject = nullptr;
  PacketLogLock* m_logLock = nullptr;
  int m_navigation = 0;

  PacketLogFile m_log;
  std::int64_t m_openPosition = 0;

  // The row being shown.
  LONG m_cachePosition = -1;
  // The file of the set the cached record is in; until a row is read, the one being written.
  static constexpr std::uint32_t kFileBeingWritten = 0xFFFFFFFF;
  std::uint32_t m_cacheFile = kFileBeingWritten;
  LONG m_cacheType = 0;
  LONG m_cacheSize = 0;
  bool m_cacheValid = false;

  int m_mode = PacketFormat::kText;
  LONG m_first = -1;
  LONG m_last = -1;
  bool m_closing = false;

  std::unique_ptr<std::uint8_t[]> m_packet;
  std::unique_ptr<char[]> m_dataText;
  std::unique_ptr<char[]> m_headerText;
  PacketFormat::Written m_written;

  PelorinCRichEditView* m_headerPane = nullptr;
  PelorinCRichEditView* m_dataPane = nullptr;
  Rect m_paneArea;
  Size m_templateClient;  // px, the client size the bottom band was laid out for
};

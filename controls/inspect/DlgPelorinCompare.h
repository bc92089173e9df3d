#pragma once
#include <string>
#include <vector>

#include "controls/inspect/DlgPelorinView.h"
#include "controls/inspect/PacketDiff.h"

// The packet compare window: the first packet with data that reaches it becomes the base packet
// (shown whole in the "Base Packet" pane); every later packet is appended to the "Packets" pane,
// cut to "Packet Range From" and "To", with red runs where its rendered text differs from the
// base's at the same rendered offset and blue for what lies past the base's end (see
// PacketDiff). Packets come from "Compare Add" on the packet pane, from the live capture while
// "Feed" is ticked, or from a page of the log ("Load Page").
class DlgPelorinCompare : public DlgPelorinView {
 public:
  static constexpr char kNoDataText[] = "No packet data available.\n\nFirst packet added will be used as base packet.";
  static constexpr char kNoPacketDataText[] =
      "Selected packet has no packet data.\n\nFirst packet added will be used as base packet.";
  static constexpr COLORREF kSeparatorColour = RGB(0, 0, 0);

  explicit DlgPelorinCompare(Window* parent);
  DlgPelorinCompare(Window* parent, AppProfile* app, std::string name, PelorinCListView* list, PacketLogFile* logFile,
                    PacketLogLock* logLock, int navigation);
  ~DlgPelorinCompare() override;

  void OnInitStartup() override;
  void OnButtonClear() override;
  void OnButtonLoadlog() override {}
  void OnChangeEditDisplaybytes() override;
  void OnChangeEditDisplaybytesto() override;
  void OnCheckHorizontal() override;
  LONG PacketDisplay(const _LogRecMarker& marker, LONG linkHeader, LONG packetLength, LONG bytesRead) override;
  // Lays the two panes out side by side ("Show Horizontal") or one above the other.
  virtual void OnSizeBase();
  void OnOK() override;

  // Writes "DisplayBytesCompare" and "DisplayBytesCompareTo" from the range edits.
  void SaveSettings();
  // Fills the difference table for the shown part of a packet text, which begins at the
  // rendered offset start.
  void ShowDiffGet(const char* text, LONG length, LONG start);
  // ShowDiffGet, then colours the runs in the packets pane, whose text there begins at paneOffset.
  void ShowDiff(LONG paneOffset, const char* text, LONG length, LONG start);

  bool HasBase() const { return m_hasBase; }
  const std::string& BaseText() const { return m_base; }
  LONG GetFirstCompared() const { return m_firstCompared; }
  const std::vector<DiffRun>& DiffTable() const { return m_runs; }
  bool IsHorizontal() const { return m_horizontal; }

 protected:
  const char* CaptionTitle() const override { return "Packet Compare"; }
  UINT RegistrationMessage() const override;
  void LayoutPanes(const Rect& area) override;
  // A mode change keeps only the base, rendered anew.
  void OnModeChanged() override;
  // The chosen page's first record becomes the new base.
  void OnPageChosen() override { ForgetBase(); }

 private:
  void ForgetBase();
  void ShowNoData(const char* text);

  bool m_hasBase = false;
  std::string m_base;
  std::vector<DiffRun> m_runs;
  LONG m_firstCompared = -1;
  bool m_horizontal = true;
  bool m_initialised = false;
};

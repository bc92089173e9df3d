#pragma once
#include <array>
#include <memory>
#include <string>

#include "app/FirewallConsole.h"
#include "app/FirewallMenu.h"
#include "app/PaneLayout.h"
#include "app/SessionMenu.h"
#include "controls/framework/PelorinCListView.h"
#include "controls/packets/CaptureStatusLine.h"
#include "platform/AppProfile.h"
#include "ui/FrameWindow.h"
#include "ui/Splitter.h"

class MonListMon;
class MonListIpMon;
class MonListStat;
class MonListStatIp;
class DlgPelorinFilters;
class DlgIpMon;

// The main window: menu, status bar and the four monitor panes stacked in its client area. It
// prepares the profile values the panes read, creates each pane the first time it is shown,
// starts and stops scanning for all of them together and closes them in order when it closes.
class CMainFrame : public FrameWindow {
 public:
  static constexpr char kTitle[] = "Pelorin Pro v3.1";
  static constexpr char kRegistryPath[] = "\\Software\\DunmereIncProducts\\Setup\\PelorinPro";
  static constexpr char kStartText[] = "Start Scanning";
  static constexpr char kStopText[] = "Stop Scanning";
  static constexpr char kReadyText[] = "For Help, Press F1";
  static constexpr char kNoAdapterText[] =
      "No selected network Interface detected.\n\nSelect menus File->Properties and select\nInterfaces. Select a "
      "network Interface from\nthe available network cards.\n\nRead detail information on the Network "
      "Interface\nin Help...( F1 ).\n\n";
  static constexpr char kNoAdapterCaption[] = "Network Card Interface";
  static constexpr int kWidth = 800;   // px
  static constexpr int kHeight = 600;  // px
  static constexpr UINT kCaptureStatusTimer = 1;
  static constexpr UINT kCaptureStatusMs = 250;  // how often the capture's figures are shown

  CMainFrame();
  ~CMainFrame() override;

  // Creates the window with its menu, status bar, icon and title (hidden).
  bool LoadFrame();
  void SetApplication(AppProfile* application) { m_application = application; }
  AppProfile* GetApplication() const { return m_application; }
  const std::string& GetRegistryPath() const { return m_registryPath; }
  // Writes the default log values, checks the adapter, posts the layout commands, resolves the
  // firewall engine's files and attaches its channel.
  void FrameInit();

  // Menu commands.
  void OnViewPane(Pane pane);
  void OnScanStartStop();
  void OnViewClear();
  void OnViewShowCurrentOnly();
  void OnViewMonitorExclusive();
  void OnViewApplyFilters();
  void OnViewSetFilters();
  void OnViewLoadLog();
  void OnViewLoadFullLog();
  void OnPacketLogPages();
  void OnPacketFind();
  void OnFileSaveLayout();
  void OnFileProperties();
  void OnScanProperties();
  void OnAppAbout();
  // F6 and Shift+F6: the focus moves to the next or previous visible pane, round the stack.
  void OnNextPane(bool forward);
  void OnEditCopy();
  // File > "Load Connections Link Log...": a link monitor without a link, kept by the frame.
  void OnFileLoadLinkLog();
  // File > "Export Packet Log...": the packet log as a pcapng file.
  void OnFileExportPacketLog();
  // File > "Import Capture File...": a pcap or pcapng file's frames appended to the packet log,
  // the pane reloaded from the first of them.
  void OnFileImportCaptureFile();

  // Places the visible panes one above the other, with a splitter bar on each boundary.
  void StackPanes();
  // The user dragged the splitter on the boundary above the (index + 1)th visible pane.
  void OnSplitterMoved(std::size_t index);
  static constexpr UINT kSplitterIds[kPaneCount - 1] = {1040, 1041, 1042};
  Splitter* GetSplitter(std::size_t index) const { return m_splitters[index].get(); }

  // State.
  PelorinCListView* GetPane(Pane pane) const { return m_panes[Index(pane)].get(); }
  bool IsPaneVisible(Pane pane) const { return GetPane(pane) != nullptr && !m_hidden[Index(pane)]; }
  MonListMon* Connections() const;
  MonListIpMon* Packets() const;
  MonListStat* ProtocolStats() const;
  MonListStatIp* IpStats() const;
  DlgPelorinFilters* GetFiltersWindow() const { return m_filtersWindow.get(); }
  DlgIpMon* GetLinkLogWindow() const { return m_linkLogWindow.get(); }
  int GetVisiblePanes() const { return m_visiblePanes; }
  bool IsScanning() const { return m_scanning; }
  bool IsFirstStartPending() const { return m_firstStartPending; }
  bool IsShowCurrentOnly() const { return m_showCurrentOnly; }
  bool IsMonitorExclusive() const { return m_monitorExclusive; }
  bool IsClosing() const { return m_closing; }
  int GetCurrentAdapter() const { return m_currentAdapter; }
  const std::string& GetWorkingDirectory() const { return m_workingDirectory; }
  const FirewallConsole* GetFirewall() const { return m_firewall.get(); }
  FirewallMenu* GetFirewallMenu() const { return m_firewallMenu.get(); }
  std::string GetStartStopText() const;

 protected:
  // Constructs a pane and creates its window in the client area; null when it cannot be made.
  virtual std::unique_ptr<PelorinCListView> MakePane(Pane pane, const Rect& client);
  // The modeless filters window of the packet pane, shown.
  virtual std::unique_ptr<DlgPelorinFilters> MakeFiltersWindow();

  bool OnCommand(UINT id, UINT code, HWND control) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnClose() override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnTimer(UINT id) override;
  bool OnHelpInfo() override;

 private:
  static constexpr std::size_t Index(Pane pane) { return static_cast<std::size_t>(pane); }
  void MapCommands();
  void MapUpdateRules();
  void MapPacketWindowCommands();
  void MapPacketExportCommands();
  void SetStartStopText(const std::string& text);
  bool CheckAdapter();
  void ShowNoAdapter();
  void CreatePane(Pane pane);
  void HidePane(Pane pane);
  void ReshowPane(Pane pane);
  void CloseFiltersWindow();
  // Places the visible panes and the splitters on their boundaries as they are shown.
  void PlacePanes();
  // Hides, closes and deletes the link-log window, if one is open.
  void CloseLinkLogWindow();
  bool IsPacketThreadIdle() const;
  bool IsConnectionsThreadIdle() const;
  // Shows where the chosen page starts and reloads the packet pane from there.
  void LoadPacketPage(LONG page, LONG position, std::uint32_t file);
  void OnPaneContextMenu(HWND pane, Point screenPoint);
  // The packet capture's figures in their status bar pane.
  void ShowCaptureStatus();
  void Shutdown();

  AppProfile* m_application = nullptr;
  std::string m_registryPath = kRegistryPath;
  std::string m_workingDirectory;
  std::unique_ptr<FirewallConsole> m_firewall;
  std::unique_ptr<FirewallMenu> m_firewallMenu;  // the firewall commands, on m_firewall
  std::unique_ptr<SessionMenu> m_sessionMenu;    // the session and rule-folder commands
  std::array<std::unique_ptr<PelorinCListView>, kPaneCount> m_panes;
  std::array<bool, kPaneCount> m_hidden{};
  std::array<std::unique_ptr<Splitter>, kPaneCount - 1> m_splitters;
  PaneShares m_shares{};  // the heights the splitters gave the panes; none until dragged
  std::unique_ptr<DlgPelorinFilters> m_filtersWindow;  // the packet pane's filters window
  std::unique_ptr<DlgIpMon> m_linkLogWindow;           // File > Load Connections Link Log
  int m_currentAdapter = -1;
  bool m_closing = false;
  bool m_scanning = true;  // until start-up says otherwise
  int m_visiblePanes = 0;
  bool m_showCurrentOnly = false;
  bool m_firstStartPending = true;
  bool m_monitorExclusive = false;
  CaptureStatusLine m_captureStatus;
};

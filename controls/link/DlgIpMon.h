#pragma once
#include <memory>
#include <initializer_list>
#include <optional>
#include <string>

#include "common/LinkAddresses6.h"
#include "common/MonListMonItemDataIp.h"
#include "common/WinTypes.h"
#include "ui/Dialog.h"

class AppProfile;
class IpMon;
class MonListIpMon;
class MonListMon;
class PelorinCThreadIpMon;

// The connection link monitor window ("Ip Monitor"): captures, lists and logs the packets of one
// link, saves its log as a ".cnl" file, loads one, browses and searches it page by page, and
// opens feed, compare and route windows on it.
//
// Modeless. Opened for a row of the connections pane or the packet pane, which owns it and
// destroys it when it asks to close (message 1025); opened by the frame without a row, it asks
// the frame instead.
class DlgIpMon : public Dialog {
 public:
  static constexpr int IDD = 2008;
  static constexpr int IDC_LIST = 1028;
  static constexpr int IDC_GROUP_TITLE = 2017;
  static constexpr int IDC_EDIT_LOG_PATH = 2022;
  static constexpr int IDC_BUTTON_START = 2023;
  static constexpr int IDC_BUTTON_STOP = 2024;
  static constexpr int IDC_BUTTON_SAVE_LOG = 2025;
  static constexpr int IDC_BUTTON_LOAD_LOG = 2026;
  static constexpr int IDC_BUTTON_CLEAR = 2050;
  static constexpr int IDC_GROUP_LOGGING = 2051;
  static constexpr int IDC_EDIT_RANGE_START = 2053;
  static constexpr int IDC_EDIT_RANGE_END = 2055;
  static constexpr int IDC_BUTTON_APPLY_RANGE = 1052;
  static constexpr int IDC_GROUP_FILTERING = 2061;
  static constexpr int IDC_CHECK_FROM_ADDR = 2062;
  static constexpr int IDC_CHECK_FROM_PORT = 2063;
  static constexpr int IDC_CHECK_TO_ADDR = 2065;
  static constexpr int IDC_CHECK_TO_PORT = 2066;
  static constexpr int IDC_CHECK_TYPE = 2067;
  static constexpr int IDC_BUTTON_FROM = 2068;
  static constexpr int IDC_GROUP_LOGS = 2069;
  static constexpr int IDC_BUTTON_LOAD_PAGE = 2070;
  static constexpr int IDC_EDIT_PAGE_SIZE = 2071;
  static constexpr int IDC_STATIC_LOG_PAGE = 2076;
  static constexpr int IDC_BUTTON_FIND = 2077;
  static constexpr int IDC_EDIT_MIN_SIZE = 2080;
  static constexpr int IDC_EDIT_MAX_SIZE = 2081;
  static constexpr int IDC_BUTTON_APPLY_SIZES = 2082;
  static constexpr int IDC_BUTTON_SET_LINK = 2087;
  static constexpr int IDC_BUTTON_FEED = 2091;
  static constexpr int IDC_BUTTON_EXPORT = 2092;
  static constexpr int IDC_BUTTON_DONE = IDOK;

  // Context menu 2009 of the packet list.
  static constexpr UINT ID_LINK_ALLOW_BLOCK = 32820;
  static constexpr UINT ID_LINK_COMPARE = 32821;
  static constexpr UINT ID_LINK_COMPARE_ADD = 32822;
  static constexpr UINT ID_LINK_TRACE = 32823;

  static constexpr char kCaption[] = "Ip Monitor";
  static constexpr char kTitlePrefix[] = "Connections Link - ";
  static constexpr LONG kPageSizeMin = 25;
  static constexpr LONG kPageSizeMax = 32768;
  static constexpr int kNumberLimit = 5;  // characters of the page size and size edits

  // parent: the window that owns this one (the opening list, or the frame); nameText: the
  // registry path the opener passes on; description: the link as the opener wrote it ("TCP -
  // 10.0.0.1:1025 -> 10.0.0.2:80"), or a caption when there is no link; link: null for none;
  // link6: the addresses of an IPv6 link, whose record has 0 in its address fields.
  // Creates the window modeless.
  DlgIpMon(Window* parent, AppProfile* app, const std::string& nameText, Point clickPoint,
           const std::string& description, const _MonListMonItemDataIp* link, MonListMon* connections,
           MonListIpMon* packets, const std::optional<LinkAddresses6>& link6 = std::nullopt);
  ~DlgIpMon() override;

  static DialogTemplate MakeTemplate();

  bool OnInitDialog() override;
  void OnOK() override { OnDone(); }      // "Done"
  void OnCancel() override { OnDone(); }  // the system close

  void OnStartMonitor();
  void OnStopMonitor();
  void OnApplyRange();
  void OnApplySizes();
  void OnClear();
  void OnFeed();
  void OnExportLog();  // the current link log as a pcapng file
  void OnSetLink();
  void OnSaveLog();
  void OnLoadLog();
  void OnLoadPage();
  void OnLoadFrom();
  void OnFind();
  void OnDone();
  // The context menu's commands.
  void OnAllowBlock();
  void OnCompare();
  void OnCompareAdd();
  void OnTrace();

  IpMon* GetList() const { return m_list.get(); }
  PelorinCThreadIpMon* GetThread() const;
  bool IsLinkSet() const { return m_linkSet; }
  LONG GetPageSize() const { return m_pageSize; }
  LONG GetLoadedPosition() const { return m_loadedPosition; }
  bool IsClosed() const { return m_closed; }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void MapHandlers();
  void EnableItems(std::initializer_list<int> ids, bool enable);
  void ShowFlags();
  void ShowLogPath();
  void SetTitle(const std::string& description);
  void ShowOpeningTitle();  // the title from what the opener gave
  void PlaceWindow();       // on the opening list's corner, or where the frame asked
  // After a load: the link, the flags and the title from the first row; the log buttons on.
  void TakeLinkFromRows();
  // The link of two end points as the rows and Set Link give them (LinkFromTexts), handed to the
  // thread.
  void SetLinkFromTexts(const std::string& from, const std::string& fromPort, const std::string& to,
                        const std::string& toPort);
  void ShowContextMenu(Point screenPoint);
  // The file dialog for a link log, proposing the name made from the title; empty on Cancel.
  std::string AskForLinkLog(bool open);
  bool HasSelectedRow() const;
  Window* OpeningList() const;

  AppProfile* m_app;
  Window* m_parent;
  MonListMon* m_connections;
  MonListIpMon* m_packets;
  std::string m_nameText;
  std::string m_protocol;
  std::string m_description;
  Point m_clickPoint;
  _MonListMonItemDataIp m_link{};
  std::optional<LinkAddresses6> m_link6;
  bool m_linkSet = false;
  std::unique_ptr<IpMon> m_list;
  std::string m_folder;
  LONG m_pageSize = 256;
  LONG m_loadedPosition = -1;
  bool m_closed = false;
};

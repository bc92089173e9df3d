#pragma once
#include "ui/UiTypes.h"

// Command ids of the main frame's menus and of the two pane context menus.
constexpr UINT ID_FILE_SAVE_LAYOUT = 32784;
constexpr UINT ID_FILE_PROPERTIES = 32790;
constexpr UINT ID_FILE_SESSION_SELECT = 32786;
constexpr UINT ID_FILE_SESSION_LOAD = 32787;
constexpr UINT ID_FILE_DEFAULT_LOGS = 32788;
constexpr UINT ID_FILE_RULES_SELECT = 32792;
constexpr UINT ID_FILE_DEFAULT_RULES = 32793;
constexpr UINT ID_FILE_LOAD_LINK_LOG = 32797;
constexpr UINT ID_FILE_EXPORT_PACKET_LOG = 32818;
constexpr UINT ID_FILE_IMPORT_CAPTURE = 32819;
constexpr UINT ID_APP_EXIT = 57665;

constexpr UINT ID_VIEW_CONNECTIONS = 32775;
constexpr UINT ID_VIEW_SHOW_CURRENT_ONLY = 32785;
constexpr UINT ID_VIEW_LOAD_FULL_LOG = 32779;
constexpr UINT ID_VIEW_PACKETS = 32780;
constexpr UINT ID_VIEW_MONITOR_EXCLUSIVE = 32813;
constexpr UINT ID_VIEW_APPLY_FILTERS = 32781;
constexpr UINT ID_VIEW_SET_FILTERS = 32782;
constexpr UINT ID_VIEW_LOAD_LOG = 32783;
constexpr UINT ID_VIEW_PROTOCOL_STATS = 32771;
constexpr UINT ID_VIEW_IP_STATS = 32774;
constexpr UINT ID_VIEW_CLEAR = 32778;

constexpr UINT ID_SCAN_START_STOP = 32776;
constexpr UINT ID_SCAN_TRACE = 32816;
constexpr UINT ID_SCAN_PROPERTIES = 32789;

// The firewall menu.
constexpr UINT ID_RAMPARO_ATTACH = 32804;
constexpr UINT ID_RAMPARO_START = 32805;
constexpr UINT ID_RAMPARO_STOP = 32806;
constexpr UINT ID_RAMPARO_RULES = 32807;
constexpr UINT ID_RAMPARO_PROPERTIES = 32808;
constexpr UINT ID_RAMPARO_VIEW_LOG = 32809;
constexpr UINT ID_RAMPARO_STATISTICS = 32810;
constexpr UINT ID_RAMPARO_BLOCK_ALLOW = 32794;
constexpr UINT ID_RAMPARO_PROCESSES = 32791;

constexpr UINT ID_APP_ABOUT = 57664;

// Context menu 134 (connections pane).
constexpr UINT ID_CONN_BLOCK_ALLOW = 32796;
constexpr UINT ID_CONN_LINK_MONITOR = 32798;
// Context menu 135 (packet pane).
constexpr UINT ID_PKT_BLOCK_ALLOW = 32795;
constexpr UINT ID_PKT_EXAMINE = 32800;
constexpr UINT ID_PKT_LINK_MONITOR = 32799;
constexpr UINT ID_PKT_LOG_PAGES = 32801;
constexpr UINT ID_PKT_FIND = 32802;
constexpr UINT ID_PKT_FEED = 32803;
constexpr UINT ID_PKT_COMPARE = 32814;
constexpr UINT ID_PKT_COMPARE_ADD = 32815;
constexpr UINT ID_PKT_TRACE = 32817;

// The status bar's pane for the packet capture's figures, after the message pane.
constexpr UINT ID_INDICATOR_CAPTURE = 0xE050;

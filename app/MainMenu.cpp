#include "app/MainMenu.h"

#include "app/MenuIds.h"
#include "controls/packets/WiresharkHandoff.h"

std::unique_ptr<Menu> BuildMainMenu() {
  auto bar = std::make_unique<Menu>();
  Menu* file = bar->AppendPopup("&File");
  file->AppendMenu(MF_STRING, ID_FILE_SAVE_LAYOUT, "Save Layout");
  file->AppendMenu(MF_STRING, ID_FILE_PROPERTIES, "Properties...");
  file->AppendMenu(MF_SEPARATOR);
  file->AppendMenu(MF_STRING, ID_FILE_SESSION_SELECT, "Create/Select Session Log...");
  file->AppendMenu(MF_STRING, ID_FILE_SESSION_LOAD, "Load Session Log...");
  file->AppendMenu(MF_STRING, ID_FILE_DEFAULT_LOGS, "Set Default Logs");
  file->AppendMenu(MF_SEPARATOR);
  file->AppendMenu(MF_STRING, ID_FILE_RULES_SELECT, "Create/Select Firewall Rules...");
  file->AppendMenu(MF_STRING, ID_FILE_DEFAULT_RULES, "Set Defaul Firewall Rules");
  file->AppendMenu(MF_SEPARATOR);
  file->AppendMenu(MF_STRING, ID_FILE_LOAD_LINK_LOG, "Load Connections Link Log...");
  file->AppendMenu(MF_STRING, ID_FILE_EXPORT_PACKET_LOG, "Export Packet Log...");
  file->AppendMenu(MF_STRING, ID_FILE_IMPORT_CAPTURE, "Import Capture File...");
  file->AppendMenu(MF_SEPARATOR);
  file->AppendMenu(MF_STRING, ID_APP_EXIT, "E&xit");

  Menu* view = bar->AppendPopup("&View");
  view->AppendMenu(MF_STRING, ID_VIEW_CONNECTIONS, "< Connections Monitor >");
  view->AppendMenu(MF_STRING, ID_VIEW_SHOW_CURRENT_ONLY, "Show Current Only");
  view->AppendMenu(MF_STRING, ID_VIEW_LOAD_FULL_LOG, "Load Full Log");
  view->AppendMenu(MF_SEPARATOR);
  view->AppendMenu(MF_STRING, ID_VIEW_PACKETS, "< Pelorin Ip Monitor >");
  view->AppendMenu(MF_STRING, ID_VIEW_MONITOR_EXCLUSIVE, "Monitor Exclusive");
  view->AppendMenu(MF_STRING, ID_VIEW_APPLY_FILTERS, "Apply Filters");
  view->AppendMenu(MF_STRING, ID_VIEW_SET_FILTERS, "Set Filters...");
  view->AppendMenu(MF_STRING, ID_VIEW_LOAD_LOG, "Load Log");
  view->AppendMenu(MF_SEPARATOR);
  view->AppendMenu(MF_STRING, ID_VIEW_PROTOCOL_STATS, "< Tcp/Udp/Icmp Statistics Monitor >");
  view->AppendMenu(MF_STRING, ID_VIEW_IP_STATS, "< Ip Statistics Monitor >");
  view->AppendMenu(MF_SEPARATOR);
  view->AppendMenu(MF_STRING, ID_VIEW_CLEAR, "Clear");

  Menu* scan = bar->AppendPopup("&Scan");
  scan->AppendMenu(MF_STRING, ID_SCAN_START_STOP, "Start Scanning");
  scan->AppendMenu(MF_STRING, ID_SCAN_TRACE, "Trace");
  scan->AppendMenu(MF_SEPARATOR);
  scan->AppendMenu(MF_STRING, ID_SCAN_PROPERTIES, "Properties...");

  Menu* firewall = bar->AppendPopup("&Ramparo");
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_ATTACH, "Attach...");
  firewall->AppendMenu(MF_SEPARATOR);
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_START, "Start");
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_STOP, "Stop");
  firewall->AppendMenu(MF_SEPARATOR);
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_BLOCK_ALLOW, "Ip Block/Allow...");
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_RULES, "Rules...");
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_PROPERTIES, "Properties...");
  firewall->AppendMenu(MF_SEPARATOR);
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_VIEW_LOG, "View Log...");
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_STATISTICS, "Statistics...");
  firewall->AppendMenu(MF_STRING, ID_RAMPARO_PROCESSES, "Processes...");

  Menu* help = bar->AppendPopup("&Help");
  help->AppendMenu(MF_STRING, ID_HELP, "&Help Topics");  // the manual, as F1
  help->AppendMenu(MF_SEPARATOR);
  help->AppendMenu(MF_STRING, ID_APP_ABOUT, "&About Pelorin...");
  return bar;
}

std::unique_ptr<Menu> BuildConnectionsContextMenu() {
  auto menu = std::make_unique<Menu>();
  menu->AppendMenu(MF_STRING, ID_CONN_BLOCK_ALLOW, "Block/Allow");
  menu->AppendMenu(MF_STRING, ID_CONN_LINK_MONITOR, "Connections Link Monitor");
  return menu;
}

std::unique_ptr<Menu> BuildPacketsContextMenu() {
  auto menu = std::make_unique<Menu>();
  menu->AppendMenu(MF_STRING, ID_PKT_BLOCK_ALLOW, "Block/Allow");
  menu->AppendMenu(MF_SEPARATOR);
  menu->AppendMenu(MF_STRING, ID_PKT_EXAMINE, "Examine Full Packet");
  menu->AppendMenu(MF_STRING, ID_PKT_LINK_MONITOR, "Ip Connections Link Monitor");
  menu->AppendMenu(MF_SEPARATOR);
  menu->AppendMenu(MF_STRING, ID_PKT_LOG_PAGES, "Log Pages");
  menu->AppendMenu(MF_STRING, ID_PKT_FIND, "Find");
  WiresharkHandoff::AppendMenu(*menu);
  menu->AppendMenu(MF_SEPARATOR);
  menu->AppendMenu(MF_STRING, ID_PKT_FEED, "Feed");
  menu->AppendMenu(MF_STRING, ID_PKT_COMPARE, "Compare");
  menu->AppendMenu(MF_STRING, ID_PKT_COMPARE_ADD, "Compare Add");
  menu->AppendMenu(MF_SEPARATOR);
  menu->AppendMenu(MF_STRING, ID_PKT_TRACE, "Trace");
  return menu;
}

std::vector<Accelerator> BuildMainAccelerators() {
  return {{FCONTROL, 'C', ID_EDIT_COPY},       {FCONTROL, VK_INSERT, ID_EDIT_COPY}, {FCONTROL, 'V', ID_EDIT_PASTE},
          {FSHIFT, VK_INSERT, ID_EDIT_PASTE},  {FCONTROL, 'X', ID_EDIT_CUT},      {FSHIFT, VK_DELETE, ID_EDIT_CUT},
          {FCONTROL, 'Z', ID_EDIT_UNDO},       {FALT, VK_BACK, ID_EDIT_UNDO},     {0, VK_F6, ID_NEXT_PANE},
          {FSHIFT, VK_F6, ID_PREV_PANE},       {FSHIFT, VK_F1, ID_CONTEXT_HELP},  {0, VK_F1, ID_HELP}};
}

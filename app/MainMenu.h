#pragma once
#include <memory>

#include "ui/Menu.h"

// The menus of the main frame, with their texts and command ids.
std::unique_ptr<Menu> BuildMainMenu();
// Context menu 134 of the connections pane and 135 of the packet pane.
std::unique_ptr<Menu> BuildConnectionsContextMenu();
std::unique_ptr<Menu> BuildPacketsContextMenu();

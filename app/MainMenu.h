#pragma once
#include <memory>
#include <vector>

#include "ui/Accelerator.h"
#include "ui/Menu.h"

// The menus of the main frame, with their texts and command ids.
std::unique_ptr<Menu> BuildMainMenu();
// Context menu 134 of the connections pane and 135 of the packet pane.
std::unique_ptr<Menu> BuildConnectionsContextMenu();
std::unique_ptr<Menu> BuildPacketsContextMenu();
// The frame's accelerators (resource 128): the standard edit keys, F6 and Shift+F6 between the
// panes, F1 help and Shift+F1 context help.
std::vector<Accelerator> BuildMainAccelerators();

#pragma once
#include <QMenu>

#include "ui/Menu.h"

// Fills a QMenu from a menu: texts, separators, check marks, enabled states and sub-menus whose
// owner's update rules run each time they open. Each action carries its command id as data.
void FillQMenu(QMenu* target, Menu& menu, HWND owner);

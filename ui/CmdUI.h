#pragma once
#include <string>

#include "ui/UiTypes.h"

class Menu;

// One menu item handed to its owner's update rule each time the menu opens: the rule enables,
// checks or renames the item through it.
class CmdUI {
 public:
  CmdUI(UINT id, Menu* menu) : m_nID(id), m_pMenu(menu) {}
  void Enable(bool on = true);
  void SetCheck(int check = 1);
  void SetText(const std::string& text);

  UINT m_nID;
  Menu* m_pMenu;
};

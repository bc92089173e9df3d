#pragma once
#include <memory>
#include <string>
#include <vector>

#include "ui/CmdUI.h"
#include "ui/UiTypes.h"

class Window;

// A menu bar or popup menu: items with command ids, texts, check marks and enabled states,
// separators and sub-menus. Each time a menu opens, its owner's update rule (Window::
// OnUpdateCmdUI) runs for every command item, so enabling and check marks follow the owner's
// state; a chosen item reaches the owner as WM_COMMAND. Menus belong to the user-interface thread.
class Menu {
 public:
  struct Item {
    UINT id = 0;
    std::string text;
    UINT flags = 0;  // MF_CHECKED, MF_GRAYED, MF_SEPARATOR, MF_POPUP
    std::string toolTip;  // shown while the pointer rests on the item, enabled or not
    std::unique_ptr<Menu> popup;
  };

  bool CreateMenu() { return true; }
  bool CreatePopupMenu() { return true; }

  bool AppendMenu(UINT flags, UINT id = 0, const std::string& text = {});
  // Appends a sub-menu and returns it for filling.
  Menu* AppendPopup(const std::string& text, UINT flags = 0);
  bool InsertMenu(UINT position, UINT flags, UINT id, const std::string& text);  // by position
  bool DeleteMenu(UINT position, UINT flags);
  bool ModifyMenu(UINT position, UINT flags, UINT newId, const std::string& text);
  bool SetMenuItemText(UINT id, const std::string& text) { return ModifyMenuText(id, MF_BYCOMMAND, text); }
  // The tooltip of an item (MF_BYCOMMAND or MF_BYPOSITION); false when there is no such item.
  bool SetToolTip(UINT item, UINT flags, const std::string& text);

  int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
  UINT GetMenuItemID(int position) const;  // 0xFFFFFFFF for a sub-menu, 0 for a separator
  Menu* GetSubMenu(int position) const;
  std::string GetMenuString(UINT item, UINT flags) const;
  UINT GetMenuState(UINT item, UINT flags) const;  // 0xFFFFFFFF when there is no such item
  UINT CheckMenuItem(UINT item, UINT flags);       // the previous check state
  UINT EnableMenuItem(UINT item, UINT flags);      // the previous enabled state
  bool IsEnabled(UINT id) const;
  bool IsChecked(UINT id) const;

  // Runs the owner's update rule for every command item of this menu (not its sub-menus): what
  // the framework does when the menu opens.
  void UpdateItems(Window* owner);
  // Shows the menu at a screen point for the owner and sends the chosen command to it (or, with
  // TPM_RETURNCMD, returns the command instead). Returns the command chosen, 0 when none.
  UINT TrackPopupMenu(UINT flags, int x, int y, Window* owner);
  // The user opens the menu that holds the command and picks it (tests): false when it is
  // missing or disabled after the update rules ran.
  bool Choose(UINT id, Window* owner);

  // The item of a command, searching sub-menus; with its menu.
  Item* Find(UINT item, UINT flags, Menu** holder = nullptr);
  const Item* Find(UINT item, UINT flags) const;
  const std::vector<Item>& Items() const { return m_items; }

 private:
  bool ModifyMenuText(UINT item, UINT flags, const std::string& text);
  std::vector<Item> m_items;
};

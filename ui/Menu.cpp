#include "ui/Menu.h"

#include "ui/UiServices.h"
#include "ui/Window.h"

void CmdUI::Enable(bool on) {
  if (m_pMenu != nullptr) m_pMenu->EnableMenuItem(m_nID, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

void CmdUI::SetCheck(int check) {
  if (m_pMenu != nullptr) m_pMenu->CheckMenuItem(m_nID, MF_BYCOMMAND | (check != 0 ? MF_CHECKED : MF_UNCHECKED));
}

void CmdUI::SetText(const std::string& text) {
  if (m_pMenu != nullptr) m_pMenu->SetMenuItemText(m_nID, text);
}

bool Menu::AppendMenu(UINT flags, UINT id, const std::string& text) {
  Item item;
  item.id = (flags & MF_SEPARATOR) ? 0 : id;
  item.text = text;
  item.flags = flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_SEPARATOR);
  m_items.push_back(std::move(item));
  return true;
}

Menu* Menu::AppendPopup(const std::string& text, UINT flags) {
  Item item;
  item.text = text;
  item.flags = MF_POPUP | (flags & (MF_GRAYED | MF_DISABLED));
  item.popup = std::make_unique<Menu>();
  m_items.push_back(std::move(item));
  return m_items.back().popup.get();
}

bool Menu::InsertMenu(UINT position, UINT flags, UINT id, const std::string& text) {
  if (position > m_items.size()) position = static_cast<UINT>(m_items.size());
  Item item;
  item.id = (flags & MF_SEPARATOR) ? 0 : id;
  item.text = text;
  item.flags = flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_SEPARATOR);
  m_items.insert(m_items.begin() + position, std::move(item));
  return true;
}

bool Menu::DeleteMenu(UINT position, UINT flags) {
  Menu* holder = nullptr;
  Item* item = Find(position, flags, &holder);
  if (item == nullptr) return false;
  auto& items = holder->m_items;
  items.erase(items.begin() + (item - items.data()));
  return true;
}

bool Menu::ModifyMenu(UINT position, UINT flags, UINT newId, const std::string& text) {
  Item* item = Find(position, flags);
  if (item == nullptr) return false;
  item->id = (flags & MF_SEPARATOR) ? 0 : newId;
  item->text = text;
  item->flags = (item->flags & MF_POPUP) | (flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_SEPARATOR));
  return true;
}

bool Menu::ModifyMenuText(UINT id, UINT flags, const std::string& text) {
  Item* item = Find(id, flags);
  if (item == nullptr) return false;
  item->text = text;
  return true;
}

Menu::Item* Menu::Find(UINT which, UINT flags, Menu** holder) {
  if (flags & MF_BYPOSITION) {
    if (which >= m_items.size()) return nullptr;
    if (holder != nullptr) *holder = this;
    return &m_items[which];
  }
  for (Item& item : m_items) {
    if (item.popup) {
      if (Item* found = item.popup->Find(which, flags, holder)) return found;
    } else if ((item.flags & MF_SEPARATOR) == 0 && item.id == which) {
      if (holder != nullptr) *holder = this;
      return &item;
    }
  }
  return nullptr;
}

bool Menu::SetToolTip(UINT which, UINT flags, const std::string& text) {
  Item* item = Find(which, flags);
  if (item == nullptr) return false;
  item->toolTip = text;
  return true;
}

const Menu::Item* Menu::Find(UINT which, UINT flags) const { return const_cast<Menu*>(this)->Find(which, flags); }

UINT Menu::GetMenuItemID(int position) const {
  if (position < 0 || position >= static_cast<int>(m_items.size())) return 0xFFFFFFFF;
  const Item& item = m_items[static_cast<std::size_t>(position)];
  return item.popup ? 0xFFFFFFFF : item.id;
}

Menu* Menu::GetSubMenu(int position) const {
  if (position < 0 || position >= static_cast<int>(m_items.size())) return nullptr;
  return m_items[static_cast<std::size_t>(position)].popup.get();
}

std::string Menu::GetMenuString(UINT which, UINT flags) const {
  const Item* item = Find(which, flags);
  return item != nullptr ? item->text : std::string();
}

UINT Menu::GetMenuState(UINT which, UINT flags) const {
  const Item* item = Find(which, flags);
  return item != nullptr ? item->flags : 0xFFFFFFFF;
}

UINT Menu::CheckMenuItem(UINT which, UINT flags) {
  Item* item = Find(which, flags);
  if (item == nullptr) return 0xFFFFFFFF;
  const UINT previous = item->flags & MF_CHECKED;
  item->flags = (item->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
  return previous;
}

UINT Menu::EnableMenuItem(UINT which, UINT flags) {
  Item* item = Find(which, flags);
  if (item == nullptr) return 0xFFFFFFFF;
  const UINT previous = item->flags & (MF_GRAYED | MF_DISABLED);
  item->flags = (item->flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
  return previous;
}

bool Menu::IsEnabled(UINT id) const {
  const Item* item = Find(id, MF_BYCOMMAND);
  return item != nullptr && (item->flags & (MF_GRAYED | MF_DISABLED)) == 0;
}

bool Menu::IsChecked(UINT id) const {
  const Item* item = Find(id, MF_BYCOMMAND);
  return item != nullptr && (item->flags & MF_CHECKED) != 0;
}

void Menu::UpdateItems(Window* owner) {
  if (owner == nullptr) return;
  for (std::size_t i = 0; i < m_items.size(); ++i) {
    const Item& item = m_items[i];
    if (item.popup || (item.flags & MF_SEPARATOR)) continue;
    CmdUI cmd(item.id, this);
    owner->OnUpdateCmdUI(cmd);
  }
}

UINT Menu::TrackPopupMenu(UINT flags, int x, int y, Window* owner) {
  UpdateItems(owner);
  const UINT chosen = UiServices::Current().TrackPopupMenu(*this, Point{x, y}, owner);
  if (chosen == 0 || !IsEnabled(chosen)) return 0;
  if ((flags & TPM_RETURNCMD) == 0 && owner != nullptr) owner->PostMessage(WM_COMMAND, static_cast<WPARAM>(chosen), 0);
  return chosen;
}

bool Menu::Choose(UINT id, Window* owner) {
  Menu* holder = nullptr;
  Item* item = Find(id, MF_BYCOMMAND, &holder);
  if (item == nullptr || owner == nullptr) return false;
  holder->UpdateItems(owner);
  if (!holder->IsEnabled(id)) return false;
  owner->SendMessage(WM_COMMAND, static_cast<WPARAM>(id), 0);
  return true;
}

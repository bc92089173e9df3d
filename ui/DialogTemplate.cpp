#include "ui/DialogTemplate.h"

namespace {
DialogItem Item(UINT id, WindowKind kind, const std::string& text, int x, int y, int cx, int cy, DWORD style) {
  return DialogItem{id, kind, text, x, y, cx, cy, WS_VISIBLE | style};
}
}  // namespace

DialogItem LabelItem(const std::string& text, int x, int y, int cx, int cy, UINT id) {
  return Item(id, WindowKind::Static, text, x, y, cx, cy, 0);
}
DialogItem GroupItem(const std::string& text, int x, int y, int cx, int cy, UINT id) {
  return Item(id, WindowKind::GroupBox, text, x, y, cx, cy, 0);
}
DialogItem EditItem(UINT id, int x, int y, int cx, int cy, DWORD style) {
  return Item(id, WindowKind::Edit, "", x, y, cx, cy, WS_TABSTOP | WS_BORDER | style);
}
DialogItem PushButtonItem(UINT id, const std::string& text, int x, int y, int cx, int cy) {
  return Item(id, WindowKind::Button, text, x, y, cx, cy, WS_TABSTOP | BS_PUSHBUTTON);
}
DialogItem DefPushButtonItem(UINT id, const std::string& text, int x, int y, int cx, int cy) {
  return Item(id, WindowKind::Button, text, x, y, cx, cy, WS_TABSTOP | BS_DEFPUSHBUTTON);
}
DialogItem CheckBoxItem(UINT id, const std::string& text, int x, int y, int cx, int cy) {
  return Item(id, WindowKind::Button, text, x, y, cx, cy, WS_TABSTOP | BS_AUTOCHECKBOX);
}
DialogItem RadioButtonItem(UINT id, const std::string& text, int x, int y, int cx, int cy, bool firstOfGroup) {
  return Item(id, WindowKind::Button, text, x, y, cx, cy, BS_AUTORADIOBUTTON | (firstOfGroup ? WS_GROUP | WS_TABSTOP : 0));
}
DialogItem ComboBoxItem(UINT id, int x, int y, int cx, int cy) {
  return Item(id, WindowKind::ComboBox, "", x, y, cx, cy, WS_TABSTOP | WS_VSCROLL);
}
DialogItem ListBoxItem(UINT id, int x, int y, int cx, int cy, DWORD style) {
  return Item(id, WindowKind::ListBox, "", x, y, cx, cy, WS_TABSTOP | WS_BORDER | WS_VSCROLL | style);
}
DialogItem ProgressItem(UINT id, int x, int y, int cx, int cy) {
  return Item(id, WindowKind::Progress, "", x, y, cx, cy, WS_BORDER);
}
DialogItem IpAddressItem(UINT id, int x, int y, int cx, int cy) {
  return Item(id, WindowKind::IpAddress, "", x, y, cx, cy, WS_TABSTOP);
}
DialogItem ReportListItem(UINT id, int x, int y, int cx, int cy, DWORD style) {
  return Item(id, WindowKind::ListControl, "", x, y, cx, cy, WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS | style);
}
DialogItem RichEditItem(UINT id, int x, int y, int cx, int cy, DWORD style) {
  return Item(id, WindowKind::RichEdit, "", x, y, cx, cy, WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | style);
}

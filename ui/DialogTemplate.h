#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/UiTypes.h"
#include "ui/Window.h"

// One control of a dialog template: id, kind, text, position and size in dialog units, style.
// The helpers below fill in each kind's usual style, so a template reads like a table:
//
//   DialogTemplate adapters{"Network Interfaces", 362, 142, "MS Sans Serif", 8, {
//       GroupItem("Adapters", 4, 1, 352, 117),
//       ReportListItem(3000, 9, 12, 341, 100, LVS_SINGLESEL),
//       DefPushButtonItem(IDOK, "OK", 252, 121, 50, 14),
//       PushButtonItem(IDCANCEL, "Cancel", 305, 121, 50, 14)}};
struct DialogItem {
  UINT id = 0xFFFF;
  WindowKind kind = WindowKind::Static;
  std::string text;
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  DWORD style = WS_VISIBLE;

  DialogItem Hidden() const {
    DialogItem item = *this;
    item.style &= ~WS_VISIBLE;
    return item;
  }
  DialogItem Disabled() const {
    DialogItem item = *this;
    item.style |= WS_DISABLED;
    return item;
  }
  DialogItem WithStyle(DWORD extra) const {
    DialogItem item = *this;
    item.style |= extra;
    return item;
  }
};

struct DialogTemplate {
  std::string caption;
  int cx = 0;  // dialog units
  int cy = 0;
  std::string fontFace = "MS Sans Serif";
  int fontPoints = 8;
  std::vector<DialogItem> items;
  bool visible = true;  // a modeless dialog shows itself once created
};

DialogItem LabelItem(const std::string& text, int x, int y, int cx, int cy, UINT id = 0xFFFF);
DialogItem GroupItem(const std::string& text, int x, int y, int cx, int cy, UINT id = 0xFFFF);
DialogItem EditItem(UINT id, int x, int y, int cx, int cy, DWORD style = ES_AUTOHSCROLL);
DialogItem PushButtonItem(UINT id, const std::string& text, int x, int y, int cx, int cy);
DialogItem DefPushButtonItem(UINT id, const std::string& text, int x, int y, int cx, int cy);
DialogItem CheckBoxItem(UINT id, const std::string& text, int x, int y, int cx, int cy);
// The first radio button of a group passes firstOfGroup.
DialogItem RadioButtonItem(UINT id, const std::string& text, int x, int y, int cx, int cy, bool firstOfGroup = false);
DialogItem ComboBoxItem(UINT id, int x, int y, int cx, int cy);
DialogItem ListBoxItem(UINT id, int x, int y, int cx, int cy, DWORD style = LBS_SORT);
DialogItem IpAddressItem(UINT id, int x, int y, int cx, int cy);
DialogItem ReportListItem(UINT id, int x, int y, int cx, int cy, DWORD style = 0);
DialogItem ProgressItem(UINT id, int x, int y, int cx, int cy);
DialogItem RichEditItem(UINT id, int x, int y, int cx, int cy, DWORD style = ES_MULTILINE | ES_READONLY);

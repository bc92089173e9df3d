#pragma once
#include <string>
#include <vector>

#include "ui/Window.h"

// A combo box with an edit field: a list of entries and the field's text (the window text).
// The window is the closed box, at its edit's height; the list drops below it on demand.
class ComboBox : public Window {
 public:
  // droppedHeight: the height of box and list together when the list is down (as a template
  // gives it); 0 for a list as tall as the box.
  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id, int droppedHeight = 0);
  // Box and list together while the list is down, in the parent's client coordinates.
  Rect GetDroppedControlRect() const;

  int AddString(const std::string& text);
  int InsertString(int index, const std::string& text);  // -1 appends
  int DeleteString(int index);                            // entries left, or CB_ERR
  void ResetContent();
  int GetCount() const;
  std::string GetLBText(int index) const;
  int GetCurSel() const;
  int SetCurSel(int index);  // also puts the entry into the edit field; -1 clears the selection
  int FindStringExact(int startAfter, const std::string& text) const;  // case-blind, as on the platform
  std::vector<std::string> Entries() const;

  // The user picks an entry (CBN_SELCHANGE) or types into the field (CBN_EDITCHANGE).
  bool SelectItem(int index);
  bool TypeText(const std::string& text);

 private:
  std::vector<std::string> m_entries;
  int m_curSel = -1;
  int m_droppedHeight = 0;
};

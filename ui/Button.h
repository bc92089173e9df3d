#pragma once
#include "ui/Window.h"

// A push button (BS_PUSHBUTTON, BS_DEFPUSHBUTTON), check box (BS_AUTOCHECKBOX) or radio button
// (BS_AUTORADIOBUTTON). Radio buttons form a group from one with WS_GROUP up to the next one.
class Button : public Window {
 public:
  bool Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id);

  DWORD ButtonType() const { return GetStyle() & 0xF; }
  bool IsPushButton() const { return ButtonType() <= BS_DEFPUSHBUTTON; }
  bool IsDefaultButton() const { return ButtonType() == BS_DEFPUSHBUTTON; }
  bool IsCheckBox() const { return ButtonType() == BS_AUTOCHECKBOX; }
  bool IsRadioButton() const { return ButtonType() == BS_AUTORADIOBUTTON; }

  int GetCheck() const;
  void SetCheck(int check);

  // A click by the user (tests, the toolkit): refused when the button is hidden or disabled;
  // toggles a check box, checks a radio button and unchecks the rest of its group, then tells the
  // parent (BN_CLICKED). Returns whether the click happened.
  bool Click();

 private:
  void UncheckGroupSiblings();
  int m_check = BST_UNCHECKED;
};

#pragma once
#include "ui/Window.h"

// An edit field. Style bits: ES_MULTILINE, ES_READONLY, ES_NUMBER (only digits can be typed).
// The text limit and the numbers-only rule bind what the user types, not SetWindowText, as on
// the platform. Every change of the text tells the parent (EN_CHANGE).
class Edit : public Window {
 public:
  static constexpr UINT kDefaultLimit = 30000;  // characters

  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id);
  void SetWindowText(const std::string& text) override;

  void SetLimitText(UINT limit);  // 0 = the default limit
  void LimitText(int limit = 0) { SetLimitText(static_cast<UINT>(limit < 0 ? 0 : limit)); }
  UINT GetLimitText() const;
  void SetReadOnly(bool readOnly = true);
  bool IsReadOnly() const { return (GetStyle() & ES_READONLY) != 0; }
  bool IsNumbersOnly() const { return (GetStyle() & ES_NUMBER) != 0; }
  bool IsMultiLine() const { return (GetStyle() & ES_MULTILINE) != 0; }

  // Selection and replacement, in characters; (0, -1) selects all, (-1, -1) places the caret at the end.
  void SetSel(int start, int end);
  void GetSel(int* start, int* end) const;
  void ReplaceSel(const std::string& text);

  // What the user types into the field (tests, the toolkit): replaces the whole text when
  // replaceAll, else the selection. Refused when read-only or disabled; characters other than
  // digits are dropped in a numbers-only field and the text is cut at the limit. Returns true when
  // everything typed was taken.
  bool TypeText(const std::string& text, bool replaceAll = true);

 private:
  UINT m_limit = kDefaultLimit;
  int m_selStart = 0;
  int m_selEnd = 0;
};

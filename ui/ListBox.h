#pragma once
#include <string>
#include <vector>

#include "ui/Window.h"

// A list of text lines, each with one item data value; LBS_SORT keeps the lines in case-blind
// order. Thread-safe: a worker may add lines while the user-interface thread draws.
class ListBox : public Window {
 public:
  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id);

  int AddString(const std::string& text);                // index of the new line
  int InsertString(int index, const std::string& text);  // -1 appends
  int DeleteString(int index);                            // lines left, or LB_ERR
  void ResetContent();
  int GetCount() const;
  std::string GetText(int index) const;
  int GetText(int index, std::string& text) const;  // length, or LB_ERR
  int GetTextLen(int index) const;
  int GetCurSel() const;
  int SetCurSel(int index);  // -1 clears the selection
  bool SetItemData(int index, DWORD_PTR data);
  DWORD_PTR GetItemData(int index) const;
  int FindString(int startAfter, const std::string& prefix) const;  // case-blind prefix
  int FindStringExact(int startAfter, const std::string& text) const;
  std::vector<std::string> Lines() const;

  // Adds the sub-folders of a folder as "[name]" lines, with "[..]" for its parent unless it is
  // the root, as the platform's directory listing does for directories only. Returns the folder's
  // absolute path ("" when it cannot be read).
  std::string Dir(const std::string& folder);

  // The user selects or double-clicks a line (tests, the toolkit): LBN_SELCHANGE / LBN_DBLCLK.
  bool SelectItem(int index);
  bool DoubleClickItem(int index);

 private:
  struct Line {
    std::string text;
    DWORD_PTR data = 0;
  };
  int Find(int startAfter, const std::string& text, bool prefix) const;
  std::vector<Line> m_lines;
  int m_curSel = -1;
};

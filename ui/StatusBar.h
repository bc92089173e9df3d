#pragma once
#include <string>
#include <vector>

#include "ui/Window.h"

// The status bar along the bottom of a frame: panes named by indicator ids; pane 0 (ID_SEPARATOR)
// carries the message text, the others the keyboard indicators.
class StatusBar : public Window {
 public:
  static constexpr int kDefaultHeight = 20;  // px, until the toolkit reports its own

  bool Create(Window* parent, UINT id = 0xE801);
  bool SetIndicators(const std::vector<UINT>& ids);
  int GetCount() const;
  UINT GetItemID(int index) const;
  bool SetPaneText(int index, const std::string& text);
  std::string GetPaneText(int index) const;
  // The message pane.
  void SetWindowText(const std::string& text) override { SetPaneText(0, text); }
  std::string GetWindowText() const override { return GetPaneText(0); }

 private:
  struct Pane {
    UINT id = ID_SEPARATOR;
    std::string text;
  };
  std::vector<Pane> m_panes{Pane{}};
};

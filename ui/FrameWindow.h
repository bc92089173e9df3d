#pragma once
#include <memory>
#include <string>
#include <vector>

#include "ui/Accelerator.h"
#include "ui/IconImage.h"
#include "ui/Menu.h"
#include "ui/StatusBar.h"
#include "ui/Window.h"

// The main window: a title, a menu bar, a status bar along the bottom and child panes placed by
// the frame's own code in its client area. The client area includes the status bar's strip, as
// on the platform: a frame that stacks panes subtracts the status bar's height itself.
class FrameWindow : public Window {
 public:
  ~FrameWindow() override;

  // Creates the frame (hidden) with the given outer rectangle in screen coordinates.
  bool Create(const std::string& title, const Rect& rect);
  void SetTitle(const std::string& title) { SetWindowText(title); }

  void SetMenu(std::unique_ptr<Menu> menu);
  Menu* GetMenu() const { return m_menu.get(); }
  void DrawMenuBar() { Changed(kChangeMenu); }
  // A menu of the bar (or one of its sub-menus) is opening: runs the frame's update rules on it.
  void OnMenuOpening(Menu& menu) { menu.UpdateItems(this); }

  // The frame's accelerator table. A key pressed in the frame or in one of its panes that matches
  // an entry sends that entry's command, as a menu item would; true when one matched.
  void SetAccelerators(std::vector<Accelerator> table) { m_accelerators = std::move(table); }
  const std::vector<Accelerator>& GetAccelerators() const { return m_accelerators; }
  bool TranslateAccelerator(UINT key, std::uint8_t modifiers);

  // The large icon of the window (title bar, task switcher).
  void SetIcon(const IconImage& icon);
  IconImage GetIcon() const;

  StatusBar* CreateStatusBar(const std::vector<UINT>& indicators);
  StatusBar* GetStatusBar() const { return m_statusBar.get(); }
  void SetMessageText(const std::string& text);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void PlaceStatusBar();
  std::unique_ptr<Menu> m_menu;
  std::unique_ptr<StatusBar> m_statusBar;
  std::vector<Accelerator> m_accelerators;
  IconImage m_icon;  // under the window's state lock
};

#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ui/CmdUI.h"
#include "ui/Font.h"
#include "ui/UiTypes.h"
#include "ui/WindowMessage.h"
#include "ui/WindowView.h"

struct ListNotify;

enum class WindowKind {
  Generic,
  Static,
  GroupBox,
  Edit,
  Button,
  ComboBox,
  ListBox,
  IpAddress,
  ListControl,
  RichEdit,
  Progress,
  StatusBar,
  Frame,
  Dialog,
};

// A window: a node of the window tree with a control id, a text, a rectangle, a style (shown,
// enabled, kind-specific bits), a font, and a handle by which other threads may name it.
//
// Windows belong to the user-interface thread: they are created, destroyed, focused and sent
// messages there. Their text, style and rectangle are guarded by a lock of their own, so a worker
// thread may set a control's text or enable it, as the route tracer does; only PostMessage and the
// handle functions are meant for threads that do not own the window's lifetime.
//
// Rectangles: a child's rectangle is in its parent's client coordinates, a top-level window's in
// screen coordinates. The client area of a plain window is its whole rectangle.
class Window {
 public:
  // Change bits handed to the window's view (WindowView::Sync).
  static constexpr unsigned kChangeText = 0x001;
  static constexpr unsigned kChangeStyle = 0x002;  // shown, enabled, read-only, check state
  static constexpr unsigned kChangeRect = 0x004;
  static constexpr unsigned kChangeFont = 0x008;
  static constexpr unsigned kChangeContent = 0x010;  // rows, items, rich text
  static constexpr unsigned kChangeSelection = 0x020;
  static constexpr unsigned kChangeColumns = 0x040;
  static constexpr unsigned kChangeScroll = 0x080;
  static constexpr unsigned kChangeMenu = 0x100;
  static constexpr unsigned kChangeIcon = 0x200;
  static constexpr unsigned kChangeAll = 0xFFF;

  Window();
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Creates a plain window. A null parent makes a top-level window.
  bool Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id);
  bool DestroyWindow();

  HWND GetSafeHwnd() const { return m_hwnd.load(std::memory_order_acquire); }
  bool IsCreated() const { return GetSafeHwnd() != kNoWindow; }
  WindowKind Kind() const { return m_kind; }
  // The window object behind a handle; null once destroyed. Use only on the user-interface thread.
  static Window* FromHandle(HWND hwnd);
  static bool IsWindow(HWND hwnd);
  // Runs a posted message: the pre-translate step up the parent chain, then WindowProc. A message
  // for a window that no longer exists is dropped.
  static void Dispatch(const WindowMessage& message);

  // Tree.
  Window* GetParent() const { return m_parent; }
  Window* GetTopLevelParent();
  // The window this one reports to (its creator for top-level windows), the parent when unset.
  Window* GetOwner() const { return m_owner ? m_owner : m_parent; }
  void SetOwner(Window* owner) { m_owner = owner; }
  int GetDlgCtrlID() const { return static_cast<int>(m_id); }
  void SetDlgCtrlID(UINT id) { m_id = id; }
  Window* GetDlgItem(int id) const;
  template <class T>
  T* GetDlgItemAs(int id) const { return dynamic_cast<T*>(GetDlgItem(id)); }
  std::vector<Window*> Children() const;
  // Gives ownership of a child to this window: it is deleted when this window is destroyed.
  Window* Adopt(std::unique_ptr<Window> child);

  // Text.
  virtual void SetWindowText(const std::string& text);
  virtual std::string GetWindowText() const;
  int GetWindowTextLength() const { return static_cast<int>(GetWindowText().size()); }

  // Style.
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  bool ModifyStyle(DWORD remove, DWORD add);
  virtual void SetStyle(DWORD style);
  void SetExStyle(DWORD exStyle);
  bool ShowWindow(int command);  // returns whether it was visible before
  bool IsWindowVisible() const;  // shown, and every parent shown
  bool IsShown() const { return (GetStyle() & WS_VISIBLE) != 0; }
  bool EnableWindow(bool enable = true);  // returns whether it was disabled before
  bool IsWindowEnabled() const { return (GetStyle() & WS_DISABLED) == 0; }

  // Geometry.
  void MoveWindow(const Rect& rect, bool repaint = true);
  void MoveWindow(int x, int y, int cx, int cy, bool repaint = true) { MoveWindow(Rect{x, y, x + cx, y + cy}, repaint); }
  bool SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
  Rect GetWindowRect() const;  // screen coordinates
  void GetWindowRect(Rect* rect) const { *rect = GetWindowRect(); }
  Rect GetClientRect() const;  // (0, 0, client width, client height)
  void GetClientRect(Rect* rect) const { *rect = GetClientRect(); }
  Rect GetRectInParent() const;
  Point ClientToScreen(Point p) const;
  Point ScreenToClient(Point p) const;
  void ClientToScreen(Rect* rect) const;
  void ScreenToClient(Rect* rect) const;
  // The view reports the real size of the client area (non-client parts such as a caption, a
  // menu bar or borders take the rest of the window rectangle).
  void SetNonClientMargins(const Rect& margins);

  // Font.
  virtual void SetFont(const Font& font, bool redraw = true);
  Font GetFont() const;

  // Focus (user-interface thread).
  Window* SetFocus();
  static Window* GetFocus();
  bool HasFocus() const;

  // Messages. PostMessage works from any thread; a message posted to a window that is destroyed
  // before the pump reaches it is dropped. SendMessage runs the message now and belongs to the
  // user-interface thread; from another thread it is posted instead and returns 0. The global
  // ::PostMessage and ::SendMessage take a handle instead.
  bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // Timers: WM_TIMER reaches OnTimer on the user-interface thread every elapse milliseconds.
  UINT SetTimer(UINT id, UINT elapseMs);
  bool KillTimer(UINT id);

  // Commands (menu items, buttons: WM_COMMAND) and their update rules.
  void MapCommand(UINT id, std::function<void()> handler, UINT code = BN_CLICKED);
  void MapUpdate(UINT id, std::function<void(CmdUI&)> rule);
  bool HasCommand(UINT id, UINT code = BN_CLICKED) const;

  // Called before a posted message is handled, for the target window and then each of its
  // parents; true means the message was taken and goes no further.
  virtual bool PreTranslateMessage(const WindowMessage& message);
  // Handles one message: routes the framework's messages to the On... handlers below.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // The owner's update rule for one menu item; the default applies the rule given to MapUpdate.
  virtual void OnUpdateCmdUI(CmdUI& cmd);
  // A notification from a child list control (NM_CLICK, LVN_ITEMCHANGED, ...). true = handled.
  virtual bool OnNotify(int controlId, int code, const ListNotify& notify, LRESULT* result);

  // Toolkit side.
  WindowView* GetView() const { return m_view.get(); }
  void SetView(std::unique_ptr<WindowView> view);
  // Takes the change bits gathered for the view since the last call.
  unsigned TakeChanges() { return m_changes.exchange(0, std::memory_order_acq_rel); }
  // Focus and geometry as the toolkit saw them change (no view update follows).
  void SetFocusFromView();
  void SetRectFromView(const Rect& rectInParent);

 protected:
  bool CreateKind(WindowKind kind, const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id);
  virtual void OnCreated() {}
  // Tells the view that something changed; safe from any thread, gathered until the view syncs.
  void Changed(unsigned bits);
  // The window's own lock for its state; kind-specific state may share it.
  std::mutex& StateLock() const { return m_lock; }
  // Posts or sends a command notification (WM_COMMAND) from this control to its parent.
  void NotifyParentCommand(UINT code);

  virtual bool OnCommand(UINT id, UINT code, HWND control);
  virtual void OnTimer(UINT id);
  virtual void OnClose();
  virtual void OnDestroy() {}
  virtual void OnSize(UINT type, int cx, int cy);
  virtual void OnSetFocus(Window* oldWindow);
  virtual void OnKillFocus(Window* newWindow);
  virtual void OnContextMenu(Window* window, Point screenPoint);
  virtual bool OnHelpInfo();

 private:
  void DetachFromParent();
  static void RouteFocus(Window* from, Window* to);

  mutable std::mutex m_lock;  // text, style, rectangles, font, children
  std::atomic<HWND> m_hwnd{kNoWindow};
  WindowKind m_kind = WindowKind::Generic;
  UINT m_id = 0;
  Window* m_parent = nullptr;
  Window* m_owner = nullptr;
  std::vector<Window*> m_children;
  std::vector<std::unique_ptr<Window>> m_adopted;
  std::string m_text;
  std::atomic<DWORD> m_style{0};  // written under m_lock; read without it (per inserted row)
  DWORD m_exStyle = 0;
  Rect m_rect;           // in the parent's client coordinates, or the screen's
  Rect m_nonClient;      // margins of the non-client area: left, top, right, bottom
  Font m_font;
  std::unique_ptr<WindowView> m_view;
  std::atomic<bool> m_hasView{false};
  std::atomic<unsigned> m_changes{0};
  std::map<std::pair<UINT, UINT>, std::function<void()>> m_commands;
  std::map<UINT, std::function<void(CmdUI&)>> m_updates;
};

// The same by handle, from any thread: a handle whose window has gone posts nothing.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

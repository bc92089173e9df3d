#include "ui/Window.h"

#include <algorithm>
#include <unordered_map>

#include "ui/ListNotify.h"
#include "ui/UiPump.h"

namespace {

// Every window handle of the process. Handles count up and are never reused.
struct HandleTable {
  std::mutex lock;
  std::unordered_map<HWND, Window*> windows;
  HWND next = 0x10000;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

std::atomic<HWND> g_focus{kNoWindow};

}  // namespace

Window::Window() = default;

Window::~Window() {
  DestroyWindow();
  DetachFromParent();
}

Window* Window::FromHandle(HWND hwnd) {
  if (hwnd == kNoWindow) return nullptr;
  HandleTable& table = Handles();
  std::lock_guard<std::mutex> lock(table.lock);
  auto it = table.windows.find(hwnd);
  return it == table.windows.end() ? nullptr : it->second;
}

bool Window::IsWindow(HWND hwnd) { return FromHandle(hwnd) != nullptr; }

bool Window::Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::Generic, text, style, rect, parent, id);
}

bool Window::CreateKind(WindowKind kind, const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id) {
  if (IsCreated()) return false;
  if (parent != nullptr && !parent->IsCreated()) return false;
  HWND hwnd;
  {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.lock);
    hwnd = table.next++;
    table.windows[hwnd] = this;
  }
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_kind = kind;
    m_text = text;
    m_style = style | (parent != nullptr ? WS_CHILD : 0);
    m_rect = rect;
    m_id = id;
  }
  m_parent = parent;
  if (parent != nullptr) {
    std::lock_guard<std::mutex> lock(parent->m_lock);
    parent->m_children.push_back(this);
  }
  m_hwnd.store(hwnd, std::memory_order_release);
  OnCreated();
  if (WindowRenderer* renderer = UiPump::Instance().Renderer()) renderer->WindowCreated(*this);
  return true;
}

bool Window::DestroyWindow() {
  const HWND hwnd = GetSafeHwnd();
  if (hwnd == kNoWindow) return false;
  HWND expected = hwnd;
  g_focus.compare_exchange_strong(expected, kNoWindow);
  SendMessage(WM_DESTROY);
  for (Window* child : Children()) child->DestroyWindow();
  std::vector<std::unique_ptr<Window>> adopted;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    adopted.swap(m_adopted);
  }
  adopted.clear();
  UiPump::Instance().KillTimers(hwnd);
  if (WindowRenderer* renderer = UiPump::Instance().Renderer()) renderer->WindowDestroyed(*this);
  m_hasView.store(false);
  m_view.reset();
  {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.lock);
    table.windows.erase(hwnd);
  }
  m_hwnd.store(kNoWindow, std::memory_order_release);
  DetachFromParent();
  return true;
}

void Window::DetachFromParent() {
  if (m_parent == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(m_parent->m_lock);
    auto& siblings = m_parent->m_children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  m_parent = nullptr;
}

Window* Window::GetTopLevelParent() {
  Window* window = this;
  while (window->m_parent != nullptr) window = window->m_parent;
  return window;
}

Window* Window::GetDlgItem(int id) const {
  std::lock_guard<std::mutex> lock(m_lock);
  for (Window* child : m_children) {
    if (static_cast<int>(child->m_id) == id) return child;
  }
  return nullptr;
}

std::vector<Window*> Window::Children() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_children;
}

Window* Window::Adopt(std::unique_ptr<Window> child) {
  Window* raw = child.get();
  std::lock_guard<std::mutex> lock(m_lock);
  m_adopted.push_back(std::move(child));
  return raw;
}

void Window::SetWindowText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_text == text) return;
    m_text = text;
  }
  Changed(kChangeText);
}

std::string Window::GetWindowText() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_text;
}

DWORD Window::GetStyle() const { return m_style.load(std::memory_order_acquire); }

DWORD Window::GetExStyle() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_exStyle;
}

void Window::SetStyle(DWORD style) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_style == style) return;
    m_style = style;
  }
  Changed(kChangeStyle);
}

bool Window::ModifyStyle(DWORD remove, DWORD add) {
  const DWORD before = GetStyle();
  const DWORD after = (before & ~remove) | add;
  SetStyle(after);
  return before != after;
}

void Window::SetExStyle(DWORD exStyle) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_exStyle == exStyle) return;
    m_exStyle = exStyle;
  }
  Changed(kChangeStyle);
}

bool Window::ShowWindow(int command) {
  const bool wasVisible = IsShown();
  if (command == SW_HIDE) {
    ModifyStyle(WS_VISIBLE, 0);
  } else {
    ModifyStyle(0, WS_VISIBLE);
  }
  return wasVisible;
}

bool Window::IsWindowVisible() const {
  for (const Window* window = this; window != nullptr; window = window->m_parent) {
    if (!window->IsShown()) return false;
  }
  return IsCreated();
}

bool Window::EnableWindow(bool enable) {
  const bool wasDisabled = !IsWindowEnabled();
  ModifyStyle(enable ? WS_DISABLED : 0, enable ? 0 : WS_DISABLED);
  return wasDisabled;
}

void Window::MoveWindow(const Rect& rect, bool) {
  Size before;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_rect == rect) return;
    before = Size{m_rect.Width(), m_rect.Height()};
    m_rect = rect;
  }
  Changed(kChangeRect);
  if (before != Size{rect.Width(), rect.Height()} && UiPump::Instance().IsUiThread() && IsCreated()) {
    const Rect client = GetClientRect();
    SendMessage(WM_SIZE, 0, MAKELPARAM(client.Width(), client.Height()));
  }
}

bool Window::SetWindowPos(HWND, int x, int y, int cx, int cy, UINT flags) {
  if (!IsCreated()) return false;
  Rect rect = GetRectInParent();
  if ((flags & SWP_NOMOVE) == 0) rect = Rect{x, y, x + rect.Width(), y + rect.Height()};
  if ((flags & SWP_NOSIZE) == 0) rect = Rect{rect.left, rect.top, rect.left + cx, rect.top + cy};
  MoveWindow(rect);
  if (flags & SWP_SHOWWINDOW) ShowWindow(SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(SW_HIDE);
  return true;
}

Rect Window::GetRectInParent() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_rect;
}

Rect Window::GetWindowRect() const {
  Rect rect = GetRectInParent();
  if (m_parent != nullptr) {
    const Point origin = m_parent->ClientToScreen(Point{0, 0});
    rect.OffsetRect(origin.x, origin.y);
  }
  return rect;
}

Rect Window::GetClientRect() const {
  std::lock_guard<std::mutex> lock(m_lock);
  const int cx = m_rect.Width() - m_nonClient.left - m_nonClient.right;
  const int cy = m_rect.Height() - m_nonClient.top - m_nonClient.bottom;
  return Rect{0, 0, std::max(cx, 0), std::max(cy, 0)};
}

void Window::SetNonClientMargins(const Rect& margins) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_nonClient = margins;
}

Point Window::ClientToScreen(Point p) const {
  const Rect window = GetWindowRect();
  Rect margins;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    margins = m_nonClient;
  }
  return Point{p.x + window.left + margins.left, p.y + window.top + margins.top};
}

Point Window::ScreenToClient(Point p) const {
  const Point origin = ClientToScreen(Point{0, 0});
  return Point{p.x - origin.x, p.y - origin.y};
}

void Window::ClientToScreen(Rect* rect) const {
  const Point origin = ClientToScreen(Point{0, 0});
  rect->OffsetRect(origin.x, origin.y);
}

void Window::ScreenToClient(Rect* rect) const {
  const Point origin = ClientToScreen(Point{0, 0});
  rect->OffsetRect(-origin.x, -origin.y);
}

void Window::SetFont(const Font& font, bool) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_font == font) return;
    m_font = font;
  }
  Changed(kChangeFont);
}

Font Window::GetFont() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_font;
}

void Window::RouteFocus(Window* from, Window* to) {
  const HWND fromHandle = from != nullptr ? from->GetSafeHwnd() : kNoWindow;
  const HWND toHandle = to != nullptr ? to->GetSafeHwnd() : kNoWindow;
  g_focus.store(toHandle);
  if (from != nullptr) from->SendMessage(WM_KILLFOCUS, toHandle);
  // The kill-focus handler may have destroyed the window that gains the focus.
  if (to != nullptr && IsWindow(toHandle)) to->SendMessage(WM_SETFOCUS, fromHandle);
}

Window* Window::SetFocus() {
  Window* previous = GetFocus();
  if (!IsCreated() || previous == this) return previous;
  RouteFocus(previous, this);
  if (m_view) m_view->Focus();
  return previous;
}

void Window::SetFocusFromView() {
  Window* previous = GetFocus();
  if (!IsCreated() || previous == this) return;
  RouteFocus(previous, this);
}

Window* Window::GetFocus() { return FromHandle(g_focus.load()); }

bool Window::HasFocus() const { return IsCreated() && g_focus.load() == GetSafeHwnd(); }

void Window::SetRectFromView(const Rect& rectInParent) {
  Size before;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_rect == rectInParent) return;
    before = Size{m_rect.Width(), m_rect.Height()};
    m_rect = rectInParent;
  }
  if (before != Size{rectInParent.Width(), rectInParent.Height()}) {
    const Rect client = GetClientRect();
    SendMessage(WM_SIZE, 0, MAKELPARAM(client.Width(), client.Height()));
  }
}

bool Window::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::PostMessage(GetSafeHwnd(), message, wParam, lParam);
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!Window::IsWindow(hwnd)) return false;
  return UiPump::Instance().Post(WindowMessage{hwnd, message, wParam, lParam});
}

LRESULT Window::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsCreated()) return 0;
  if (!UiPump::Instance().IsUiThread()) {
    PostMessage(message, wParam, lParam);
    return 0;
  }
  return WindowProc(message, wParam, lParam);
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!UiPump::Instance().IsUiThread()) {
    PostMessage(hwnd, message, wParam, lParam);
    return 0;
  }
  Window* window = Window::FromHandle(hwnd);
  return window != nullptr ? window->WindowProc(message, wParam, lParam) : 0;
}

void Window::Dispatch(const WindowMessage& message) {
  Window* target = FromHandle(message.hwnd);
  if (target == nullptr) return;  // destroyed since it was posted
  std::vector<HWND> chain;
  for (Window* window = target; window != nullptr; window = window->m_parent) chain.push_back(window->GetSafeHwnd());
  for (HWND hwnd : chain) {
    Window* window = FromHandle(hwnd);
    if (window != nullptr && window->PreTranslateMessage(message)) return;
  }
  target = FromHandle(message.hwnd);
  if (target != nullptr) target->WindowProc(message.message, message.wParam, message.lParam);
}

UINT Window::SetTimer(UINT id, UINT elapseMs) {
  if (!IsCreated()) return 0;
  UiPump::Instance().SetTimer(GetSafeHwnd(), id, elapseMs);
  return id;
}

bool Window::KillTimer(UINT id) { return UiPump::Instance().KillTimer(GetSafeHwnd(), id); }

void Window::MapCommand(UINT id, std::function<void()> handler, UINT code) { m_commands[{id, code}] = std::move(handler); }

void Window::MapUpdate(UINT id, std::function<void(CmdUI&)> rule) { m_updates[id] = std::move(rule); }

bool Window::HasCommand(UINT id, UINT code) const { return m_commands.count({id, code}) > 0; }

bool Window::PreTranslateMessage(const WindowMessage&) { return false; }

LRESULT Window::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(static_cast<UINT>(LOWORD(wParam)), static_cast<UINT>(HIWORD(wParam)), static_cast<HWND>(lParam));
      return 0;
    case WM_TIMER:
      OnTimer(static_cast<UINT>(wParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(static_cast<std::uintptr_t>(lParam)), HIWORD(static_cast<std::uintptr_t>(lParam)));
      return 0;
    case WM_SETFOCUS:
      OnSetFocus(FromHandle(static_cast<HWND>(wParam)));
      return 0;
    case WM_KILLFOCUS:
      OnKillFocus(FromHandle(static_cast<HWND>(wParam)));
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(FromHandle(static_cast<HWND>(wParam)), Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_HELP:
      return OnHelpInfo() ? 1 : 0;
    default:
      return DefWindowProc(message, wParam, lParam);
  }
}

LRESULT Window::DefWindowProc(UINT, WPARAM, LPARAM) { return 0; }

void Window::OnUpdateCmdUI(CmdUI& cmd) {
  auto it = m_updates.find(cmd.m_nID);
  if (it != m_updates.end()) it->second(cmd);
}

bool Window::OnNotify(int, int, const ListNotify&, LRESULT*) { return false; }

bool Window::OnCommand(UINT id, UINT code, HWND) {
  auto it = m_commands.find({id, code});
  if (it == m_commands.end()) return false;
  auto handler = it->second;  // the handler may remap its own command
  handler();
  return true;
}

void Window::OnTimer(UINT) {}

void Window::OnClose() { DestroyWindow(); }

void Window::OnSize(UINT, int, int) {}

void Window::OnSetFocus(Window*) {}

void Window::OnKillFocus(Window*) {}

void Window::OnContextMenu(Window*, Point) {}

bool Window::OnHelpInfo() { return m_parent != nullptr && m_parent->OnHelpInfo(); }

void Window::NotifyParentCommand(UINT code) {
  Window* parent = GetParent();
  if (parent == nullptr || !IsCreated()) return;
  const WPARAM wParam = (static_cast<WPARAM>(code & 0xFFFF) << 16) | (m_id & 0xFFFF);
  if (UiPump::Instance().IsUiThread()) {
    parent->SendMessage(WM_COMMAND, wParam, static_cast<LPARAM>(GetSafeHwnd()));
  } else {
    parent->PostMessage(WM_COMMAND, wParam, static_cast<LPARAM>(GetSafeHwnd()));
  }
}

void Window::SetView(std::unique_ptr<WindowView> view) {
  m_view = std::move(view);
  m_hasView.store(m_view != nullptr);
  if (m_view) m_changes.store(0);
}

void Window::Changed(unsigned bits) {
  if (!m_hasView.load(std::memory_order_acquire)) return;
  if (m_changes.fetch_or(bits, std::memory_order_acq_rel) == 0) UiPump::Instance().MarkDirty(GetSafeHwnd());
}

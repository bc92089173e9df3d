#include "ui/FrameWindow.h"

FrameWindow::~FrameWindow() { DestroyWindow(); }

bool FrameWindow::Create(const std::string& title, const Rect& rect) {
  return CreateKind(WindowKind::Frame, title, 0, rect, nullptr, 0);
}

void FrameWindow::SetMenu(std::unique_ptr<Menu> menu) {
  m_menu = std::move(menu);
  Changed(kChangeMenu);
}

bool FrameWindow::TranslateAccelerator(UINT key, std::uint8_t modifiers) {
  for (const Accelerator& entry : m_accelerators) {
    if (entry.key != key || entry.modifiers != modifiers) continue;
    SendMessage(WM_COMMAND, entry.command, 0);
    return true;
  }
  return false;
}

void FrameWindow::SetIcon(const IconImage& icon) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_icon = icon;
  }
  Changed(kChangeIcon);
}

IconImage FrameWindow::GetIcon() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_icon;
}

StatusBar* FrameWindow::CreateStatusBar(const std::vector<UINT>& indicators) {
  auto bar = std::make_unique<StatusBar>();
  if (!bar->Create(this)) return nullptr;
  bar->SetIndicators(indicators);
  m_statusBar = std::move(bar);
  PlaceStatusBar();
  return m_statusBar.get();
}

void FrameWindow::SetMessageText(const std::string& text) {
  if (m_statusBar) m_statusBar->SetPaneText(0, text);
}

void FrameWindow::PlaceStatusBar() {
  if (!m_statusBar || !m_statusBar->IsCreated()) return;
  const Rect client = GetClientRect();
  const int height = m_statusBar->GetRectInParent().Height();
  m_statusBar->MoveWindow(Rect{0, client.bottom - height, client.right, client.bottom});
}

LRESULT FrameWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) PlaceStatusBar();
  return Window::WindowProc(message, wParam, lParam);
}

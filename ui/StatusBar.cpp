#include "ui/StatusBar.h"

bool StatusBar::Create(Window* parent, UINT id) {
  if (parent == nullptr) return false;
  const Rect client = parent->GetClientRect();
  return CreateKind(WindowKind::StatusBar, "", WS_CHILD | WS_VISIBLE,
                    Rect{0, client.bottom - kDefaultHeight, client.right, client.bottom}, parent, id);
}

bool StatusBar::SetIndicators(const std::vector<UINT>& ids) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_panes.clear();
    for (UINT id : ids) {
      std::string text;
      if (id == ID_INDICATOR_CAPS) text = "CAP";
      if (id == ID_INDICATOR_NUM) text = "NUM";
      if (id == ID_INDICATOR_SCRL) text = "SCRL";
      m_panes.push_back(Pane{id, text});
    }
    if (m_panes.empty()) m_panes.push_back(Pane{});
  }
  Changed(kChangeContent);
  return true;
}

int StatusBar::GetCount() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return static_cast<int>(m_panes.size());
}

UINT StatusBar::GetItemID(int index) const {
  std::lock_guard<std::mutex> lock(StateLock());
  return index >= 0 && index < static_cast<int>(m_panes.size()) ? m_panes[static_cast<std::size_t>(index)].id : 0;
}

bool StatusBar::SetPaneText(int index, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index < 0 || index >= static_cast<int>(m_panes.size())) return false;
    if (m_panes[static_cast<std::size_t>(index)].text == text) return true;
    m_panes[static_cast<std::size_t>(index)].text = text;
  }
  Changed(kChangeContent);
  return true;
}

std::string StatusBar::GetPaneText(int index) const {
  std::lock_guard<std::mutex> lock(StateLock());
  return index >= 0 && index < static_cast<int>(m_panes.size()) ? m_panes[static_cast<std::size_t>(index)].text : std::string();
}

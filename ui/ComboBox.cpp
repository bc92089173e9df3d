#include "ui/ComboBox.h"

#include <algorithm>

#include "ui/TextCompare.h"

bool ComboBox::Create(DWORD style, const Rect& rect, Window* parent, UINT id, int droppedHeight) {
  m_droppedHeight = droppedHeight;
  return CreateKind(WindowKind::ComboBox, "", style, rect, parent, id);
}

Rect ComboBox::GetDroppedControlRect() const {
  Rect rect = GetRectInParent();
  rect.bottom = rect.top + std::max(rect.Height(), m_droppedHeight);
  return rect;
}

int ComboBox::AddString(const std::string& text) { return InsertString(-1, text); }

int ComboBox::InsertString(int index, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index < 0 || index > static_cast<int>(m_entries.size())) index = static_cast<int>(m_entries.size());
    m_entries.insert(m_entries.begin() + index, text);
    if (m_curSel >= index) ++m_curSel;
  }
  Changed(kChangeContent);
  return index;
}

int ComboBox::DeleteString(int index) {
  int left;
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index < 0 || index >= static_cast<int>(m_entries.size())) return CB_ERR;
    m_entries.erase(m_entries.begin() + index);
    if (m_curSel == index) {
      m_curSel = -1;
    } else if (m_curSel > index) {
      --m_curSel;
    }
    left = static_cast<int>(m_entries.size());
  }
  Changed(kChangeContent);
  return left;
}

void ComboBox::ResetContent() {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_entries.clear();
    m_curSel = -1;
  }
  Changed(kChangeContent);
}

int ComboBox::GetCount() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return static_cast<int>(m_entries.size());
}

std::string ComboBox::GetLBText(int index) const {
  std::lock_guard<std::mutex> lock(StateLock());
  if (index < 0 || index >= static_cast<int>(m_entries.size())) return {};
  return m_entries[static_cast<std::size_t>(index)];
}

int ComboBox::GetCurSel() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_curSel;
}

int ComboBox::SetCurSel(int index) {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index >= static_cast<int>(m_entries.size())) return CB_ERR;
    m_curSel = index < 0 ? -1 : index;
    if (m_curSel >= 0) text = m_entries[static_cast<std::size_t>(m_curSel)];
  }
  if (index >= 0) SetWindowText(text);
  Changed(kChangeSelection);
  return index < 0 ? CB_ERR : index;
}

int ComboBox::FindStringExact(int startAfter, const std::string& text) const {
  std::lock_guard<std::mutex> lock(StateLock());
  const int count = static_cast<int>(m_entries.size());
  for (int step = 1; step <= count; ++step) {
    const int i = ((startAfter < 0 ? -1 : startAfter) + step) % count;
    if (EqualsNoCase(m_entries[static_cast<std::size_t>(i)], text)) return i;
  }
  return CB_ERR;
}

std::vector<std::string> ComboBox::Entries() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_entries;
}

bool ComboBox::SelectItem(int index) {
  if (!IsWindowVisible() || !IsWindowEnabled() || index < 0 || index >= GetCount()) return false;
  SetCurSel(index);
  NotifyParentCommand(CBN_SELCHANGE);
  return true;
}

bool ComboBox::TypeText(const std::string& text) {
  if (!IsWindowVisible() || !IsWindowEnabled()) return false;
  SetWindowText(text);
  NotifyParentCommand(CBN_EDITCHANGE);
  return true;
}

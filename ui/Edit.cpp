#include "ui/Edit.h"

#include <algorithm>
#include <cctype>

bool Edit::Create(DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::Edit, "", style, rect, parent, id);
}

void Edit::SetWindowText(const std::string& text) {
  if (GetWindowText() == text) return;
  Window::SetWindowText(text);
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_selStart = m_selEnd = static_cast<int>(text.size());
  }
  NotifyParentCommand(EN_CHANGE);
}

void Edit::SetLimitText(UINT limit) {
  std::lock_guard<std::mutex> lock(StateLock());
  m_limit = limit == 0 ? kDefaultLimit : limit;
  Changed(kChangeStyle);
}

UINT Edit::GetLimitText() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_limit;
}

void Edit::SetReadOnly(bool readOnly) { ModifyStyle(readOnly ? 0 : ES_READONLY, readOnly ? ES_READONLY : 0); }

void Edit::SetSel(int start, int end) {
  const int length = GetWindowTextLength();
  std::lock_guard<std::mutex> lock(StateLock());
  if (start < 0) {
    m_selStart = m_selEnd = length;
    return;
  }
  m_selStart = std::min(start, length);
  m_selEnd = end < 0 ? length : std::min(end, length);
  if (m_selEnd < m_selStart) std::swap(m_selStart, m_selEnd);
}

void Edit::GetSel(int* start, int* end) const {
  std::lock_guard<std::mutex> lock(StateLock());
  *start = m_selStart;
  *end = m_selEnd;
}

void Edit::ReplaceSel(const std::string& text) {
  std::string current = GetWindowText();
  int start, end;
  GetSel(&start, &end);
  start = std::min<int>(start, static_cast<int>(current.size()));
  end = std::min<int>(end, static_cast<int>(current.size()));
  current.replace(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start), text);
  SetWindowText(current);
  SetSel(start + static_cast<int>(text.size()), start + static_cast<int>(text.size()));
}

bool Edit::TypeText(const std::string& text, bool replaceAll) {
  if (IsReadOnly() || !IsWindowEnabled()) return false;
  std::string typed;
  bool all = true;
  for (char c : text) {
    if (IsNumbersOnly() && !std::isdigit(static_cast<unsigned char>(c))) {
      all = false;
      continue;
    }
    typed.push_back(c);
  }
  if (replaceAll) SetSel(0, -1);
  int start, end;
  GetSel(&start, &end);
  const std::size_t kept = GetWindowText().size() - static_cast<std::size_t>(end - start);
  const std::size_t room = GetLimitText() > kept ? GetLimitText() - kept : 0;
  if (typed.size() > room) {
    typed.resize(room);
    all = false;
  }
  ReplaceSel(typed);
  return all;
}

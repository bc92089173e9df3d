#include "ui/ListBox.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "ui/TextCompare.h"

bool ListBox::Create(DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::ListBox, "", style, rect, parent, id);
}

int ListBox::AddString(const std::string& text) {
  int index;
  const bool sorted = (GetStyle() & LBS_SORT) != 0;
  {
    std::lock_guard<std::mutex> lock(StateLock());
    index = static_cast<int>(m_lines.size());
    if (sorted) {
      auto at = std::upper_bound(m_lines.begin(), m_lines.end(), text,
                                 [](const std::string& t, const Line& line) { return CompareNoCase(t, line.text) < 0; });
      index = static_cast<int>(at - m_lines.begin());
    }
    m_lines.insert(m_lines.begin() + index, Line{text, 0});
    if (m_curSel >= index) ++m_curSel;
  }
  Changed(kChangeContent);
  return index;
}

int ListBox::InsertString(int index, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index < 0 || index > static_cast<int>(m_lines.size())) index = static_cast<int>(m_lines.size());
    m_lines.insert(m_lines.begin() + index, Line{text, 0});
    if (m_curSel >= index) ++m_curSel;
  }
  Changed(kChangeContent);
  return index;
}

int ListBox::DeleteString(int index) {
  int left;
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index < 0 || index >= static_cast<int>(m_lines.size())) return LB_ERR;
    m_lines.erase(m_lines.begin() + index);
    if (m_curSel == index) {
      m_curSel = -1;
    } else if (m_curSel > index) {
      --m_curSel;
    }
    left = static_cast<int>(m_lines.size());
  }
  Changed(kChangeContent);
  return left;
}

void ListBox::ResetContent() {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_lines.clear();
    m_curSel = -1;
  }
  Changed(kChangeContent);
}

int ListBox::GetCount() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return static_cast<int>(m_lines.size());
}

std::string ListBox::GetText(int index) const {
  std::lock_guard<std::mutex> lock(StateLock());
  if (index < 0 || index >= static_cast<int>(m_lines.size())) return {};
  return m_lines[static_cast<std::size_t>(index)].text;
}

int ListBox::GetText(int index, std::string& text) const {
  std::lock_guard<std::mutex> lock(StateLock());
  if (index < 0 || index >= static_cast<int>(m_lines.size())) return LB_ERR;
  text = m_lines[static_cast<std::size_t>(index)].text;
  return static_cast<int>(text.size());
}

int ListBox::GetTextLen(int index) const {
  std::string text;
  return GetText(index, text);
}

int ListBox::GetCurSel() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_curSel;
}

int ListBox::SetCurSel(int index) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (index >= static_cast<int>(m_lines.size())) return LB_ERR;
    m_curSel = index < 0 ? -1 : index;
  }
  Changed(kChangeSelection);
  return index < 0 ? LB_ERR : index;
}

bool ListBox::SetItemData(int index, DWORD_PTR data) {
  std::lock_guard<std::mutex> lock(StateLock());
  if (index < 0 || index >= static_cast<int>(m_lines.size())) return false;
  m_lines[static_cast<std::size_t>(index)].data = data;
  return true;
}

DWORD_PTR ListBox::GetItemData(int index) const {
  std::lock_guard<std::mutex> lock(StateLock());
  if (index < 0 || index >= static_cast<int>(m_lines.size())) return 0;
  return m_lines[static_cast<std::size_t>(index)].data;
}

int ListBox::Find(int startAfter, const std::string& text, bool prefix) const {
  std::lock_guard<std::mutex> lock(StateLock());
  const int count = static_cast<int>(m_lines.size());
  for (int step = 1; step <= count; ++step) {
    const int i = ((startAfter < 0 ? -1 : startAfter) + step) % count;
    const std::string& line = m_lines[static_cast<std::size_t>(i)].text;
    if (prefix ? StartsWithNoCase(line, text) : EqualsNoCase(line, text)) return i;
  }
  return LB_ERR;
}

int ListBox::FindString(int startAfter, const std::string& prefix) const { return Find(startAfter, prefix, true); }

int ListBox::FindStringExact(int startAfter, const std::string& text) const { return Find(startAfter, text, false); }

std::vector<std::string> ListBox::Lines() const {
  std::lock_guard<std::mutex> lock(StateLock());
  std::vector<std::string> lines;
  for (const Line& line : m_lines) lines.push_back(line.text);
  return lines;
}

std::string ListBox::Dir(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path = fs::absolute(folder.empty() ? fs::path(".") : fs::path(folder), error).lexically_normal();
  if (error || !fs::is_directory(path, error)) return {};
  std::vector<std::string> names;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_directory(error)) continue;
    std::string name(1, '[');
    name.append(it->path().filename().string()).push_back(']');
    names.push_back(std::move(name));
  }
  if (path.has_relative_path()) names.push_back("[..]");
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; });
  for (const std::string& name : names) InsertString(-1, name);
  std::string shown = path.string();
  if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  return shown;
}

bool ListBox::SelectItem(int index) {
  if (!IsWindowVisible() || !IsWindowEnabled() || index < 0 || index >= GetCount()) return false;
  SetCurSel(index);
  NotifyParentCommand(LBN_SELCHANGE);
  return true;
}

bool ListBox::DoubleClickItem(int index) {
  if (!SelectItem(index)) return false;
  NotifyParentCommand(LBN_DBLCLK);
  return true;
}

#include "ui/RichEdit.h"

#include <algorithm>


bool RichEdit::Create(DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::RichEdit, "", style, rect, parent, id);
}

void RichEdit::SetWindowText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_text = text;
    m_longestLine = 0;
    IndexLinesLocked(0);
    m_runs.clear();
    if (!m_text.empty()) m_runs.push_back(Run{0, static_cast<long>(m_text.size()), m_default});
    m_selStart = m_selEnd = 0;
    m_firstLine = 0;
  }
  Changed(kChangeContent | kChangeScroll);
}

std::string RichEdit::GetWindowText() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_text;
}

long RichEdit::GetTextLength() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return static_cast<long>(m_text.size());
}

void RichEdit::SetSel(long start, long end) {
  std::lock_guard<std::mutex> lock(StateLock());
  const long length = static_cast<long>(m_text.size());
  if (start < 0) {
    m_selStart = m_selEnd = length;
    return;
  }
  m_selStart = std::min(start, length);
  m_selEnd = end < 0 ? length : std::min(end, length);
  if (m_selEnd < m_selStart) std::swap(m_selStart, m_selEnd);
}

void RichEdit::GetSel(long* start, long* end) const {
  std::lock_guard<std::mutex> lock(StateLock());
  *start = m_selStart;
  *end = m_selEnd;
}

std::string RichEdit::GetSelText() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_text.substr(static_cast<std::size_t>(m_selStart), static_cast<std::size_t>(m_selEnd - m_selStart));
}

void RichEdit::ReplaceSel(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    const long length = static_cast<long>(m_text.size());
    const long start = std::min(m_selStart, length);
    const long end = std::min(m_selEnd, length);
    const long room = std::max(m_limit - (length - (end - start)), 0L);
    const std::string typed = text.substr(0, static_cast<std::size_t>(std::min<long>(room, static_cast<long>(text.size()))));
    const CharFormat format = m_hasInsertFormat && m_insertAt == start ? m_insertFormat : FormatAtLocked(start, end);
    m_hasInsertFormat = false;
    const long added = static_cast<long>(typed.size());
    const long removed = end - start;
    if (start == length) {
      // Appending: only the last run changes.
      if (added > 0) {
        if (!m_runs.empty() && m_runs.back().format.SameLook(format)) {
          m_runs.back().end += added;
        } else {
          m_runs.push_back(Run{start, start + added, format});
        }
      }
    } else {
      // Cut the runs out of [start, end), then open a gap for the new text.
      std::vector<Run> runs;
      for (Run run : m_runs) {
        if (run.end <= start) {
          runs.push_back(run);
        } else if (run.start >= end) {
          run.start += added - removed;
          run.end += added - removed;
          runs.push_back(run);
        } else {
          if (run.start < start) runs.push_back(Run{run.start, start, run.format});
          if (run.end > end) runs.push_back(Run{start + added, run.end + added - removed, run.format});
        }
      }
      if (added > 0) {
        auto at = std::find_if(runs.begin(), runs.end(), [start](const Run& run) { return run.start >= start; });
        runs.insert(at, Run{start, start + added, format});
      }
      m_runs = std::move(runs);
      NormaliseLocked();
    }
    m_text.replace(static_cast<std::size_t>(start), static_cast<std::size_t>(removed), typed);
    if (start == length) {
      IndexLinesLocked(start);
    } else {
      m_longestLine = 0;
      IndexLinesLocked(0);
    }
    m_selStart = m_selEnd = start + added;
  }
  Changed(kChangeContent);
}

std::size_t RichEdit::RunAtLocked(long position) const {
  const auto after = std::upper_bound(m_runs.begin(), m_runs.end(), position,
                                      [](long p, const Run& run) { return p < run.end; });
  if (after == m_runs.end()) return m_runs.empty() ? 0 : m_runs.size() - 1;
  return static_cast<std::size_t>(after - m_runs.begin());
}

// New text takes the format of the character before it, as typing does; at the very start, the
// format of the first run when part of it stays.
CharFormat RichEdit::FormatAtLocked(long start, long end) const {
  if (m_runs.empty()) return m_default;
  if (start > 0) return m_runs[RunAtLocked(start - 1)].format;
  return end < m_runs.front().end ? m_runs.front().format : m_default;
}

void RichEdit::NormaliseLocked() {
  std::vector<Run> runs;
  for (const Run& run : m_runs) {
    if (run.end <= run.start) continue;
    if (!runs.empty() && runs.back().end == run.start && runs.back().format.SameLook(run.format)) {
      runs.back().end = run.end;
    } else {
      runs.push_back(run);
    }
  }
  m_runs = std::move(runs);
}

void RichEdit::JoinRunsLocked(std::size_t from, std::size_t to) {
  to = std::min(to, m_runs.size() - 1);
  std::size_t kept = from;
  for (std::size_t i = from + 1; i <= to; ++i) {
    if (m_runs[kept].end == m_runs[i].start && m_runs[kept].format.SameLook(m_runs[i].format)) {
      m_runs[kept].end = m_runs[i].end;
    } else {
      m_runs[++kept] = m_runs[i];
    }
  }
  m_runs.erase(m_runs.begin() + static_cast<std::ptrdiff_t>(kept + 1), m_runs.begin() + static_cast<std::ptrdiff_t>(to + 1));
}

void RichEdit::SetFormatLocked(long start, long end, const CharFormat& format) {
  end = std::min(end, static_cast<long>(m_text.size()));
  if (start >= end || m_runs.empty()) return;
  // Only the runs that overlap [start, end) change; they are split at its ends.
  const std::size_t first = RunAtLocked(start);
  std::size_t last = first;
  while (last < m_runs.size() && m_runs[last].start < end) ++last;
  std::vector<Run> pieces;
  for (std::size_t i = first; i < last; ++i) {
    const Run& run = m_runs[i];
    const long a = std::max(run.start, start);
    const long b = std::min(run.end, end);
    if (run.start < a) pieces.push_back(Run{run.start, a, run.format});
    Run changed{a, b, run.format};
    changed.format.Merge(format);
    pieces.push_back(changed);
    if (b < run.end) pieces.push_back(Run{b, run.end, run.format});
  }
  m_runs.erase(m_runs.begin() + static_cast<std::ptrdiff_t>(first), m_runs.begin() + static_cast<std::ptrdiff_t>(last));
  m_runs.insert(m_runs.begin() + static_cast<std::ptrdiff_t>(first), pieces.begin(), pieces.end());
  JoinRunsLocked(first > 0 ? first - 1 : 0, first + pieces.size());
}

bool RichEdit::SetSelectionCharFormat(const CharFormat& format) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (m_selStart == m_selEnd) {
      CharFormat next = m_hasInsertFormat && m_insertAt == m_selStart ? m_insertFormat : FormatAtLocked(m_selStart, m_selEnd);
      next.Merge(format);
      m_insertFormat = next;
      m_insertAt = m_selStart;
      m_hasInsertFormat = true;
      return true;
    }
    SetFormatLocked(m_selStart, m_selEnd, format);
  }
  Changed(kChangeContent);
  return true;
}

CharFormat RichEdit::GetSelectionCharFormat() const {
  std::lock_guard<std::mutex> lock(StateLock());
  for (const Run& run : m_runs) {
    if (run.start <= m_selStart && m_selStart < run.end) return run.format;
  }
  return m_runs.empty() ? m_default : m_runs.back().format;
}

bool RichEdit::SetDefaultCharFormat(const CharFormat& format) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_default.Merge(format);
    SetFormatLocked(0, static_cast<long>(m_text.size()), format);
  }
  Changed(kChangeContent | kChangeFont);
  return true;
}

CharFormat RichEdit::GetDefaultCharFormat() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_default;
}

std::vector<RichEdit::Run> RichEdit::Runs() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_runs;
}

void RichEdit::LimitText(long limit) {
  std::lock_guard<std::mutex> lock(StateLock());
  m_limit = limit <= 0 ? kDefaultLimit : limit;
}

long RichEdit::GetLimitText() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_limit;
}

void RichEdit::LineScroll(int lines, int) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_firstLine = std::clamp(m_firstLine + lines, 0, static_cast<int>(m_lineStarts.size()) - 1);
  }
  Changed(kChangeScroll);
}

int RichEdit::GetFirstVisibleLine() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_firstLine;
}

int RichEdit::GetLineCount() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return static_cast<int>(m_lineStarts.size());
}

bool RichEdit::SetTargetDevice(LONG lineWidth) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    m_lineWidth = std::max<LONG>(lineWidth, 0);
  }
  Changed(kChangeStyle);
  return true;
}

LONG RichEdit::GetTargetLineWidth() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_lineWidth;
}

void RichEdit::IndexLinesLocked(long from) {
  m_lineStarts.erase(std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), from), m_lineStarts.end());
  const std::size_t firstLine = m_lineStarts.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(m_lineStarts.back()); i < m_text.size(); ++i)
    if (m_text[i] == '\n') m_lineStarts.push_back(static_cast<long>(i) + 1);
  const long length = static_cast<long>(m_text.size());
  for (std::size_t line = firstLine; line < m_lineStarts.size(); ++line) {
    const long end = line + 1 < m_lineStarts.size() ? m_lineStarts[line + 1] : length;
    m_longestLine = std::max(m_longestLine, end - m_lineStarts[line]);
  }
}

bool RichEdit::GetLine(int line, Line* out) const {
  std::lock_guard<std::mutex> lock(StateLock());
  if (line < 0 || line >= static_cast<int>(m_lineStarts.size())) return false;
  const long start = m_lineStarts[static_cast<std::size_t>(line)];
  long end = static_cast<std::size_t>(line) + 1 < m_lineStarts.size() ? m_lineStarts[static_cast<std::size_t>(line) + 1] - 1
                                                                        : static_cast<long>(m_text.size());
  if (end > start && m_text[static_cast<std::size_t>(end) - 1] == '\r' && end < static_cast<long>(m_text.size()))
    --end;  // a CR LF ends the line, a lone CR stays in it
  out->text.assign(m_text, static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
  out->runs.clear();
  if (m_runs.empty() || end <= start) return true;
  for (std::size_t i = RunAtLocked(start); i < m_runs.size() && m_runs[i].start < end; ++i) {
    const Run& run = m_runs[i];
    out->runs.push_back(Run{std::max(run.start, start) - start, std::min(run.end, end) - start, run.format});
  }
  return true;
}

long RichEdit::GetLongestLine() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_longestLine;
}

void RichEdit::SetFirstVisibleLineFromView(int line) {
  std::lock_guard<std::mutex> lock(StateLock());
  m_firstLine = std::clamp(line, 0, static_cast<int>(m_lineStarts.size()) - 1);
}

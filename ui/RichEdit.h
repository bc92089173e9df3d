#pragma once
#include <string>
#include <vector>

#include "ui/CharFormat.h"
#include "ui/Window.h"

// A rich-text pane: text with runs of character format (colour or automatic colour, underline,
// bold, height). Positions count the characters (bytes) of the text exactly as given, line
// breaks included ("\r\n" is two), so that offsets computed from the texts appended stay right.
// Read-only panes (ES_READONLY) refuse the user's typing only. Wrapping follows a target line
// width in twips; kNoWrapWidth or more does not wrap.
//
// Appending at the end, formatting a range near the end and counting lines cost what the change
// touches, not the length of the text, so a pane that a feed appends to thousands of times a
// second stays cheap however long it grows (up to its limit).
class RichEdit : public Window {
 public:
  static constexpr LONG kNoWrapWidth = 9999999;  // twips
  static constexpr LONG kDefaultLimit = 32767;   // characters

  struct Run {
    long start = 0;
    long end = 0;  // exclusive
    CharFormat format;
  };

  bool Create(DWORD style, const Rect& rect, Window* parent, UINT id);

  void SetWindowText(const std::string& text) override;
  std::string GetWindowText() const override;
  long GetTextLength() const;

  // Selection, in characters; (0, -1) selects all, (-1, -1) is the end of the text.
  void SetSel(long start, long end);
  void GetSel(long* start, long* end) const;
  std::string GetSelText() const;
  // Replaces the selection with text in the format at its start (the default format in an empty
  // pane); the text is cut at the limit.
  void ReplaceSel(const std::string& text);
  void AppendText(const std::string& text) {
    SetSel(-1, -1);
    ReplaceSel(text);
  }

  // With an empty selection, sets the format of the text inserted there next.
  bool SetSelectionCharFormat(const CharFormat& format);
  CharFormat GetSelectionCharFormat() const;  // the format at the selection's start
  bool SetDefaultCharFormat(const CharFormat& format);
  CharFormat GetDefaultCharFormat() const;
  std::vector<Run> Runs() const;  // the text's runs, in order, covering it whole

  void LimitText(long limit = 0);  // 0 = the default limit
  long GetLimitText() const;
  void SetReadOnly(bool readOnly = true) { ModifyStyle(readOnly ? 0 : ES_READONLY, readOnly ? ES_READONLY : 0); }
  bool IsReadOnly() const { return (GetStyle() & ES_READONLY) != 0; }

  // Scrolls by lines (positive = down); the first visible line stays within the text.
  void LineScroll(int lines, int chars = 0);
  int GetFirstVisibleLine() const;
  int GetLineCount() const;
  // Target line width in twips for wrapping: 0 wraps at the window's width, kNoWrapWidth or more
  // turns wrapping off.
  bool SetTargetDevice(LONG lineWidth);
  LONG GetTargetLineWidth() const;
  bool IsWrapping() const { return GetTargetLineWidth() < kNoWrapWidth; }

  // Toolkit side. A view draws the lines it shows straight from here: a line's text without its
  // line break ("\r\n" or "\n") and the runs over it, in positions from the line's start (false
  // past the last line); the longest line's length, for the sideways scroll; and the user's own
  // scrolling, which moves the first visible line.
  struct Line {
    std::string text;
    std::vector<Run> runs;
  };
  bool GetLine(int line, Line* out) const;
  long GetLongestLine() const;
  void SetFirstVisibleLineFromView(int line);

 private:
  // The index of the run holding position (the last run for the end of the text).
  std::size_t RunAtLocked(long position) const;
  CharFormat FormatAtLocked(long start, long end) const;
  void SetFormatLocked(long start, long end, const CharFormat& format);
  void NormaliseLocked();
  // Joins neighbouring runs of the same look among runs [from, to].
  void JoinRunsLocked(std::size_t from, std::size_t to);
  // Line starts from position on (the last line's start), after a change there.
  void IndexLinesLocked(long from);

  std::string m_text;
  std::vector<Run> m_runs;  // in order, covering the text, none empty
  std::vector<long> m_lineStarts{0};  // where each line begins
  long m_longestLine = 0;              // characters, line break included
  CharFormat m_default;
  long m_selStart = 0;
  long m_selEnd = 0;
  long m_limit = kDefaultLimit;
  int m_firstLine = 0;
  LONG m_lineWidth = 0;
  // A format set on an empty selection applies to what is typed there next.
  bool m_hasInsertFormat = false;
  long m_insertAt = 0;
  CharFormat m_insertFormat;
};
